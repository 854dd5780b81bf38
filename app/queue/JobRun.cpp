#include "app/queue/JobRun.h"

#include "app/project/KqLibrary.h"
#include "app/queue/BackgroundConversion.h"
#include "app/queue/MediaStoreCheck.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/ProjectSlides.h"
#include "app/queue/UploadPackage.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/UploadStep.h"
#include "app/queue/UserQuestions.h"
#include "app/queue/VersionReply.h"
#include "app/queue/VideoConverter.h"
#include "app/services/PasswordDigest.h"
#include "app/services/ProgramFolder.h"
#include "app/services/UploadControl.h"
#include "app/services/modConfig.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace cf {

namespace {

constexpr const char* kVersionRoute = "/mavo/getVersion/";

// Kilobits per second from "800k" (the unit character dropped).
qint64 Kbps(const QString& bitRate) { return bitRate.left(bitRate.size() - 1).toLongLong(); }

}  // namespace

JobRun::JobRun(const QString& path, UploadQueue& queue, UploadControl& control,
               UserQuestions& questions, const RunSettings& settings, QObject* parent)
    : QObject(parent),
      path_(path),
      queue_(queue),
      control_(control),
      questions_(questions),
      settings_(settings) {
  context_.logEnabled = true;
  context_.cancel = stop_;
  // Handled after the control's own event handler has returned, so the next request may start.
  connect(&control_, &UploadControl::OnGetVersionFinished, this, &JobRun::OnVersionReply,
          Qt::QueuedConnection);
  connect(&context_, &RunContext::outputChanged, this, &JobRun::outputChanged);
  connect(&context_, &RunContext::progressChanged, this, [this](const QString& text, double p) {
    emit infoChanged(text);
    emit progress(path_, phase_, static_cast<qint64>(p), 100, 0, 0);
  });
}

JobRun::~JobRun() = default;

QString JobRun::Res(const char* key, const QString& fallback) const {
  return GetResString(QStringLiteral("frmUpload"), QString::fromLatin1(key), fallback);
}

// The row updates of a run, in one place.
void JobRun::SetRow(JobState state) {
  queue_.SetState(path_, state);
  emit jobChanged(path_);
}

void JobRun::StampRow(JobTime which) {
  queue_.StampTime(path_, which);
  emit jobChanged(path_);
}

void JobRun::SetPhase(Phase phase) {
  if (phase_ == phase) return;
  phase_ = phase;
  emit phaseChanged(path_, phase);
}

void JobRun::Begin() {
  const Outcome source = CheckSource();
  if (!source.ok()) {
    Finish(source);
    return;
  }
  emit progress(path_, phase_, 0, 100, 0, 0);
  SetRow(JobState::Transfering);
  const Outcome prepared = PrepareWorkFolder();
  if (!prepared.ok()) {
    Finish(prepared);
    return;
  }
  ProjectProfile profile;
  ReadProjectProfile(workFolder_, &profile);
  contentNumber_ = profile.contentID.isEmpty() ? QStringLiteral("0") : profile.contentID;
  const bool reuse = profile.url == work_.Url && contentNumber_ != QLatin1String("0") &&
                     profile.folderID == work_.folderID;
  AskServer(reuse ? contentNumber_.toInt() : -1);
}

Outcome JobRun::CheckSource() {
  const UploadJob* job = queue_.item(path_);
  const QFileInfo source(path_);
  if (job == nullptr || !source.isFile()) return Outcome::Fail(QStringLiteral("File not found"));
  work_ = *job;
  work_.Url = NormalizeServerAddress(job->Url);
  passwordToSend_ = job->bEncPassword ? PasswordDigest(job->password) : job->password;
  const QDateTime queued = UploadJob::ParseDateLastModified(job->dateLastModified);
  if (!queued.isValid() || queued.toSecsSinceEpoch() != source.lastModified().toSecsSinceEpoch() ||
      source.size() != job->fileSize) {
    return Outcome::Fail(QStringLiteral("File has been modified"));
  }
  return Outcome::Done();
}

