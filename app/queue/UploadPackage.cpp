#include "app/queue/UploadPackage.h"

#include "app/media/ProcessRunner.h"
#include "app/services/ProgramFolder.h"
#include "app/services/XmlFile.h"
#include "app/services/modConfig.h"
#include "app/services/modGlobal.h"
#include "platform/process/CommandLine.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <pugixml.hpp>

namespace cf {

namespace {

// A profile this small cannot hold the elements the writers need; it is replaced by the template.
constexpr qint64 kSmallestProfile = 10;
constexpr int kDeleteRetryMs = 500;

QByteArray ReadAll(const QString& path, bool* ok) {
  QFile file(path);
  *ok = file.open(QIODevice::ReadOnly);
  return *ok ? file.readAll() : QByteArray();
}

void WaitMs(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void SetError(QString* error, const QString& text) {
  if (error != nullptr) *error = text;
}

}  // namespace

namespace {

// Loads the work folder's profile, starting from the program folder's template when the folder's
// copy is missing or too small to be one. False unless `type` and `metadata` are there.
bool OpenProfile(const QString& path, pugi::xml_document* doc, QString* error) {
  if (GetFileSize(path) < kSmallestProfile) {
    DeleteFileForce(path);
    if (!CopyFileForce(JoinPath(ProgramFolder(), QString::fromLatin1(kProjectProfileName)), path)) {
      SetError(error, QStringLiteral("The template mavo_profile.xml is missing."));
      return false;
    }
  }
  if (!LoadXmlFile(path, doc)) {
    SetError(error, QStringLiteral("mavo_profile.xml is not a readable XML file."));
    return false;
  }
  const pugi::xml_node root = doc->document_element();
  if (!root.child("type") || !root.child("metadata")) {
    SetError(error, QStringLiteral("mavo_profile.xml lacks the type or metadata element."));
    return false;
  }
  return true;
}

}  // namespace

bool UploadPackage::WriteMetadataProfile(const QString& workFolder, const UploadJob& job,
                                         bool sendSource, QString* error) {
  const QString path = JoinPath(workFolder, QString::fromLatin1(kProjectProfileName));
  pugi::xml_document doc;
  if (!OpenProfile(path, &doc, error)) return false;
  const pugi::xml_node root = doc.document_element();
  const pugi::xml_node metadata = root.child("metadata");
  if (job.dstCvtType == 1) {
    SetChildText(root, QStringLiteral("type"), QStringLiteral("Source"));
  } else if (job.dstCvtType == 2) {
    SetChildText(root, QStringLiteral("type"), QStringLiteral("Mp4"));
  }
  SetChildText(metadata, QStringLiteral("title"), job.title);
  SetChildText(metadata, QStringLiteral("author"), job.Author);
  SetChildText(metadata, QStringLiteral("width"), QString::number(job.videoWidth));
  SetChildText(metadata, QStringLiteral("height"), QString::number(job.videoHeight));
  if (job.dstCvtType == 1 || sendSource) {
    const int dot = job.fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : job.fileName.mid(dot);
    SetChildText(metadata, QStringLiteral("srcname"), QStringLiteral("src") + extension);
    SetChildText(metadata, QStringLiteral("srcsize"), QString::number(GetFileSize(job.path)));
    SetChildText(metadata, QStringLiteral("srcwidth"), QString::number(job.srcVideoWidth));
    SetChildText(metadata, QStringLiteral("srcheight"), QString::number(job.srcVideoHeight));
  }
  if (!SaveXmlWithLineBreaks(doc, path)) {
    SetError(error, QStringLiteral("mavo_profile.xml could not be saved."));
    return false;
  }
  return true;
}

bool UploadPackage::WriteProjectMetadataProfile(const QString& workFolder,
                                                const ProjectMetadata& project, QString* error) {
  const QString path = JoinPath(workFolder, QString::fromLatin1(kProjectProfileName));
  pugi::xml_document doc;
  if (!OpenProfile(path, &doc, error)) return false;
  const pugi::xml_node root = doc.document_element();
  const pugi::xml_node metadata = root.child("metadata");
  SetChildText(root, QStringLiteral("type"), QLatin1String(kKindProject));
  SetChildText(metadata, QStringLiteral("title"), project.title);
  SetChildText(metadata, QStringLiteral("author"), project.author);
  SetChildText(metadata, QStringLiteral("keywords"), project.keywords);
  SetChildText(metadata, QStringLiteral("abstract"), project.comments);
  const QString presentation = PresentationFile(workFolder);
  SetChildText(metadata, QStringLiteral("project"),
               presentation.isEmpty() ? QFileInfo(workFolder).fileName()
                                      : QFileInfo(presentation).fileName());
  if (!SaveXmlWithLineBreaks(doc, path)) {
    SetError(error, QStringLiteral("mavo_profile.xml could not be saved."));
    return false;
  }
  return true;
}

QString UploadPackage::PresentationFile(const QString& workFolder) {
  const QFileInfo folder(QDir::cleanPath(workFolder));
  const QString ppt = JoinPath(folder.absolutePath(), folder.fileName() + QStringLiteral(".ppt"));
  if (QFileInfo(ppt).isFile()) return ppt;
  const QString pptx = ppt + QLatin1Char('x');
  if (QFileInfo(pptx).isFile()) return pptx;
  return {};
}

bool UploadPackage::WriteFlvDescription(const QString& xmlPath, int width, int height) {
  bool ok = false;
  const QByteArray text = ReadAll(xmlPath, &ok);
  pugi::xml_document doc;
  if (!ok || !LoadXmlText(text, &doc)) return false;
  const pugi::xml_node flv = doc.document_element().child("flv");
  if (!flv) return false;
  pugi::xml_attribute first = flv.first_attribute();
  if (first) first.set_value("");
  SetChildText(flv, QStringLiteral("height"), QString::number(height));
  SetChildText(flv, QStringLiteral("width"), QString::number(width));
  return WriteFileAtomically(xmlPath, XmlText(doc));
}

double UploadPackage::DurationSeconds(const QString& duration) {
  double seconds = 0;
  for (const QString& field : duration.split(QLatin1Char(':'))) {
    seconds = seconds * 60 + field.trimmed().toDouble();
  }
  return seconds;
}

bool UploadPackage::WriteMp4Description(const QString& xmlPath, const QString& keyframeListPath,
                                        const QString& duration, int width, int height) {
  bool ok = false;
  const QByteArray text = ReadAll(xmlPath, &ok);
  pugi::xml_document doc;
  if (!ok || !LoadXmlText(text, &doc)) return false;
  const pugi::xml_node flv = doc.document_element().child("flv");
  if (!flv) return false;
  SetChildText(flv, QStringLiteral("height"), QString::number(height));
  SetChildText(flv, QStringLiteral("width"), QString::number(width));
  const float seconds = static_cast<float>(DurationSeconds(duration));
  SetChildText(flv, QStringLiteral("duration"), QString::number(seconds));
  pugi::xml_node times = flv.child("keyframes").child("times");
  if (!times) return false;
  times.remove_child("value");

  const QByteArray list = ReadAll(keyframeListPath, &ok);
  if (!ok) return false;
  int id = 0;
  for (const QByteArray& rawLine : list.split('\n')) {
    const QString line = QString::fromUtf8(rawLine).trimmed();
    if (line.isEmpty()) break;
    pugi::xml_node value =
        AppendElement(times, QStringLiteral("value"), line, QStringLiteral("id"));
    value.attribute("id").set_value(id++);
  }
  const QByteArray broken = BreakXmlLines(XmlText(doc));
  pugi::xml_document reparsed;
  if (!LoadXmlText(broken, &reparsed)) return false;
  return WriteFileAtomically(xmlPath, broken);
}

QString UploadPackage::FileListCaption(int videoWidth, const QString& sysVer) {
  if (sysVer.isEmpty()) {
    return videoWidth > 640 ? QStringLiteral("HD") : QStringLiteral("Normal");
  }
  return QString::number(NearestEven(videoWidth / 16.0 * 9)) + QLatin1Char('p');
}

bool UploadPackage::WriteFileList(const QString& path, const UploadJob& job) {
  pugi::xml_document doc;
  if (!LoadXmlFile(path, &doc)) return false;
  const pugi::xml_node video = doc.document_element().child("video");
  if (!video) return false;
  const pugi::xml_node item = AppendElement(video, QStringLiteral("item"), QString());
  AppendElement(item, QStringLiteral("fileName"), job.dstFileName());
  AppendElement(item, QStringLiteral("caption"), FileListCaption(job.videoWidth, job.sysVer));
  AppendElement(item, QStringLiteral("width"), QString::number(job.videoWidth));
  AppendElement(item, QStringLiteral("height"), QString::number(job.videoHeight));
  return SaveXmlWithLineBreaks(doc, path);
}

bool UploadPackage::Pack(const QString& workFolder, const QString& archiveFile,
                         const QString& presentation, const CancelToken& cancel) {
  if (workFolder.isEmpty() || !QFileInfo(workFolder).isDir()) return false;
  // zip ends with the job when Stop cancels the token; a large folder takes a while to store.
  const auto RunHidden = [&cancel](const QString& commandLine, const QString& folder) {
    RunOptions options;
    options.workingFolder = folder;
    options.cancel = cancel;
    return !RunProcess(commandLine, options).cancelled;
  };
  QString copy;
  if (!presentation.isEmpty()) {
    copy = JoinPath(workFolder, QFileInfo(presentation).fileName());
    // A file of that name the user keeps in the folder is neither replaced nor removed.
    if (QFileInfo::exists(copy) || !CopyFileForce(presentation, copy)) copy.clear();
  }
  // The archive's paths are relative to the work folder, so zip runs inside it.
  // The names "*" expands to never read as options: the command-line layer gives them as "./-x".
  RunHidden(
      QStringLiteral("zip -0 -r -q ") + CommandLine::Quote(archiveFile) + QStringLiteral(" *"),
      workFolder);
  if (!copy.isEmpty()) DeleteFileForce(copy);
  return QFileInfo::exists(archiveFile);
}

bool UploadPackage::kqLoopDeleteFile(const QString& path, int tries) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    DeleteFileForce(path);
    if (!QFileInfo::exists(path)) return true;
    WaitMs(kDeleteRetryMs);
  }
  return false;
}

}  // namespace cf
