#include "app/project/KqLibrary.h"

#include "app/services/ProgramFolder.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

namespace cf {

namespace {

QByteArray NarrowPath(const QString& path) { return QFile::encodeName(path); }

}  // namespace

QString KqLibrary::ModuleFileName(const QString& projectVersion) {
  if (projectVersion.startsWith(QLatin1Char('5'))) return QStringLiteral("kqLib_P5.so");
  if (projectVersion.startsWith(QLatin1Char('6'))) return QStringLiteral("kqLib_P6.so");
  return {};
}

bool KqLibrary::Load(const QString& projectVersion) {
  verify_ = nullptr;
  create_ = nullptr;
  time_ = nullptr;
  error_.clear();
  const QString name = ModuleFileName(projectVersion);
  if (name.isEmpty()) {
    error_ =
        QStringLiteral("No media library serves projects of version \"%1\"").arg(projectVersion);
    return false;
  }
  if (library_.isLoaded()) library_.unload();
  library_.setFileName(JoinPath(ProgramFolder(), name));
  if (!library_.load()) {
    error_ = library_.errorString();
    return false;
  }
  const auto verify = reinterpret_cast<VerifyFunction>(library_.resolve("verifyWholeKqFile"));
  const auto create = reinterpret_cast<CreateFunction>(library_.resolve("ThumbCreate2"));
  const auto time = reinterpret_cast<TimeFunction>(library_.resolve("ThumbTime"));
  if (!verify || !create || !time) {
    error_ = QStringLiteral("\"%1\" lacks the media store functions").arg(name);
    return false;
  }
  verify_ = verify;
  create_ = create;
  time_ = time;
  return true;
}

bool KqLibrary::VerifyWholeKqFile(const QString& kqFile) const {
  return verify_ && verify_(NarrowPath(kqFile).constData()) != 0;
}

bool KqLibrary::ThumbCreate2(const QString& kqFile, const QString& listFile,
                             const QString& folderName, int width, int height) const {
  return create_ && create_(NarrowPath(kqFile).constData(), NarrowPath(listFile).constData(),
                            NarrowPath(folderName).constData(), width, height) != 0;
}

int KqLibrary::ThumbTime() const { return time_ ? time_() : -1; }

bool KqLibrary::WaitForThumbs(const std::function<void(int ms)>& onProgress, int stallMs) const {
  QElapsedTimer sinceChange;
  sinceChange.start();
  int last = ThumbTime();
  while (last != -1) {
    QEventLoop loop;
    QTimer::singleShot(kThumbPollMs, &loop, &QEventLoop::quit);
    loop.exec();
    const int now = ThumbTime();
    if (now != last) {
      sinceChange.restart();
      last = now;
      if (now > 0 && onProgress) onProgress(now);
    } else if (sinceChange.elapsed() >= stallMs) {
      return false;
    }
  }
  return true;
}

}  // namespace cf