Outcome JobRun::PrepareWorkFolder() {
  const Outcome kept = kept_.Open(work_);
  if (!kept.ok()) return kept;
  archiveFolder_ = kept_.archiveFolder();
  if (work_.isProject()) {
    // A project is packed from its own folder, which the run must never delete.
    const QFileInfo projectFile(path_);
    workFolder_ = projectFile.absolutePath();
    if (!project_.Load(projectFile.absoluteFilePath(), true)) {
      return Outcome::Fail(QStringLiteral("The project file could not be read."));
    }
    return Outcome::Done();
  }
  emit infoChanged(QString());
  workFolder_ = kept_.workFolder();
  return Outcome::Done();
}

void JobRun::AskServer(int contentNumber) {
  awaitingReply_ = true;
  SetPhase(phase_ == Phase::CheckingSource ? Phase::AskingServer : Phase::Rechecking);
  const bool sent = control_.GetVersion2(
      QStringLiteral("http://") + work_.Url + QLatin1String(kVersionRoute), work_.account,
      passwordToSend_, work_.folderID.toInt(), contentNumber, GetDefaultProjectVersion(),
      QStringLiteral("tool=v.") + ProgramIdentity::Version());
  if (!sent) {
    awaitingReply_ = false;
    Finish(Outcome::Fail(QStringLiteral("GetVersion: ") + VersionReply::ServerErrorText() +
                         QStringLiteral(" (0)")));
  }
}

void JobRun::OnVersionReply() {
  if (!awaitingReply_ || finished_) return;
  awaitingReply_ = false;
  if (!answered_) {
    answered_ = true;
    emit firstAnswer(path_);
  }
  // A stop pressed while the server was asked is heard once it has answered: the control takes
  // one request at a time.
  if (stop_.cancelled()) {
    Finish(Outcome::Stop());
    return;
  }
  VersionReply reply;
  const Outcome accepted = reply.Accept(control_.Response());
  if (!accepted.ok()) {
    Finish(accepted);
    return;
  }
  reply.SlideSize(&slideWidth_, &slideHeight_);
  if (work_.isProject()) {
    OnProjectReply(reply);
  } else if (phase_ == Phase::AskingServer) {
    OnFirstVideoReply(reply);
  } else {
    OnRecheckReply(reply);
  }
}

void JobRun::OnFirstVideoReply(const VersionReply& reply) {
  videoType_ = reply.Value("videotype");
  sendSource_ = reply.Flag("videosrc");
  // What the job will take once converted, from its bit rates.
  const qint64 required =
      RoundHalfEven(static_cast<double>(Kbps(work_.vBitRate) + Kbps(work_.aBitRate)) * 1000.0 *
                    work_.secDuration / (8.0 * 1024 * 1024));
  const Outcome quota = reply.CheckQuota(required);
  if (!quota.ok()) {
    Finish(quota);
    return;
  }
  if (work_.dstCvtType != 1) {
    Convert();
    return;
  }
  const QString conversion = KeptWork::ConversionKey(work_, videoType_, sendSource_);
  if (!kept_.ReuseConversion(conversion)) {
    const Outcome copied = VideoConverter::CopySourceForServer(work_, path_, workFolder_);
    if (!copied.ok()) {
      Finish(copied);
      return;
    }
    kept_.MarkConverted(conversion);
  }
  // The server converts: its first answer is the only one.
  PassGate(Gate::BeforeRecheck,
           [this, overwrite = reply.overwrite()] { DecideOverwrite(overwrite); });
}

void JobRun::OnRecheckReply(const VersionReply& reply) {
  if (phase_ == Phase::Rechecking) {
    const Outcome quota = reply.CheckFolderQuota(workFolder_);
    if (!quota.ok()) {
      Finish(quota);
      return;
    }
  }
  DecideOverwrite(reply.overwrite());
}

void JobRun::DecideOverwrite(const QString& overwrite) {
  if (overwrite == QLatin1String("1")) {
    const MsgAnswer answer = questions_.AskOverwrite(Res("msgOverwrite"));
    if (answer == MsgAnswer::No) {
      contentNumber_ = QStringLiteral("0");
    } else if (answer != MsgAnswer::Yes) {
      Finish({Outcome::Status::Canceled, {}});
      return;
    }
  } else if (overwrite == QLatin1String("2") || overwrite == QLatin1String("3")) {
    Finish(VersionReply::RefuseTarget(overwrite));
    return;
  }
  PackAndUpload(false);
}

