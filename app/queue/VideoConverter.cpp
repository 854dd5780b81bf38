#include "app/queue/VideoConverter.h"

#include "app/media/ProcessRunner.h"
#include "app/media/RunContext.h"
#include "app/queue/UploadPackage.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"
#include "platform/process/CommandLine.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace cf {

namespace {

// The delete of the encoder's FLV is retried for about two minutes: a virus scanner or indexer
// may hold it for a while after the injector closed it.
constexpr int kLockedFileTries = 240;
constexpr int kPauseMs = 500;
// The picture is taken one second in, past black lead-in frames.
constexpr const char* kThumbSize = "160x120";

void WaitMs(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Paths reach the tools only through the one quoting routine, so no name can end a quoted path
// early and turn the rest into options.
QString Quoted(const QString& path) { return CommandLine::Quote(path); }

// The program folder may lie below a folder with blanks; the command line splits at them.
QString ProgramPath(const QString& name) {
  return CommandLine::Quote(JoinPath(ProgramFolder(), name), CommandLine::Wrap::WhenNeeded);
}

}  // namespace

VideoConverter::VideoConverter(const UploadJob& job, const ConversionSettings& settings,
                               RunContext& context, StampFunction stamp)
    : job_(job), settings_(settings), context_(context), stamp_(std::move(stamp)) {}

bool VideoConverter::RunHidden(const QString& commandLine, const QString& workingFolder) const {
  RunOptions options;
  options.workingFolder = workingFolder;
  options.cancel = context_.cancel;
  return !RunProcess(commandLine, options).cancelled;
}

Outcome VideoConverter::Run(const QString& sourcePath, const QString& workFolder) {
  const int code = ConvertVideo(sourcePath, workFolder);
  if (context_.cancel.cancelled()) return Outcome::Stop();
  if (code > 0) return Outcome::Done();
  return Outcome::Fail(FailureText(code, errorDescription_));
}

Outcome VideoConverter::CopySourceForServer(const UploadJob& job, const QString& sourcePath,
                                            const QString& workFolder) {
  if (!HasEnoughSpace(workFolder, 2.0 * static_cast<double>(GetFileSize(sourcePath)))) {
    return Outcome::Fail(FailureText(kNoSpace, QString()));
  }
  const int dot = job.fileName.lastIndexOf(QLatin1Char('.'));
  const QString copy = JoinPath(workFolder, QStringLiteral("src.") + job.fileName.mid(dot + 1));
  if (!CopyFileForce(sourcePath, copy)) {
    return Outcome::Fail(FailureText(kCopySourceError, QString()));
  }
  return Outcome::Done();
}

QString VideoConverter::GopLength(int secDuration) {
  const int tens = secDuration / 600;
  return tens > 2 ? QString::number(tens * 30) : QStringLiteral("60");
}

QString VideoConverter::SizeText(int width, int height) {
  if (width == 720 && height == 540) return QStringLiteral("720x600");
  return QStringLiteral("%1x%2").arg(width).arg(height);
}

int VideoConverter::EncoderThreads(int processors, bool highSpeed) {
  return highSpeed || processors <= 2 ? processors : 1;
}

QString VideoConverter::FailureText(int code, const QString& description) {
  switch (code) {
    case kUnexpected:
      return QStringLiteral("Error description: ") + description;
    case kFileLocked:
      return QStringLiteral("File locked");
    case kConvertError:
      return QStringLiteral("Convert error");
    case kDecodeError:
      return QStringLiteral("Decode stream error");
    case kInjectError:
      return QStringLiteral("Inject error");
    case kCopySourceError:
      return QStringLiteral("Copy source file error");
    case kCaptureError:
      return QStringLiteral("Capture image error");
    case kKeyframeError:
      return QStringLiteral("Get keyframe error");
    case kResampleError:
      return QStringLiteral("Resample error");
    case kNoSpace:
      return QStringLiteral("Not enough free space");
    case kUnsafePath:
      return QStringLiteral("Path cannot be passed to the tools: ") + description;
    default:
      return QStringLiteral("Unknown error");
  }
}

QString VideoConverter::PassCommand(const QString& sourcePath, const QString& outputPath, int pass,
                                    bool deinterlace) const {
  const QString deinterlaceOption =
      deinterlace && job_.bInterlaced ? QStringLiteral("-deinterlace ") : QString();
  const QString threads =
      QString::number(EncoderThreads(settings_.processors, settings_.highSpeed));
  return ProgramPath(QStringLiteral("ffmpeg")) + QStringLiteral(" -y ") + deinterlaceOption +
         QStringLiteral("-i ") + Quoted(sourcePath) +
         QStringLiteral(" -map_chapters -1:0 -acodec libfaac -ac 2 -ab ") + job_.aBitRate +
         QStringLiteral(" -ar 44100 -vcodec libx264 -threads ") + threads +
         QStringLiteral(" -vsync 1 -s ") + SizeText(job_.videoWidth, job_.videoHeight) +
         QStringLiteral(" -aspect ") +
         QStringLiteral("%1:%2").arg(job_.videoWidth).arg(job_.videoHeight) +
         QStringLiteral(" -b ") + job_.vBitRate + QStringLiteral(" -r 30 -g ") +
         GopLength(job_.secDuration) +
         QStringLiteral(
             " -level 30 -coder 1 -flags +loop -cmp +chroma -partitions "
             "+parti4x4+parti8x8+partp8x8+partb8x8 -me_method umh -subq 7 -me_range 16 "
             "-i_qfactor 0.71 -b_strategy 2 -qcomp 0.6 -qmin 10 -qmax ") +
         QStringLiteral("51") +
         QStringLiteral(
             " -qdiff 4 -bf 1 -refs 1 -directpred 1 -trellis 2 "
             "-flags2 +bpyramid+mixed_refs+wpred+fastpskip+mbtree -wpredp 2 -pass ") +
         QString::number(pass) + QStringLiteral(" -passlogfile log ") + Quoted(outputPath);
}

int VideoConverter::EncodeTwoPass(const QString& sourcePath, const QString& outputPath) {
  const QString outputFolder = QFileInfo(outputPath).absolutePath();
  context_.stepResult = 1;
  context_.parseProgress = true;
  context_.passNumber = 1;
  context_.totalSeconds = job_.secDuration;
  context_.durationText = job_.duration;
  context_.workFolder = outputFolder;
  // The passes share their statistics through the relative name "log": both run in the work
  // folder, so two jobs never read each other's statistics.
  context_.workingFolder = outputFolder;
  context_.belowNormalPriority =
      EncoderThreads(settings_.processors, settings_.highSpeed) == 1 && settings_.processors > 2;

  RunCaptured(PassCommand(sourcePath, outputPath, 1, true), true, context_);
  if (!context_.cancel.cancelled() && context_.stepResult >= 1 &&
      context_.outputText.contains(QLatin1String("Error while opening file"))) {
    // Some sources refuse the deinterlacer; the whole encode is done again without it.
    context_.passNumber = 1;
    RunCaptured(PassCommand(sourcePath, outputPath, 1, false), true, context_);
    context_.passNumber = 2;
    if (!context_.cancel.cancelled() && context_.stepResult >= 1) {
      RunCaptured(PassCommand(sourcePath, outputPath, 2, false), true, context_);
    }
  } else if (!context_.cancel.cancelled() && context_.stepResult >= 1) {
    context_.passNumber = 2;
    RunCaptured(PassCommand(sourcePath, outputPath, 2, true), true, context_);
  }
  context_.passNumber = 0;
  context_.parseProgress = false;
  // The statistics are only needed between the passes and must not travel in the package.
  const QDir folder(outputFolder);
  for (const QString& name :
       folder.entryList({QStringLiteral("log-*.log"), QStringLiteral("log-*.log.*"),
                         QStringLiteral("log-*.log.mbtree*")},
                        QDir::Files)) {
    DeleteFileForce(folder.filePath(name));
  }

  if (context_.stepResult < 1) {
    // A run that could not start or write its output says why.
    if (context_.stepResult == 0) errorDescription_ = context_.errorText;
    return context_.stepResult;
  }
  if (!QFileInfo::exists(outputPath)) return kConvertError;
  InterleaveMp4(outputPath);
  return kFinished;
}

bool VideoConverter::InterleaveMp4(const QString& filePath) {
  const QString folder = QFileInfo(filePath).absolutePath();
  QString temporary;
  do {
    temporary = JoinPath(folder, FreshTempName() + QStringLiteral(".mp4"));
  } while (QFileInfo::exists(temporary));
  // Plain paths stay bare, as the interleaver has always been given them.
  RunHidden(QStringLiteral("MP4Box.exe ") +
            CommandLine::Quote(filePath, CommandLine::Wrap::WhenNeeded) +
            QStringLiteral(" -inter 500 -out ") +
            CommandLine::Quote(temporary, CommandLine::Wrap::WhenNeeded));
  if (!QFileInfo::exists(temporary)) return false;
  DeleteFileForce(filePath);
  return MoveFileForce(temporary, filePath);
}

bool VideoConverter::ExtractKeyframes(const QString& mp4Path) {
  const QFileInfo info(mp4Path);
  const QString folder = info.absolutePath();
  const QString listPath = JoinPath(folder, QStringLiteral("keyframe.txt"));
  if (!RunHidden(QStringLiteral("mp4GetKeyFrame ") + Quoted(mp4Path) + QLatin1Char(' ') +
                 Quoted(listPath))) {
    context_.cancel.Cancel();
    return false;
  }
  const QString descriptionName =
      job_.dstPostfix.isEmpty()
          ? QStringLiteral("video.xml")
          : QStringLiteral("video_") + job_.dstPostfix + QStringLiteral(".xml");
  const QString description = JoinPath(folder, descriptionName);
  CopyFileForce(JoinPath(ProgramFolder(), QString::fromLatin1(UploadPackage::kVideoTemplateName)),
                description);
  if (!QFileInfo::exists(listPath) || !QFileInfo::exists(description)) return false;
  const bool merged = UploadPackage::WriteMp4Description(description, listPath, job_.duration,
                                                         job_.videoWidth, job_.videoHeight);
  DeleteFileForce(listPath);
  return merged;
}

bool VideoConverter::CaptureThumbnails(const QString& videoPath) {
  const QString folder = QFileInfo(videoPath).absolutePath();
  const QString picture = JoinPath(folder, QStringLiteral("video.jpg"));
  const QString thumb = JoinPath(folder, QStringLiteral("thumb.jpg"));
  context_.parseProgress = false;
  context_.passNumber = 0;
  context_.workingFolder.clear();
  RunCaptured(QStringLiteral("ffmpeg -i ") + Quoted(videoPath) +
                  QStringLiteral(" -ss 1 -vframes 1 -s ") +
                  QStringLiteral("%1x%2").arg(job_.videoWidth).arg(job_.videoHeight) +
                  QStringLiteral(" -f image2 ") + Quoted(picture),
              false, context_);
  if (context_.cancel.cancelled()) return false;
  WaitMs(kPauseMs);
  RunCaptured(QStringLiteral("ffmpeg -i ") + Quoted(videoPath) +
                  QStringLiteral(" -ss 1 -vframes 1 -s ") + QLatin1String(kThumbSize) +
                  QStringLiteral(" -f image2 ") + Quoted(thumb),
              false, context_);
  if (context_.cancel.cancelled()) return false;
  QString finalPicture = picture;
  if (settings_.mp4 && !job_.dstPostfix.isEmpty()) {
    finalPicture =
        JoinPath(folder, QStringLiteral("video_") + job_.dstPostfix + QStringLiteral(".jpg"));
    MoveFileForce(picture, finalPicture);
  }
  return QFileInfo::exists(finalPicture) && QFileInfo::exists(thumb);
}

QString VideoConverter::SourceCopyName() const {
  // The text after the last "."; a name without one is taken whole.
  const int dot = job_.fileName.lastIndexOf(QLatin1Char('.'));
  return QStringLiteral("src.") + job_.fileName.mid(dot + 1);
}

bool VideoConverter::CopySource(const QString& sourcePath, const QString& workFolder) const {
  const QString target = JoinPath(workFolder, SourceCopyName());
  CopyFileForce(sourcePath, target);
  return QFileInfo::exists(target);
}

int VideoConverter::ConvertVideo(const QString& sourcePath, const QString& workFolder) {
  return Convert(sourcePath, workFolder);
}

int VideoConverter::Convert(const QString& sourcePath, const QString& workFolder) {
  errorDescription_.clear();
  const QString destination =
      JoinPath(workFolder, settings_.mp4 ? job_.dstFileName() : QStringLiteral("video.flv"));
  // A path the tools would receive as another file is refused before anything runs.
  for (const QString& path : {sourcePath, destination}) {
    errorDescription_ = CommandLine::UnpassableReason(path);
    if (!errorDescription_.isEmpty()) return kUnsafePath;
  }
  if (!ProgramFolder().isEmpty()) {
    errorDescription_ =
        CommandLine::UnpassableReason(JoinPath(ProgramFolder(), QStringLiteral("ffmpeg")), true);
    if (!errorDescription_.isEmpty()) return kUnsafePath;
  }
  const QString labelText =
      GetResString(QStringLiteral("frmUpload"), QStringLiteral("lConvertInfo"),
                   QStringLiteral("Converting video ..."));
  if (job_.dstCvtType == 2) {
    if (!HasEnoughSpace(workFolder, 2.0 * static_cast<double>(GetFileSize(sourcePath)))) {
      return kNoSpace;
    }
    if (!CopyFileForce(sourcePath, destination)) {
      errorDescription_ = QStringLiteral("The video could not be copied into the work folder.");
      return kUnexpected;
    }
  } else {
    context_.labelText = labelText;
    context_.progressText = labelText + QLatin1Char(' ') + job_.duration;
    context_.PublishProgress();
    if (stamp_) stamp_(JobTime::ConversionBegin);
    const int encoded = EncodeTwoPass(sourcePath, destination);
    if (encoded < 1) return encoded;
    if (stamp_) stamp_(JobTime::ConversionEnd);
  }
  if (context_.cancel.cancelled()) return kFinished;

  context_.progressText =
      labelText + GetResString(QStringLiteral("frmUpload"), QStringLiteral("lInjection"));
  context_.PublishProgress();
  WaitMs(kPauseMs);

  if (!settings_.mp4) {
    const QString temporary = JoinPath(workFolder, QStringLiteral("video.tmp.flv"));
    const QString description = JoinPath(workFolder, QStringLiteral("video.xml"));
    MoveFileForce(destination, temporary);
    // The injector copies its input's path into video.xml unescaped; where the work folder's
    // path would break that XML, it runs inside the folder and is given bare names.
    const bool xmlSafe = !workFolder.contains(QLatin1Char('"')) &&
                         !workFolder.contains(QLatin1Char('&')) &&
                         !workFolder.contains(QLatin1Char('<'));
    const auto named = [xmlSafe](const QString& path) {
      return Quoted(xmlSafe ? path : QFileInfo(path).fileName());
    };
    if (!RunHidden(QStringLiteral("yamdi -i ") + named(temporary) + QStringLiteral(" -x ") +
                       named(description) + QStringLiteral(" -o ") + named(destination),
                   xmlSafe ? QString() : workFolder)) {
      context_.cancel.Cancel();
      return kFinished;
    }
    if (!QFileInfo::exists(description) || !QFileInfo::exists(destination)) return kInjectError;
    if (!UploadPackage::kqLoopDeleteFile(temporary, kLockedFileTries)) return kFileLocked;
    if (!UploadPackage::WriteFlvDescription(description, job_.videoWidth, job_.videoHeight)) {
      errorDescription_ = QStringLiteral("The video description video.xml could not be read.");
      return kUnexpected;
    }
  } else {
    if (!ExtractKeyframes(destination)) {
      return context_.cancel.cancelled() ? kFinished : kKeyframeError;
    }
    const QString fileList =
        JoinPath(workFolder, QString::fromLatin1(UploadPackage::kFileListName));
    CopyFileForce(JoinPath(ProgramFolder(), QString::fromLatin1(UploadPackage::kFileListName)),
                  fileList);
    if (!UploadPackage::WriteFileList(fileList, job_)) {
      errorDescription_ = QStringLiteral("The file list fileList.xml could not be written.");
      return kUnexpected;
    }
  }

  if (settings_.keepSource && !CopySource(sourcePath, workFolder)) return kCopySourceError;

  if (CaptureThumbnails(destination)) return kFinished;
  return context_.cancel.cancelled() ? kFinished : kCaptureError;
}

}  // namespace cf
