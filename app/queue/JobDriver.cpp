#include "app/queue/JobDriver.h"

#include "app/queue/UploadQueue.h"
#include "app/queue/UserQuestions.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

namespace cf {

JobDriver::JobDriver(UploadQueue& queue, UploadControl& control, UserQuestions& questions,
                     QObject* parent)
    : QObject(parent), queue_(queue), control_(control), questions_(questions) {}

JobDriver::~JobDriver() {
  // A run still going when its owner goes must not report to it.
  if (run_ != nullptr) run_->disconnect(this);
  delete run_;
}

void JobDriver::SetRunning(bool running) {
  if (running_ == running) return;
  running_ = running;
  if (running) summary_ = QueueSummary{};
  emit runningChanged(running);
}

void JobDriver::Start() {
  if (closing_ || run_ != nullptr) return;
  const QString next = queue_.NextWaiting();
  if (next.isEmpty()) {
    if (queue_.RowCount() > 0) emit noWaitingJob();
    SetRunning(false);
    questions_.Tell(QStringLiteral("Please add a video file!"), MsgIcon::Information);
    return;
  }
  // The last job's folder is kept only until the next one starts.
  for (const QString& folder : std::as_const(keptFolders_)) DeleteFolder(folder);
  keptFolders_.clear();

  run_ = new JobRun(next, queue_, control_, questions_, settings_, this);
  connect(run_, &JobRun::jobChanged, this, &JobDriver::jobChanged);
  connect(run_, &JobRun::phaseChanged, this, &JobDriver::phaseChanged);
  connect(run_, &JobRun::progress, this, &JobDriver::progress);
  connect(run_, &JobRun::statusChanged, this, &JobDriver::statusChanged);
  connect(run_, &JobRun::infoChanged, this, &JobDriver::infoChanged);
  connect(run_, &JobRun::outputChanged, this, &JobDriver::outputChanged);
  connect(run_, &JobRun::finished, this, &JobDriver::OnRunFinished);
  SetRunning(true);
  emit phaseChanged(run_->path(), run_->phase());
  run_->Begin();
}

void JobDriver::OnRunFinished(const Outcome& outcome) {
  JobRun* run = run_;
  run_ = nullptr;
  lastWorkFolder_ = run->workFolder();
  if (run->ownsWorkFolder() && outcome.ok()) keptFolders_.append(lastWorkFolder_);
  // The run may still be on the stack (this is its last signal).
  run->disconnect(this);
  run->deleteLater();

  if (outcome.ok()) {
    ++summary_.finished;
  } else if (outcome.status != Outcome::Status::Stopped) {
    ++summary_.failed;
  }
  summary_.last = outcome;
  if (outcome.continuesQueue() && !closing_ && queue_.AnyInState(JobState::Waiting)) {
    // Queued, so a long queue does not nest one job's handlers inside the previous one's.
    QMetaObject::invokeMethod(this, &JobDriver::Start, Qt::QueuedConnection);
    return;
  }
  SetRunning(false);
  emit queueFinished(summary_);
}

void JobDriver::Stop() {
  if (run_ != nullptr) run_->Stop();
}

bool JobDriver::Close() {
  if (queue_.AnyInState(JobState::Transfering)) {
    questions_.Tell(GetResString(QStringLiteral("frmUpload"), QStringLiteral("msgStopBeforeExit"),
                                 QStringLiteral("Please stop uploading first!")),
                    MsgIcon::Warning);
    return false;
  }
  closing_ = true;
  Stop();
  for (const QString& folder : std::as_const(keptFolders_)) DeleteFolder(folder);
  keptFolders_.clear();
  return true;
}

}  // namespace cf