void JobRun::Convert() {
  // A video converted from this source with these settings before is not converted again.
  const QString key = KeptWork::ConversionKey(work_, videoType_, sendSource_);
  if (kept_.ReuseConversion(key)) {
    PassGate(Gate::BeforeRecheck, [this] { AskAgain(); });
    return;
  }
  SetPhase(Phase::Converting);
  ConversionSettings conversion;
  conversion.mp4 = videoType_ == QLatin1String("mp4");
  conversion.keepSource = sendSource_;
  conversion.processors = settings_.processors;
  conversion.highSpeed = settings_.highSpeed;
  context_.outputText.clear();
  conversion_ = new BackgroundConversion(work_, conversion, stop_, this);
  connect(conversion_, &BackgroundConversion::stamped, this, &JobRun::StampRow);
  connect(conversion_, &BackgroundConversion::outputChanged, this, [this](const QString& text) {
    context_.outputText = text;
    emit outputChanged(text);
  });
  connect(conversion_, &BackgroundConversion::progressChanged, &context_,
          &RunContext::progressChanged);
  connect(conversion_, &BackgroundConversion::finished, this,
          [this, key](const Outcome& converted) { OnConverted(converted, key); });
  conversion_->Start(path_, workFolder_);
}

void JobRun::OnConverted(const Outcome& converted, const QString& key) {
  conversion_->deleteLater();
  conversion_ = nullptr;
  if (!converted.ok()) {
    Finish(converted);
    return;
  }
  kept_.MarkConverted(key);
  PassGate(Gate::BeforeRecheck, [this] { AskAgain(); });
}

void JobRun::AskAgain() {
  if (work_.title.isEmpty()) {
    work_.title = QStringLiteral("Title, ") +
                  QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
  }
  emit statusChanged(Res("msgConnect", QStringLiteral("Conncecting server ...")));
  AskServer(-1);
}

void JobRun::PassGate(Gate gate, std::function<void()> next) {
  if (stop_.cancelled()) {
    Finish(Outcome::Stop());
    return;
  }
  if (!closed_[static_cast<int>(gate)]) {
    next();
    return;
  }
  waitingAt_ = gate;
  resume_ = std::move(next);
  emit held(path_, gate);
}

void JobRun::Release(Gate gate) {
  closed_[static_cast<int>(gate)] = false;
  if (!resume_ || waitingAt_ != gate) return;
  // Queued: the caller is often the driver hearing another run's event, deep in its stack.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!resume_ || finished_) return;
        auto next = std::move(resume_);
        resume_ = nullptr;
        next();
      },
      Qt::QueuedConnection);
}

void JobRun::PackAndUpload(bool project) {
  if (stop_.cancelled()) {
    Finish(Outcome::Stop());
    return;
  }
  const Outcome packed = Pack(project);
  if (!packed.ok()) {
    Finish(packed);
    return;
  }
  PassGate(Gate::BeforeUpload, [this] {
    StampRow(JobTime::UploadBegin);
    Finish(Upload());
  });
}

Outcome JobRun::Pack(bool project) {
  SetPhase(Phase::Packing);
  const QString packing =
      KeptWork::PackingKey(work_, KeptWork::ConversionKey(work_, videoType_, sendSource_));
  // An archive kept whole is sent as it is. A project's folder may change without its file
  // changing, so a project is packed every time.
  if (!project && kept_.ReuseArchive(packing)) return Outcome::Done();
  QString why;
  const bool written =
      project ? UploadPackage::WriteProjectMetadataProfile(
                    workFolder_, {work_.title, work_.Author, project_.Keywords, project_.Comments},
                    &why)
              : UploadPackage::WriteMetadataProfile(workFolder_, work_, sendSource_, &why);
  if (!written) return {Outcome::Status::Unexpected, why};
  kept_.ForgetArchive();
  const QString archive = JoinPath(archiveFolder_, QLatin1String(UploadPackage::kArchiveName));
  RecreateFolder(archiveFolder_);
  emit statusChanged(Res("msgPack", QStringLiteral("Packing files.")));
  UploadPackage::Pack(workFolder_, archive,
                      project ? UploadPackage::PresentationFile(workFolder_) : QString(), stop_);
  if (stop_.cancelled()) return Outcome::Stop();
  if (!QFileInfo::exists(archive)) {
    const QString text = Res("msgPackError", QStringLiteral("Packing file error!"));
    emit statusChanged(text);
    return Outcome::Fail(text);
  }
  if (!project) kept_.MarkPacked(packing);
  return Outcome::Done();
}

