#include "app/dialogs/JobSetup.h"

#include "app/project/CProjectFile.h"

#include "app/queue/UploadQueue.h"
#include "app/services/modLanguage.h"

#include <QDir>
#include <QFileInfo>

using namespace cf::estimate;

namespace {

const QString kSection = QStringLiteral("frmAdd");

}  // namespace

QString DialogMessage::text() const {
  return key.isEmpty() ? fallback : GetResString(kSection, key, fallback);
}

bool JobSetup::IsProjectPath(const QString& path) {
  return QFileInfo(path).suffix().toLower() == QLatin1String("kqp");
}

bool JobSetup::IsMp4Path(const QString& path) {
  return QFileInfo(path).suffix().toLower() == QLatin1String("mp4");
}

DialogMessage JobSetup::CheckFile(const QString& path, const cf::UploadQueue& queue,
                                  const QString& editedPath) {
  const QFileInfo file(path);
  if (!file.isFile()) {
    // A name whose bytes are not UTF-8 text reaches us with replacement characters; the file
    // exists, but no path we can write names it.
    if (path.contains(QChar::ReplacementCharacter) || !path.isValidUtf16()) {
      return {QString(),
              QStringLiteral("\"") + path +
                  QStringLiteral("\" cannot be used: its name is not valid UTF-8 text. Rename "
                                 "it and add it again."),
              {}};
    }
    return {QString(), QStringLiteral("\"") + path + QStringLiteral("\" does not exists!"), {}};
  }
  const QString extension = file.suffix().toLower();
  if (extension == QLatin1String("rm") || extension == QLatin1String("rmvb")) {
    return {QStringLiteral("msg_rm_and_rmvb"),
            QStringLiteral("rm and rmvb file are not supported!"),
            {}};
  }
  if (file.fileName().toUpper() == QLatin1String("VIDEO_TS.VOB")) {
    return {QStringLiteral("msg_VIDEO_TS_VOB"), QString(), {}};
  }
  if (extension == QLatin1String("kqp") &&
      !QFileInfo(file.dir().filePath(QStringLiteral("media.kq"))).isFile()) {
    return {QStringLiteral("msg_noMediaKq"), QString(), {}};
  }
  const bool editing = !editedPath.isEmpty();
  if (queue.itemExist(path) && !(editing && path.trimmed() == editedPath.trimmed())) {
    return {QStringLiteral("msg_hasBeenAdded"), QString(),
            editing ? QStringLiteral("Edit Video") : QStringLiteral("Add Video")};
  }
  return {};
}

void JobSetup::StartFile(const QString& path) {
  ClearFile();
  path_ = path;
  customBps = 0;
  dstCvtType = kLocalCvt;
  dstResType = kStandardRes;
}

void JobSetup::ClearFile() {
  path_.clear();
  source_ = Source();
  duration.clear();
  bInterlaced = false;
  videoWidth = 0;
  videoHeight = 0;
  totalKbps = 0;
  dateLastModified.clear();
}

bool JobSetup::OpenProject(const ServerCaps& caps, bool quiet, QString* title, QString* author,
                           DialogMessage* refusal) {
  *refusal = {};
  cf::CProjectFile& project = cf::CProjectFile::Shared();
  if (!project.Load(path_, quiet)) return false;
  const QString major = project.version.trimmed().left(1);
  bool numeric = false;
  const int version = major.toInt(&numeric);
  // A version that is no number cannot be shown to be one the server takes.
  if (!numeric || version > caps.kqpver) {
    const QString text = GetResString(
        QStringLiteral("frmCommon"), QStringLiteral("msgUnsupportKqpVer"),
        QStringLiteral("This server does not accept Quillbox projects of version %s."));
    *refusal = {QString(), QString(text).replace(QStringLiteral("%s"), major), {}};
    return false;
  }
  *title = project.title;
  *author = project.Author;
  const QFileInfo file(path_);
  source_.fileSize = file.size();
  dateLastModified = cf::UploadJob::FormatDateLastModified(file.lastModified());
  return true;
}

bool JobSetup::SaveProjectTexts(const QString& title, const QString& author) {
  cf::CProjectFile& project = cf::CProjectFile::Shared();
  if (project.title == title && project.Author == author) return true;
  project.title = title;
  project.Author = author;
  return project.Save();
}

