#include "app/queue/JobDriver.h"

#include "app/queue/ProgramIdentity.h"

#include "app/media/ProcessRunner.h"
#include "app/project/CProjectFile.h"
#include "app/project/KqLibrary.h"
#include "app/queue/ProjectSlides.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadPackage.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/VideoConverter.h"
#include "app/services/MessageService.h"
#include "app/services/PasswordDigest.h"
#include "app/services/ProgramFolder.h"
#include "app/services/UploadControl.h"
#include "app/services/XmlFile.h"
#include "app/services/modConfig.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>

#include <exception>

namespace cf {

namespace {

const QString kSection = QStringLiteral("frmUpload");
constexpr const char* kWorkFolderPrefix = "_kqClipFerry_";
constexpr const char* kArchiveFolderPrefix = "_kqVidZip_";
constexpr const char* kVersionRoute = "/mavo/getVersion/";
constexpr const char* kPutFileRoute = "/mavo/putFile/";
constexpr double kBytesPerMegabyte = 1048576.0;
// Pictures larger than this on a side are no slides; a server asking for them is ignored.
constexpr int kMaxSlideSide = 8192;
// A cancelled upload still ends with the control's completion event; no new request may start
// before it, but a control that never answers must not hang the program.
constexpr int kCancelAnswerWaitMs = 120000;

// A name that no folder of `parent` has yet.
QString FreshFolder(const QString& parent, const char* prefix) {
  QString folder;
  do {
    folder = JoinPath(parent, QLatin1String(prefix) + FreshTempName());
  } while (QFileInfo::exists(folder));
  return folder;
}

// A server number; false when the text is not a decimal integer.
bool ParseNumber(const QString& text, qint64* value) {
  bool ok = false;
  *value = text.trimmed().toLongLong(&ok);
  return ok;
}

// Kilobits per second from "800k" (the unit character dropped).
qint64 Kbps(const QString& bitRate) { return bitRate.left(bitRate.size() - 1).toLongLong(); }

}  // namespace

JobDriver::JobDriver(QueueGridModel& grid, UploadQueue& queue, UploadControl& control,
                     QObject* parent)
    : QObject(parent), grid_(grid), queue_(queue), control_(control) {
  state_.serverErrorText = Res(QStringLiteral("mavoError"));
  state_.exitCaption = GetResString(QStringLiteral("frmCommon"), QStringLiteral("btnExit"));
  context_.logEnabled = true;
  // Handled after the control's own event handler has returned, so the next request may start.
  connect(&control_, &UploadControl::OnGetVersionFinished, this, &JobDriver::OnVersionReply,
          Qt::QueuedConnection);
  connect(&control_, &UploadControl::OnPutFileFinished, this, [this] {
    state_.uploadFinished = true;
    putFileAnswered_ = true;
  });
  connect(&context_, &RunContext::outputChanged, this, &JobDriver::outputChanged);
  connect(&context_, &RunContext::progressChanged, this, [this](const QString& text, double p) {
    emit infoChanged(text);
    emit progressChanged(static_cast<int>(p));
  });
  animation_.setInterval(kAnimationMs);
  connect(&animation_, &QTimer::timeout, this, [this] { SetStatus(status_ + QLatin1Char('.')); });
}

JobDriver::~JobDriver() = default;

QString JobDriver::Res(const QString& key, const QString& fallback) const {
  return GetResString(kSection, key, fallback);
}

QString JobDriver::UploadText() const {
  return Res(QStringLiteral("msgUpload"),
             QStringLiteral("Uploading data to ") + state_.work.Url + QStringLiteral(" ..."));
}

void JobDriver::SetStatus(const QString& text) {
  status_ = text;
  emit statusChanged(text);
}

void JobDriver::SetInfo(const QString& text) { emit infoChanged(text); }

void JobDriver::SetRunning(bool running) {
  if (running_ == running) return;
  running_ = running;
  emit runningChanged(running);
}

void JobDriver::ScheduleStart() {
  // The end of one job starts the next as its last step; queued, so a long queue does not nest
  // one job's handlers inside the previous one's.
  QMetaObject::invokeMethod(this, &JobDriver::Start, Qt::QueuedConnection);
}

void JobDriver::StartNextWhenWaiting() {
  if (grid_.anyWaiting() && !state_.closing) {
    ScheduleStart();
  } else {
    SetRunning(false);
  }
}

void JobDriver::Start() {
  if (state_.closing) return;
  for (;;) {
    if (grid_.nextWaiting() == 0) {
      SetRunning(false);
      ShowMessage(QStringLiteral("Please add a video file!"), QString(), MsgButtons::Ok,
                  MsgIcon::Information);
      return;
    }
    state_.currentPath = grid_.currentPath();
    const UploadJob* job = queue_.item(state_.currentPath);
    const QFileInfo source(state_.currentPath);
    if (job == nullptr || !source.isFile()) {
      grid_.setFailure(state_.currentPath, QStringLiteral("File not found"));
      if (grid_.anyWaiting()) continue;
      SetRunning(false);
      return;
    }
    state_.work = *job;
    state_.work.Url = NormalizeServerAddress(job->Url);
    state_.passwordToSend = job->bEncPassword ? PasswordDigest(job->password) : job->password;

    const QDateTime queued = UploadJob::ParseDateLastModified(job->dateLastModified);
    const qint64 modified = source.lastModified().toSecsSinceEpoch();
    if (!queued.isValid() || queued.toSecsSinceEpoch() != modified ||
        source.size() != job->fileSize) {
      grid_.setFailure(state_.currentPath, QStringLiteral("File has been modified"));
      if (grid_.anyWaiting()) continue;
      SetRunning(false);
      return;
    }
    break;
  }

  SetRunning(true);
  state_.serverStage = false;
  state_.stopInConversion = false;
  state_.stopInUpload = false;
  state_.uploadFinished = false;
  state_.archiveMade = false;
  state_.failureText.clear();
  context_.cancelRequested = false;
  context_.stepResult = 1;
  emit stopEnabledChanged(true);
  emit progressChanged(0);
  grid_.setState(state_.currentPath, kStateTransfering);

  const QString tempRoot = QDir::tempPath();
  const QString workPrefix = JoinPath(tempRoot, QLatin1String(kWorkFolderPrefix));
  if (state_.workFolder.startsWith(workPrefix)) {
    DeleteFolder(state_.workFolder);
    state_.temporaryFolders.removeAll(state_.workFolder);
  }
  state_.workFolder.clear();

  if (state_.work.isProject()) {
    emit conversionViewVisible(false);
    const QFileInfo projectFile(state_.currentPath);
    state_.workFolder = projectFile.absolutePath();
    if (!CProjectFile::Shared().Load(projectFile.absoluteFilePath(), true)) {
      FailAndContinue(QStringLiteral("The project file could not be read."));
      return;
    }
  } else {
    SetInfo(QString());
    emit conversionViewVisible(true);
    state_.workFolder = FreshFolder(tempRoot, kWorkFolderPrefix);
    if (!QDir().mkpath(state_.workFolder)) {
      FailAndContinue(QStringLiteral("Error description: the work folder could not be created."));
      return;
    }
    state_.temporaryFolders.append(state_.workFolder);
  }

  emit startEnabledChanged(false);
  ProjectProfile profile;
  ReadProjectProfile(state_.workFolder, &profile);
  state_.contentNumber = profile.contentID.isEmpty() ? QStringLiteral("0") : profile.contentID;

  state_.firstCheck = true;
  const bool reuse = profile.url == state_.work.Url && state_.contentNumber != QLatin1String("0") &&
                     profile.folderID == state_.work.folderID;
  SendVersionRequest(reuse ? state_.contentNumber.toInt() : -1);
}

bool JobDriver::SendVersionRequest(int contentNumber) {
  const bool sent = control_.GetVersion2(
      QStringLiteral("http://") + state_.work.Url + QLatin1String(kVersionRoute),
      state_.work.account, state_.passwordToSend, state_.work.folderID.toInt(), contentNumber,
      GetDefaultProjectVersion(), QStringLiteral("tool=v.") + ProgramIdentity::Version());
  if (!sent) {
    FailAndContinue(QStringLiteral("GetVersion: ") + state_.serverErrorText +
                    QStringLiteral(" (0)"));
  }
  return sent;
}

QString JobDriver::ResultErrorText(const QString& code, bool prefixVersion) const {
  const QString localized = Res(QStringLiteral("msg_") + code);
  if (prefixVersion) {
    return QStringLiteral("GetVersion: ") +
           (localized.isEmpty()
                ? state_.serverErrorText + QStringLiteral(" (") + code + QLatin1Char(')')
                : localized);
  }
  return localized.isEmpty() ? state_.serverErrorText + QStringLiteral(": ") + code : localized;
}

void JobDriver::FailAndContinue(const QString& text) {
  state_.failureText = text;
  grid_.setFailure(state_.currentPath, text);
  SetInfo(grid_.cellText(state_.currentPath, kColError) + Res(QStringLiteral("lInfoFail")));
  StartNextWhenWaiting();
}

void JobDriver::OnVersionReply() {
  if (!running_ || state_.currentPath.isEmpty()) return;
  const QString response = control_.Response();
  try {
    if (state_.work.isProject()) {
      HandleProjectReply(response);
    } else {
      HandleVideoReply(response);
    }
  } catch (const std::exception& e) {
    FailUnexpected(QString::fromLocal8Bit(e.what()));
  }
}

bool JobDriver::AcceptVersionReply(const QString& response, pugi::xml_document* doc) {
  if (!LoadXmlText(response.toUtf8(), doc)) {
    // An answer that is no document at all must not read as the server's permission.
    FailAndContinue(QStringLiteral("GetVersion: Parse XML error!"));
    return false;
  }
  const QString errInfo = ValueByPath(*doc, QStringLiteral("errInfo"));
  if (errInfo.isEmpty()) return true;
  if (ValueByPath(*doc, QStringLiteral("showInfo")) == QLatin1String("1")) {
    FailAndContinue(QStringLiteral("GetVersion: ") + errInfo);
  } else {
    FailAndContinue(ResultErrorText(errInfo, true));
  }
  return false;
}

void JobDriver::HandleVideoReply(const QString& response) {
  pugi::xml_document doc;
  if (!AcceptVersionReply(response, &doc)) return;

  state_.videoType = ValueByPath(doc, QStringLiteral("videotype"));
  state_.sendSource = ValueByPath(doc, QStringLiteral("videosrc")) == QLatin1String("1");
  state_.thumbnailsWanted = ValueByPath(doc, QStringLiteral("thumbnail")) == QLatin1String("1");
  ReadSlideSize(doc);

  qint64 required = 0;
  if (state_.firstCheck) {
    required =
        RoundHalfEven(static_cast<double>(Kbps(state_.work.vBitRate) + Kbps(state_.work.aBitRate)) *
                      1000.0 * state_.work.secDuration / (8.0 * 1024 * 1024));
  } else {
    required =
        RoundHalfEven(static_cast<double>(GetFolderSize(state_.workFolder)) / kBytesPerMegabyte);
  }
  if (!CheckQuota(doc, required)) return;

  if (state_.firstCheck) {
    state_.firstCheck = false;
    if (state_.work.dstCvtType != 1) {
      Conversion();
      return;
    }
    // Nothing else would look at a stop pressed while the server was asked.
    if (state_.stopInConversion) {
      StopBeforeServerStage();
      return;
    }
    ServerSidePreparation();
    if (!running_ || grid_.cellText(state_.currentPath, kColState) != kStateTransfering) return;
  }

  const QString overwrite = ValueByPath(doc, QStringLiteral("overwrite"));
  if (overwrite == QLatin1String("1")) {
    const MsgAnswer answer = ShowMessage(Res(QStringLiteral("msgOverwrite")), QString(),
                                         MsgButtons::YesNoCancel, MsgIcon::Question);
    if (answer == MsgAnswer::No) {
      state_.contentNumber = QStringLiteral("0");
    } else if (answer != MsgAnswer::Yes) {
      grid_.setState(state_.currentPath, kStateCanceled);
      SetInfo(Res(QStringLiteral("lInfoCancel")));
      StartNextWhenWaiting();
      return;
    }
  } else if (overwrite == QLatin1String("2") || overwrite == QLatin1String("3")) {
    RefuseTarget(overwrite);
    return;
  }
  PackAndUpload(QLatin1String(UploadPackage::kKindVideo));
}

void JobDriver::ReadSlideSize(const pugi::xml_document& doc) {
  const QString slideSize = ValueByPath(doc, QStringLiteral("slidesize"));
  if (slideSize.isEmpty()) return;
  const QStringList parts = slideSize.split(QLatin1Char('x'));
  if (parts.size() == 2 && parts[0].toInt() > 0 && parts[1].toInt() > 0 &&
      parts[0].toInt() <= kMaxSlideSide && parts[1].toInt() <= kMaxSlideSide) {
    state_.slideWidth = parts[0].toInt();
    state_.slideHeight = parts[1].toInt();
  }
}

bool JobDriver::CheckQuota(const pugi::xml_document& doc, qint64 required) {
  if (!FindByPath(doc, QStringLiteral("quota.total")) ||
      !FindByPath(doc, QStringLiteral("quota.free")) ||
      !FindByPath(doc, QStringLiteral("quota.maxsize"))) {
    return true;
  }
  const QString totalText = ValueByPath(doc, QStringLiteral("quota.total"));
  const QString freeText = ValueByPath(doc, QStringLiteral("quota.free"));
  const QString maxText = ValueByPath(doc, QStringLiteral("quota.maxsize"));
  qint64 total = 0, free = 0, maxsize = 0;
  if (!ParseNumber(totalText, &total) || !ParseNumber(freeText, &free) ||
      !ParseNumber(maxText, &maxsize)) {
    FailAndContinue(QStringLiteral("GetVersion: ") + state_.serverErrorText +
                    QStringLiteral(" (quota)"));
    return false;
  }
  if (maxsize < required) {
    FailAndContinue(QStringLiteral("Exceed the maximum upload size!, maxsize=") +
                    maxText.trimmed() + QStringLiteral("MB, required=") +
                    QString::number(required) + QStringLiteral("MB"));
    return false;
  }
  if (free < required) {
    FailAndContinue(QStringLiteral("No enough space to upload data, total=") + totalText.trimmed() +
                    QStringLiteral("MB, free=") + freeText.trimmed() +
                    QStringLiteral("MB, required=") + QString::number(required) +
                    QStringLiteral("MB"));
    return false;
  }
  return true;
}

void JobDriver::RefuseTarget(const QString& overwrite) {
  const QString localized = Res(QStringLiteral("msg_folder") + overwrite);
  FailAndContinue(QStringLiteral("GetVersion: ") +
                  (localized.isEmpty() ? state_.serverErrorText + QStringLiteral(" (") + overwrite +
                                             QLatin1Char(')')
                                       : localized));
}

void JobDriver::HandleProjectReply(const QString& response) {
  pugi::xml_document doc;
  if (!AcceptVersionReply(response, &doc)) return;
  state_.firstCheck = false;
  state_.thumbnailsWanted = ValueByPath(doc, QStringLiteral("thumbnail")) == QLatin1String("1");
  ReadSlideSize(doc);
  if (!CheckQuota(doc, RoundHalfEven(static_cast<double>(GetFolderSize(state_.workFolder)) /
                                     kBytesPerMegabyte))) {
    return;
  }

  const QString overwrite = ValueByPath(doc, QStringLiteral("overwrite"));
  if (overwrite == QLatin1String("1")) {
    // A project keeps its content number in its folder; the server asking means the old content
    // is gone or taken, so the project goes up as new content.
    state_.contentNumber = QStringLiteral("0");
  } else if (overwrite == QLatin1String("2") || overwrite == QLatin1String("3")) {
    RefuseTarget(overwrite);
    return;
  }

  const QString store = JoinPath(state_.workFolder, QLatin1String(ProjectSlides::kMediaStore));
  KqLibrary library;
  const bool libraryLoaded = library.Load(CProjectFile::Shared().version);
  if (QFileInfo::exists(store)) {
    SetStatus(GetResString(QStringLiteral("frmCommon"), QStringLiteral("msgVerifyWholeKq"),
                           QStringLiteral("Verifying whole \"media.kq\". Please wait.")));
    // Without its library the store cannot be shown to be whole, and a damaged one must not go up.
    if (!libraryLoaded || !library.VerifyWholeKqFile(store)) {
      FailAndContinue(GetResString(QStringLiteral("frmCommon"), QStringLiteral("msgVerifyKqErr"),
                                   QStringLiteral("Verify media.kq error!")));
      return;
    }
  }
  if (state_.stopInConversion) {
    state_.stopInConversion = false;
    grid_.setState(state_.currentPath, kStateWaiting);
    SetInfo(Res(QStringLiteral("lInfoCancel")));
    SetStatus(Res(QStringLiteral("lInfoCancel")));
    if (grid_.anyWaiting()) emit startEnabledChanged(true);
    SetRunning(false);
    return;
  }

  emit stopEnabledChanged(false);
  if (libraryLoaded) {
    ProjectSlides slides(state_.workFolder, CProjectFile::Shared(), library, state_.slideWidth,
                         state_.slideHeight, [this](const QString& text) { SetStatus(text); });
    slides.Create();
  }
  emit stopEnabledChanged(true);

  state_.serverStage = true;
  state_.stopInUpload = false;
  PackAndUpload(QLatin1String(UploadPackage::kKindProject));
}

void JobDriver::ServerSidePreparation() {
  const QString source = state_.currentPath;
  if (!HasEnoughSpace(state_.workFolder, 2.0 * static_cast<double>(GetFileSize(source)))) {
    FailAndContinue(QStringLiteral("Not enough free space"));
    return;
  }
  const int dot = state_.work.fileName.lastIndexOf(QLatin1Char('.'));
  const QString copy =
      JoinPath(state_.workFolder, QStringLiteral("src.") + state_.work.fileName.mid(dot + 1));
  if (!CopyFileForce(source, copy)) {
    FailAndContinue(VideoConverter::FailureText(VideoConverter::kCopySourceError, QString()));
    return;
  }
  state_.stopInUpload = false;
  state_.serverStage = true;
  emit conversionViewVisible(false);
}

void JobDriver::Conversion() {
  ConversionSettings settings;
  settings.mp4 = state_.videoType == QLatin1String("mp4");
  settings.keepSource = state_.sendSource;
  settings.processors = processors_;
  settings.highSpeed = highSpeed_;
  context_.outputText.clear();
  VideoConverter converter(state_.work, settings, context_, grid_);
  const int code = converter.ConvertVideo(state_.currentPath, state_.workFolder);

  if (state_.stopInConversion) {
    StopBeforeServerStage();
    return;
  }
  if (code > 0) {
    emit conversionViewVisible(false);
    state_.stopInUpload = false;
    if (state_.work.title.isEmpty()) {
      state_.work.title = QStringLiteral("Title, ") +
                          QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    }
    SetStatus(Res(QStringLiteral("msgConnect"), QStringLiteral("Conncecting server ...")));
    emit startEnabledChanged(false);
    state_.serverStage = true;
    SendVersionRequest(-1);
    return;
  }
  const QString text = VideoConverter::FailureText(code, converter.errorDescription());
  state_.failureText = text;
  grid_.setFailure(state_.currentPath, text);
  DeleteFolder(state_.workFolder);
  SetInfo(grid_.cellText(state_.currentPath, kColError) + Res(QStringLiteral("lInfoFail")));
  StartNextWhenWaiting();
}

void JobDriver::StopBeforeServerStage() {
  DeleteFolder(state_.workFolder);
  state_.stopInConversion = false;
  grid_.setState(state_.currentPath, kStateWaiting);
  SetInfo(Res(QStringLiteral("lInfoCancel")));
  if (grid_.anyWaiting()) emit startEnabledChanged(true);
  SetRunning(false);
}

void JobDriver::PackAndUpload(const QString& kind) {
  try {
    QString why;
    const bool project = kind == QLatin1String(UploadPackage::kKindProject);
    bool written = false;
    if (project) {
      const CProjectFile& file = CProjectFile::Shared();
      written = UploadPackage::WriteProjectMetadataProfile(
          state_.workFolder, {state_.work.title, state_.work.Author, file.Keywords, file.Comments},
          &why);
    } else {
      written = UploadPackage::WriteMetadataProfile(state_.workFolder, state_.work,
                                                    state_.sendSource, &why);
    }
    if (!written) {
      FailUnexpected(why);
      return;
    }
    state_.archiveFolder = FreshFolder(QDir::tempPath(), kArchiveFolderPrefix);
    const QString archive =
        JoinPath(state_.archiveFolder, QLatin1String(UploadPackage::kArchiveName));

    RecreateFolder(state_.archiveFolder);
    SetStatus(Res(QStringLiteral("msgPack"), QStringLiteral("Packing files.")));
    animation_.start();
    UploadPackage::Pack(state_.workFolder, archive,
                        project ? UploadPackage::PresentationFile(state_.workFolder) : QString());
    animation_.stop();
    state_.archiveMade = QFileInfo::exists(archive);
    if (!state_.archiveMade || state_.stopInUpload) DeleteFolder(state_.archiveFolder);

    if (!QFileInfo::exists(archive)) {
      if (state_.stopInUpload) {
        grid_.setState(state_.currentPath, kStateWaiting);
        SetStatus(Res(QStringLiteral("lInfoCancel")));
        if (grid_.anyWaiting()) emit startEnabledChanged(true);
        SetRunning(false);
        return;
      }
      const QString text =
          state_.archiveMade
              ? Res(QStringLiteral("msgPackCancel"), QStringLiteral("Packing file ... Canceled!"))
              : Res(QStringLiteral("msgPackError"), QStringLiteral("Packing file error!"));
      SetStatus(text);
      FailAndContinue(text);
      return;
    }

    grid_.stampTime(state_.currentPath, kColUploadBeginTime);
    if (Upload() == Outcome::Succeeded) {
      grid_.stampTime(state_.currentPath, kColUploadEndTime);
      grid_.setState(state_.currentPath, kStateFinished);
      if (grid_.anyWaiting() && !state_.closing) {
        ScheduleStart();
        return;
      }
      state_.serverStage = false;
      emit stopEnabledChanged(false);
      SetRunning(false);
      const QString done = Res(QStringLiteral("msgComplete"));
      if (!done.isEmpty()) ShowMessage(done, QString(), MsgButtons::Ok, MsgIcon::Information);
      emit exitCaptionChanged(state_.exitCaption);
      return;
    }

    if (state_.stopInUpload) {
      grid_.setState(state_.currentPath, kStateWaiting);
      SetInfo(Res(QStringLiteral("lInfoCancel")));
      SetStatus(Res(QStringLiteral("lInfoCancel")));
    } else {
      grid_.setFailure(state_.currentPath, state_.failureText);
      const QString text =
          grid_.cellText(state_.currentPath, kColError) + Res(QStringLiteral("lInfoFail"));
      SetInfo(text);
      SetStatus(text);
    }
    // A failed upload waits for the user: the server may be down for every job alike.
    if (grid_.anyWaiting()) emit startEnabledChanged(true);
    state_.serverStage = false;
    SetRunning(false);
  } catch (const std::exception& e) {
    FailUnexpected(QString::fromLocal8Bit(e.what()));
  }
}

void JobDriver::FailUnexpected(const QString& description) {
  animation_.stop();
  if (!state_.archiveFolder.isEmpty()) DeleteFolder(state_.archiveFolder);
  ShowMessage(QStringLiteral("upload error! ") + description, QString(), MsgButtons::Ok,
              MsgIcon::Critical);
  SetStatus(Res(QStringLiteral("msgError")));
  emit startEnabledChanged(true);
  emit exitEnabledChanged(true);
  state_.serverStage = false;
  // Left "Transfering", the row would block closing the window for good.
  state_.failureText = QStringLiteral("upload error! ") + description;
  grid_.setFailure(state_.currentPath, state_.failureText);
  SetInfo(grid_.cellText(state_.currentPath, kColError) + Res(QStringLiteral("lInfoFail")));
  SetRunning(false);
}

void JobDriver::WaitForUploadEvent(int ms) {
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  connect(&control_, &UploadControl::OnPutFileFinished, &loop, &QEventLoop::quit,
          Qt::QueuedConnection);
  timer.start(ms);
  loop.exec();
}

JobDriver::Outcome JobDriver::Upload() {
  SetStatus(UploadText());
  state_.uploadFinished = false;
  putFileAnswered_ = false;
  const QString archive =
      JoinPath(state_.archiveFolder, QLatin1String(UploadPackage::kArchiveName));
  const bool started =
      control_.PutFile(QStringLiteral("http://") + state_.work.Url + QLatin1String(kPutFileRoute),
                       state_.work.account, state_.passwordToSend, state_.work.folderID.toInt(),
                       state_.contentNumber.toInt(), archive);
  if (!started) {
    putFileAnswered_ = true;
    state_.uploadFinished = true;
  }
  bool failed = !started;
  while (!state_.uploadFinished) {
    const int percent = control_.UploadingProgress();
    emit progressChanged(percent);
    if (percent >= 100) {
      SetStatus(Res(QStringLiteral("msgUpdate"), QStringLiteral("Updating ") + state_.work.Url +
                                                     QStringLiteral(" database, please wait ...")));
      emit exitEnabledChanged(false);
    } else {
      SetStatus(UploadText() + QLatin1Char(' ') + QString::number(percent) + QLatin1Char('%'));
    }
    if (state_.stopInUpload) {
      control_.CancelPutFile();
      state_.uploadFinished = true;
      SetStatus(Res(QStringLiteral("msgUploadCancel"), QStringLiteral("Uploading data to ") +
                                                           state_.work.Url +
                                                           QStringLiteral(" ... Canceled!")));
      failed = true;
      break;
    }
    WaitForUploadEvent(kUploadPollMs);
  }
  // The control takes one request at a time: a cancelled upload is over only with its event.
  QElapsedTimer waited;
  waited.start();
  while (!putFileAnswered_ && waited.elapsed() < kCancelAnswerWaitMs) {
    WaitForUploadEvent(kUploadPollMs);
  }

  DeleteFolder(state_.archiveFolder);
  emit exitEnabledChanged(true);
  if (state_.stopInUpload || failed) {
    if (!started) {
      state_.failureText =
          state_.serverErrorText + QStringLiteral(": the upload could not be started.");
    }
    return Outcome::Failed;
  }

  pugi::xml_document doc;
  if (!LoadXmlText(control_.Response().toUtf8(), &doc)) {
    state_.failureText = QStringLiteral("Parse XML error!");
    return Outcome::Failed;
  }
  const QString errInfo = ValueByPath(doc, QStringLiteral("errInfo"));
  if (!errInfo.isEmpty()) {
    state_.failureText = ResultErrorText(errInfo, false);
    return Outcome::Failed;
  }
  const QString contentID = ValueByPath(doc, QStringLiteral("contentID")).trimmed();
  if (contentID.isEmpty()) {
    state_.failureText = Res(QStringLiteral("mavoNoResponse"),
                             QStringLiteral("Upload failed! Server did not response."));
    return Outcome::Failed;
  }
  qint64 number = 0;
  if (!ParseNumber(contentID, &number) || number == 0) {
    state_.failureText = QStringLiteral("Upload failed! ContentID = ") + contentID;
    return Outcome::Failed;
  }
  emit progressChanged(100);
  SetStatus(Res(QStringLiteral("msgComplete"), QStringLiteral("Uploading data ... Finished!")));
  WriteProjectProfile(state_.workFolder, state_.work.Url, state_.work.folderID, contentID);
  return Outcome::Succeeded;
}

void JobDriver::Stop() {
  if (state_.serverStage) {
    state_.serverStage = false;
    context_.cancelRequested = true;
    state_.stopInUpload = true;
  } else {
    context_.cancelRequested = true;
    state_.stopInConversion = true;
    // The injector, interleaver and keyframe tool run hidden; end them too.
    CancelRun();
  }
  emit stopEnabledChanged(false);
}

bool JobDriver::Close() {
  if (grid_.anyTransferring()) {
    ShowMessage(
        Res(QStringLiteral("msgStopBeforeExit"), QStringLiteral("Please stop uploading first!")),
        QString(), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  state_.closing = true;
  if (!closingStopDone_) {
    closingStopDone_ = true;
    context_.cancelRequested = true;
    if (state_.serverStage) {
      state_.stopInUpload = true;
    } else {
      state_.stopInConversion = true;
    }
  }
  for (const QString& folder : std::as_const(state_.temporaryFolders)) DeleteFolder(folder);
  state_.temporaryFolders.clear();
  if (!state_.archiveFolder.isEmpty()) DeleteFolder(state_.archiveFolder);
  return true;
}

}  // namespace cf
