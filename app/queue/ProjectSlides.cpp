#include "app/queue/ProjectSlides.h"

#include "app/media/ProcessRunner.h"
#include "app/project/CProjectFile.h"
#include "app/project/KqLibrary.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modGlobal.h"
#include "platform/process/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <FreeImage.h>

namespace cf {

namespace {

// The page size link items are laid out at, and how long the renderer may wait for a page.
constexpr const char* kThumbLayout = " 800 600 ";
constexpr const char* kThumbWaitMs = " 2000";

// Folder paths as the renderer reads them: forward slashes, and "," for every blank.
QString RendererPath(QString path) {
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  path.replace(QLatin1Char(' '), QLatin1Char(','));
  return path;
}

}  // namespace

ProjectSlides::ProjectSlides(const QString& projectFolder, const CProjectFile& project,
                             const KqLibrary& library, int width, int height, StatusFunction status)
    : folder_(projectFolder),
      project_(project),
      library_(library),
      width_(width),
      height_(height),
      status_(std::move(status)),
      stallMs_(KqLibrary::kThumbStallMs) {}

bool ProjectSlides::Create() {
  const QString slides = JoinPath(folder_, QLatin1String(kSlidesFolder));
  const QString list = JoinPath(folder_, QLatin1String(kThumbList));
  const QString store = JoinPath(folder_, QLatin1String(kMediaStore));
  if (QFileInfo::exists(slides) && !DeleteFolder(slides)) return false;
  if (!DeleteFileForce(list)) return false;
  if (!WriteThumbList()) return false;

  // The maker only writes into a folder that exists when no position is listed; make sure link
  // items still have somewhere to go.
  QDir().mkpath(slides);
  if (!library_.ThumbCreate2(store, list, QLatin1String(kSlidesFolder), width_, height_)) {
    return false;
  }
  const bool finished = library_.WaitForThumbs(
      [this](int ms) {
        status_(QStringLiteral("Process media ...") + QString::number(ms / 1000.0) +
                QLatin1Char('s'));
      },
      stallMs_);
  if (!finished) return false;
  if (!RenameAndRender()) return false;
  if (!MakeCover(JoinPath(slides, QStringLiteral("1.jpg")),
                 JoinPath(slides, QLatin1String(kCoverName)))) {
    return false;
  }
  return DeleteFileForce(list);
}

bool ProjectSlides::WriteThumbList() const {
  QByteArray text;
  for (int i = 1; i <= project_.IndexCount(); ++i) {
    bool ok = false;
    const qint64 pos = project_.Item(i).pos.trimmed().toLongLong(&ok);
    if (ok && pos >= 0) text += QByteArray::number(pos) + "\r\n";
  }
  QFile file(JoinPath(folder_, QLatin1String(kThumbList)));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(text) == text.size() && file.flush();
}

QString ProjectSlides::ThumbCommand(int number, const QString& url) const {
  const QString folder = QString(folder_).replace(QLatin1Char('\\'), QLatin1Char('/'));
  // The renderer reads every "," back as a blank, so a real "," would name another file.
  if (folder.contains(QLatin1Char(',')) || url.contains(QLatin1Char(',')) ||
      !CommandLine::UnpassableReason(folder + QLatin1Char('/') + url).isEmpty()) {
    return {};
  }
  const QString source = RendererPath(folder + QLatin1Char('/') + url);
  const QString target = RendererPath(folder) + QStringLiteral("/slides/") +
                         QString::number(number) + QStringLiteral(".jpg");
  return QStringLiteral("thumb ") + CommandLine::Quote(source, CommandLine::Wrap::WhenNeeded) +
         QLatin1Char(' ') + CommandLine::Quote(target, CommandLine::Wrap::WhenNeeded) +
         QLatin1String(kThumbLayout) + QString::number(width_) + QLatin1Char(' ') +
         QString::number(height_) + QLatin1String(kThumbWaitMs);
}

bool ProjectSlides::RenameAndRender() {
  const QDir slides(JoinPath(folder_, QLatin1String(kSlidesFolder)));
  for (int i = 1; i <= project_.IndexCount(); ++i) {
    const CIndexItem& item = project_.Item(i);
    const QString creating = QStringLiteral("Creating slides ... ") + QString::number(i);
    if (item.isLinkItem()) {
      status_(creating);
      // A Url that leaves the project folder must not make the renderer read outside it.
      QString resolved;
      if (!CProjectFile::ResolveProjectPath(folder_, item.Url, &resolved)) continue;
      const QString command = ThumbCommand(i, item.Url);
      if (!command.isEmpty()) RunHidden(command);
      continue;
    }
    const QString picture = slides.filePath(item.pos.trimmed() + QStringLiteral(".jpg"));
    const QString numbered = slides.filePath(QString::number(i) + QStringLiteral(".jpg"));
    // Two entries may share a position: the later ones get a copy, the file moves with the last.
    if (QFileInfo::exists(picture) && picture != numbered) {
      bool later = false;
      for (int j = i + 1; j <= project_.IndexCount() && !later; ++j) {
        later = project_.Item(j).pos.trimmed() == item.pos.trimmed();
      }
      DeleteFileForce(numbered);
      const bool done = later ? QFile::copy(picture, numbered) : QFile::rename(picture, numbered);
      if (!done) return false;
    }
    status_(creating);
  }
  return true;
}

bool ProjectSlides::MakeCover(const QString& source, const QString& target) {
  const QByteArray in = QFile::encodeName(source);
  const QByteArray out = QFile::encodeName(target);
  FIBITMAP* picture = FreeImage_Load(FIF_JPEG, in.constData(), JPEG_DEFAULT);
  if (picture == nullptr) return false;
  FIBITMAP* scaled = FreeImage_Rescale(picture, kCoverWidth, kCoverHeight, FILTER_BICUBIC);
  FreeImage_Unload(picture);
  if (scaled == nullptr) return false;
  FIBITMAP* colour = FreeImage_ConvertTo24Bits(scaled);
  FreeImage_Unload(scaled);
  if (colour == nullptr) return false;
  const bool saved = FreeImage_Save(FIF_JPEG, colour, out.constData(), JPEG_DEFAULT) != 0;
  FreeImage_Unload(colour);
  return saved && QFileInfo::exists(target);
}

}  // namespace cf