void JobSetup::ApplyProbe(const VideoInfo& info) {
  duration = info.durationText;
  source_.secDuration = info.secDuration;
  source_.codedWidth = info.codedWidth;
  source_.codedHeight = info.codedHeight;
  source_.darNum = info.darNum;
  source_.darDen = info.darDen;
  source_.srcVideoWidth = info.displayWidth;
  source_.srcVideoHeight = info.displayHeight;
  bInterlaced = info.interlaced;
  const QFileInfo file(path_);
  source_.fileSize = file.size();
  dateLastModified = cf::UploadJob::FormatDateLastModified(file.lastModified());
}

void JobSetup::ApplyProject(const QString& durationText, int32_t seconds) {
  duration = durationText;
  source_.secDuration = seconds;
  videoWidth = 0;
  videoHeight = 0;
  const QFileInfo file(path_);
  source_.fileSize = file.size();
  dateLastModified = cf::UploadJob::FormatDateLastModified(file.lastModified());
}

JobSetup::ConversionChoices JobSetup::ApplyConversionRule(const ServerCaps& caps,
                                                          bool groupEnabled) {
  ConversionChoices choices;
  if (groupEnabled) {
    choices.local = true;
    choices.server = !caps.oldSystem();
    choices.noConversion = !caps.oldSystem() && caps.noCvtForMp4 && IsMp4Path(path_);
  }
  // A choice the server no longer offers (an edited job, another server) is not kept behind a
  // disabled option: the job would ask for what the server refuses.
  if (groupEnabled && ((dstCvtType == kServerCvt && !choices.server) ||
                       (dstCvtType == kNoCvt && !choices.noConversion))) {
    dstCvtType = kLocalCvt;
  }
  return choices;
}

ResolutionChoices JobSetup::ApplyResolutionRule(const ServerCaps& caps, bool groupEnabled) {
  if (!groupEnabled || dstCvtType == kNoCvt) return {};
  const ResolutionChoices choices = AllowedResolutions(caps.oldSystem(), source_.codedWidth);
  const int32_t allowed = FirstAllowedResolution(choices, dstResType);
  if (allowed >= 0) dstResType = allowed;
  return choices;
}

bool JobSetup::ChooseConversion(int32_t conversion) {
  if (ExceedsUploadLimit(EstimateOutputBytes(source_, conversion, dstResType))) return false;
  customBps = 0;
  dstCvtType = conversion;
  return true;
}

bool JobSetup::ChooseResolution(int32_t resolution) {
  if (ExceedsUploadLimit(EstimateOutputBytes(source_, dstCvtType, resolution))) return false;
  customBps = 0;
  dstResType = resolution;
  return true;
}

void JobSetup::Recompute() {
  const Destination destination = ComputeDestination(source_, dstCvtType, dstResType, customBps);
  videoWidth = destination.frame.width;
  videoHeight = destination.frame.height;
  totalKbps = destination.totalKbps;
  if (destination.hasBitrates) {
    vBitRate = QString::number(destination.videoKbps) + QLatin1Char('k');
    aBitRate = QString::number(destination.audioKbps) + QLatin1Char('k');
  }
}

cf::UploadJob JobSetup::BuildJob(const JobServer& server, const ServerCaps& caps,
                                 bool encryptPassword, const QString& title,
                                 const QString& author) const {
  cf::UploadJob job;
  job.fileName = QFileInfo(path_).fileName();
  job.title = title.trimmed();
  job.Author = author.trimmed();
  job.path = path_.trimmed();
  job.duration = duration;
  job.secDuration = source_.secDuration;
  job.videoWidth = videoWidth;
  job.videoHeight = videoHeight;
  job.srcVideoWidth = source_.srcVideoWidth;
  job.srcVideoHeight = source_.srcVideoHeight;
  job.vBitRate = vBitRate;
  job.aBitRate = aBitRate;
  job.Url = server.Url;
  job.account = server.account;
  job.password = server.password;
  job.folderID = server.folderID;
  job.contentID = QStringLiteral("0");
  job.folderName = server.folderName;
  job.sysVer = caps.sysVer;
  job.bEncPassword = encryptPassword;
  job.dstCvtType = dstCvtType;
  job.dstResType = dstResType;
  job.dstPostfix = DestinationPostfix(caps.oldSystem(), videoWidth);
  job.customBps = customBps;
  job.bInterlaced = bInterlaced;
  const QFileInfo file(path_);
  job.fileSize = file.size();
  job.dateLastModified = cf::UploadJob::FormatDateLastModified(file.lastModified());
  return job;
}
