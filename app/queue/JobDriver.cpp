#include "app/queue/JobDriver.h"

#include "app/queue/KeptWork.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/UserQuestions.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

namespace cf {

JobDriver::JobDriver(UploadQueue& queue, UploadControl& control, UserQuestions& questions,
                     QObject* parent)
    : QObject(parent), queue_(queue), control_(control), questions_(questions) {
  // Removed or cleared jobs take their kept work with them; a running job is never removed.
  const auto leaving = [this](int first, int last) {
    for (int row = first + 1; row <= last + 1; ++row) {
      const UploadJob* job = queue_.AtRow(row);
      if (job != nullptr && job->live != JobState::Transfering) leaving_ << job->path;
    }
  };
  const auto gone = [this] {
    for (const QString& path : std::as_const(leaving_)) KeptWork::Discard(path);
    leaving_.clear();
  };
  connect(&queue_, &UploadQueue::rowsAboutToBeRemoved, this, leaving);
  connect(&queue_, &UploadQueue::rowsRemoved, this, gone);
  connect(&queue_, &UploadQueue::aboutToReset, this,
          [this, leaving] { leaving(0, queue_.RowCount() - 1); });
  connect(&queue_, &UploadQueue::wasReset, this, gone);
}

QString QueueSummary::Text() const {
  return GetResString(QStringLiteral("frmUpload"), QStringLiteral("msgQueueSummary"),
                      QStringLiteral("%1 uploaded, %2 failed, %3 stopped"))
      .arg(finished)
      .arg(failed)
      .arg(stopped);
}

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
  SweepKeptWork();

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
  // The run may still be on the stack (this is its last signal).
  run->disconnect(this);
  run->deleteLater();

  if (outcome.ok()) {
    ++summary_.finished;
  } else if (outcome.status == Outcome::Status::Stopped) {
    ++summary_.stopped;
  } else {
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
  SweepKeptWork();
  return true;
}

void JobDriver::SweepKeptWork() { KeptWork::Sweep(queue_); }

}  // namespace cf
