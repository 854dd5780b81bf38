#pragma once

#include "app/queue/JobRun.h"
#include "app/queue/Outcome.h"

#include <QObject>
#include <QString>
#include <QStringList>

class UploadControl;

namespace cf {

class UploadQueue;
class UserQuestions;

// How a queue run ended, for the window's closing message and the CLI's exit code.
struct QueueSummary {
  int finished = 0;
  int failed = 0;   // failed or canceled rows of this run
  int stopped = 0;  // jobs stopped by the user, back to "Waiting"
  Outcome last;     // the outcome of the job that ended the run

  // "N uploaded, M failed, K stopped" in the user's language.
  QString Text() const;
};

// The scheduler: runs the queued jobs in their order, each as a JobRun, and takes the commands
// Start, Stop and Close. With overlap on, the job after the front one is converted while the front
// one uploads: it asks the server its first question before that upload begins and its second
// after it has ended, so one request at a time still goes to the server, and jobs finish in
// their queue order. It knows no widgets: it emits what happened (a job's row changed, a run's
// phase, progress, output, the queue finished) and the window and the command line render that.
// Everything runs on the thread that owns it; long steps wait in nested event loops, so Stop and
// the control's events are heard while a step runs.
class JobDriver : public QObject {
  Q_OBJECT

 public:
  JobDriver(UploadQueue& queue, UploadControl& control, UserQuestions& questions,
            QObject* parent = nullptr);
  ~JobDriver() override;

  // Runs the next "Waiting" job (the start button).
  void Start();
  // Stops the running jobs, whatever their phase (the stop button).
  void Stop();
  // Stops the running job so that its upload continues at the next block when it starts again;
  // the job prepared beside it stops.
  void Pause();
  // The first part of closing: refused (false, after telling the user) while a row is
  // "Transfering"; otherwise stops what runs and deletes every kept folder no queued job owns.
  bool Close();
  // Deletes the kept folders of finished jobs and of jobs no longer queued (also those left by a
  // crash); the window calls it once the saved queue is loaded.
  void SweepKeptWork();

  void setHighSpeed(bool on) { settings_.highSpeed = on; }
  void setProcessors(int processors) { settings_.processors = processors; }
  // Convert the next video while one uploads; taken at the next job.
  void setOverlap(bool on) { overlap_ = on; }
  // The waits after a failed link; the user's setting unless set here.
  void setRetrySchedule(const RetrySchedule& schedule) { settings_.retry = schedule; }

  // A job is being run (from its start to the end of its upload or failure).
  bool running() const { return running_; }
  // The front job's phase (the one the status line follows); Done when none runs.
  JobRun::Phase phase() const { return run_ != nullptr ? run_->phase() : JobRun::Phase::Done; }
  // The work folder of the last job run (a finished job's is kept until the next start or closing).
  QString lastWorkFolder() const { return lastWorkFolder_; }

 signals:
  void runningChanged(bool running);
  void jobChanged(const QString& path);
  void phaseChanged(const QString& path, cf::JobRun::Phase phase);
  void progress(const QString& path, cf::JobRun::Phase phase, qint64 done, qint64 total,
                qint64 bytes, qint64 bytesTotal);
  void statusChanged(const QString& text);
  void infoChanged(const QString& text);
  void outputChanged(const QString& text);
  void queueFinished(const cf::QueueSummary& summary);
  // Start found jobs queued but none waiting: the stop button has nothing left to stop.
  void noWaitingJob();
  // What the job prepared beside the front one does: its phase, a conversion's percent (else -1),
  // and whether it has done all it can before the front job ends. The phase Done says it is no
  // longer beside (it ended or it is the front job now).
  void nextJobChanged(const QString& path, cf::JobRun::Phase phase, int percent, bool ready);

 private:
  JobRun* MakeRun(const QString& path);
  void OnHeld(JobRun* run, JobRun::Gate gate);
  void OnRunFinished(JobRun* run, const Outcome& outcome);
  void Count(const Outcome& outcome);
  void EndQueue();
  void SetRunning(bool running);

  UploadQueue& queue_;
  UploadControl& control_;
  UserQuestions& questions_;
  RunSettings settings_;
  JobRun* run_ = nullptr;        // the front job: the status line follows it
  JobRun* next_ = nullptr;       // the job converted while the front one uploads
  JobRun* dismissed_ = nullptr;  // a job beside sent back because the queue ended before it
  bool stopAsked_ = false;       // the user stopped or paused this run of the queue
  QueueSummary summary_;
  QString lastWorkFolder_;
  // Jobs whose rows are about to go; their kept folders go with them.
  QStringList leaving_;
  bool running_ = false;
  bool closing_ = false;
  bool overlap_ = false;
};

}  // namespace cf
