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
  // Runs still going when their owner goes must not report to it.
  for (JobRun* run : {run_, next_}) {
    if (run == nullptr) continue;
    run->disconnect(this);
    delete run;
  }
}

void JobDriver::SetRunning(bool running) {
  if (running_ == running) return;
  running_ = running;
  if (running) {
    summary_ = QueueSummary{};
    stopAsked_ = false;
  }
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
  run_ = MakeRun(next);
  SetRunning(true);
  emit phaseChanged(run_->path(), run_->phase());
  run_->Begin();
}

JobRun* JobDriver::MakeRun(const QString& path) {
  auto* run = new JobRun(path, queue_, control_, questions_, settings_, this);
  if (overlap_) run->Hold(JobRun::Gate::BeforeUpload);
  connect(run, &JobRun::jobChanged, this, &JobDriver::jobChanged);
  // The front job speaks on the status line; the one beside it only through its row.
  connect(run, &JobRun::phaseChanged, this, [this, run](const QString& path, JobRun::Phase phase) {
    if (run == run_) {
      emit phaseChanged(path, phase);
    } else if (phase != JobRun::Phase::Done) {
      emit nextJobChanged(path, phase, -1, false);
    }
  });
  connect(run, &JobRun::progress, this,
          [this, run](const QString& path, JobRun::Phase phase, qint64 done, qint64 total,
                      qint64 bytes, qint64 bytesTotal) {
            if (run == run_) {
              emit progress(path, phase, done, total, bytes, bytesTotal);
            } else if (phase == JobRun::Phase::Converting && total > 0) {
              emit nextJobChanged(path, phase, static_cast<int>(done * 100 / total), false);
            }
          });
  const auto fromFront = [this, run](void (JobDriver::*signal)(const QString&)) {
    return [this, run, signal](const QString& text) {
      if (run == run_) emit(this->*signal)(text);
    };
  };
  connect(run, &JobRun::statusChanged, this, fromFront(&JobDriver::statusChanged));
  connect(run, &JobRun::infoChanged, this, fromFront(&JobDriver::infoChanged));
  connect(run, &JobRun::outputChanged, this, fromFront(&JobDriver::outputChanged));
  connect(run, &JobRun::held, this,
          [this, run](const QString&, JobRun::Gate gate) { OnHeld(run, gate); });
  connect(run, &JobRun::firstAnswer, this, [this, run] {
    if (run == next_ && run_ != nullptr) run_->Release(JobRun::Gate::BeforeUpload);
  });
  connect(run, &JobRun::finished, this,
          [this, run](const Outcome& outcome) { OnRunFinished(run, outcome); });
  return run;
}

void JobDriver::OnHeld(JobRun* run, JobRun::Gate gate) {
  // The job beside waits for the front one to end; OnRunFinished releases it.
  if (run == next_) emit nextJobChanged(run->path(), run->phase(), -1, true);
  if (gate != JobRun::Gate::BeforeUpload || run != run_) return;
  const QString path = queue_.NextWaiting();
  if (next_ != nullptr || closing_ || path.isEmpty()) {
    run_->Release(gate);
    return;
  }
  // The front job's upload waits for the next job's first answer, so that answer never has to
  // share the server with the upload.
  next_ = MakeRun(path);
  next_->Hold(JobRun::Gate::BeforeRecheck);
  emit nextJobChanged(path, next_->phase(), -1, false);
  next_->Begin();
}

void JobDriver::Count(const Outcome& outcome) {
  if (outcome.ok()) {
    ++summary_.finished;
  } else if (outcome.status == Outcome::Status::Stopped) {
    ++summary_.stopped;
  } else {
    ++summary_.failed;
  }
  summary_.last = outcome;
}

void JobDriver::OnRunFinished(JobRun* run, const Outcome& outcome) {
  // The run may still be on the stack (this is its last signal).
  run->disconnect(this);
  run->deleteLater();
  // A job beside that the driver sent back because the queue ended was not stopped by anyone.
  if (run != dismissed_ || outcome.status != Outcome::Status::Stopped) Count(outcome);
  if (run == next_) {
    next_ = nullptr;
    emit nextJobChanged(run->path(), JobRun::Phase::Done, -1, false);
    if (run_ != nullptr) {
      // It ended first (it failed or was stopped): the front job goes on alone.
      run_->Release(JobRun::Gate::BeforeUpload);
    } else {
      EndQueue();
    }
    return;
  }
  run_ = nullptr;
  lastWorkFolder_ = run->workFolder();
  const bool goesOn = outcome.continuesQueue() && !closing_;
  if (next_ != nullptr) {
    if (!goesOn) {
      // The queue ends with this job; the one beside goes back to "Waiting" and ends it.
      if (!stopAsked_) dismissed_ = next_;
      next_->Stop();
      return;
    }
    // The job beside becomes the front one: it asks the server again, packs and uploads.
    run_ = next_;
    next_ = nullptr;
    emit nextJobChanged(run_->path(), JobRun::Phase::Done, -1, false);
    emit phaseChanged(run_->path(), run_->phase());
    emit outputChanged(run_->outputText());
    run_->Release(JobRun::Gate::BeforeRecheck);
    return;
  }
  if (goesOn && queue_.AnyInState(JobState::Waiting)) {
    // Queued, so a long queue does not nest one job's handlers inside the previous one's.
    QMetaObject::invokeMethod(this, &JobDriver::Start, Qt::QueuedConnection);
    return;
  }
  EndQueue();
}

void JobDriver::EndQueue() {
  dismissed_ = nullptr;
  SetRunning(false);
  emit queueFinished(summary_);
}

void JobDriver::Stop() {
  stopAsked_ = true;
  // The job beside first: a front job held for it then ends without starting anything.
  if (next_ != nullptr) next_->Stop();
  if (run_ != nullptr) run_->Stop();
}

void JobDriver::Pause() {
  stopAsked_ = true;
  if (next_ != nullptr) next_->Stop();
  if (run_ != nullptr) run_->Pause();
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