Outcome JobRun::Upload() {
  SetPhase(Phase::Uploading);
  const QString archive = JoinPath(archiveFolder_, QLatin1String(UploadPackage::kArchiveName));
  const qint64 archiveBytes = QFileInfo(archive).size();
  UploadStep::Request request{
      work_.Url, work_.account, passwordToSend_, work_.folderID.toInt(), contentNumber_.toInt(),
      archive};
  UploadStep::Events events;
  events.status = [this](const QString& text) { emit statusChanged(text); };
  auto acknowledged = std::make_shared<qint64>(0);  // bytes the server has taken so far
  events.progress = [this, acknowledged, archiveBytes](int percent) {
    emit progress(path_, phase_, percent, 100, *acknowledged, archiveBytes);
  };
  events.acknowledged = [acknowledged](qint64 bytes) { *acknowledged = bytes; };
  events.note = [this](const QString& line) {
    UploadStep::AddNote(&context_.outputText, line);
    context_.PublishOutput();
  };
  events.registering = [this] { SetPhase(Phase::Registering); };
  QString contentID;
  const Outcome sent =
      UploadRetry(control_, stop_, pause_, settings_.retry.value_or(RetrySchedule::FromSettings()))
          .Run(request, events, &contentID);
  if (!sent.ok()) return sent;
  emit progress(path_, phase_, 100, 100, archiveBytes, archiveBytes);
  emit statusChanged(Res("msgComplete", QStringLiteral("Uploading data ... Finished!")));
  WriteProjectProfile(workFolder_, work_.Url, work_.folderID, contentID);
  return Outcome::Done();
}

void JobRun::Stop() {
  if (finished_) return;
  stop_.Cancel();
  if (resume_) {
    resume_ = nullptr;
    Finish(Outcome::Stop());
    return;
  }
  // The check of a media store cannot be interrupted; the run stops waiting for it.
  if (phase_ == Phase::CheckingStore && storeCheck_ != nullptr) {
    storeCheck_->Abandon();
    Finish(Outcome::Stop());
  }
}

void JobRun::Finish(const Outcome& outcome) {
  if (finished_) return;
  finished_ = true;
  const QString cancelText = Res("lInfoCancel");
  switch (outcome.status) {
    case Outcome::Status::Finished:
      StampRow(JobTime::UploadEnd);
      SetRow(JobState::Finished);
      break;
    case Outcome::Status::Stopped:
      SetRow(JobState::Waiting);
      emit infoChanged(cancelText);
      emit statusChanged(cancelText);
      break;
    case Outcome::Status::Canceled:
      SetRow(JobState::Canceled);
      emit infoChanged(cancelText);
      break;
    case Outcome::Status::Unexpected:
    case Outcome::Status::Failed:
    case Outcome::Status::UploadFailed: {
      QString text = outcome.message;
      if (outcome.status == Outcome::Status::Unexpected) {
        text = QStringLiteral("upload error! ") + outcome.message;
        questions_.Tell(text, MsgIcon::Critical);
        emit statusChanged(Res("msgError"));
      }
      queue_.SetFailure(path_, text);
      emit jobChanged(path_);
      const UploadJob* job = queue_.item(path_);
      const QString info = (job != nullptr ? job->errorText : QString()) + Res("lInfoFail");
      emit infoChanged(info);
      if (outcome.status == Outcome::Status::UploadFailed) emit statusChanged(info);
      break;
    }
  }
  // What the run made stays in the job's kept folder: a failed or stopped job starts from it
  // again, and the driver's sweep deletes a finished job's.
  SetPhase(Phase::Done);
  emit finished(outcome);
}

}  // namespace cf
