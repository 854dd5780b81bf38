#pragma once

#include "app/queue/JobRun.h"
#include "app/queue/TransferRate.h"

#include <QObject>
#include <QString>

#include <functional>

namespace cf {

class JobDriver;
class UploadQueue;

// How far a queue run has come, for the status line, the window title and the command line:
// which job of how many, the running upload's figures and the run's overall percent. Fed the job
// driver's events (Follow connects them); tests give a clock of their own.
class RunProgress : public QObject {
  Q_OBJECT

 public:
  // Milliseconds of a steady clock.
  using Clock = std::function<qint64()>;

  explicit RunProgress(const UploadQueue& queue, Clock clock = {}, QObject* parent = nullptr);

  void Follow(JobDriver& driver);
  void OnRunning(bool running);
  void OnPhase(const QString& path, JobRun::Phase phase);
  void OnProgress(const QString& path, JobRun::Phase phase, qint64 done, qint64 total, qint64 bytes,
                  qint64 bytesTotal = 0);

  bool running() const { return running_; }
  // 1-based number of the running job among the jobs of this run, and how many there are
  // (those done, the running one and those still waiting).
  int jobNumber() const { return started_; }
  int jobCount() const;
  // The upload's figures are known once the first acknowledged bytes came in.
  bool uploading() const { return uploading_ && figures_.total > 0; }
  const UploadFigures& figures() const { return figures_; }
  // The run's percent: every job counts the same, a converted job half for its conversion and
  // half for its upload.
  int overallPercent() const;
  // A status text as it is shown: the upload's "TEXT N%" line gets the figures.
  QString StatusText(const QString& status) const;

 signals:
  void changed();

 private:
  const UploadQueue& queue_;
  Clock clock_;
  TransferRate rate_;
  UploadFigures figures_;
  QString path_;
  bool running_ = false;
  bool uploading_ = false;
  bool converted_ = false;
  double jobFraction_ = 0;
  int started_ = 0;
};

}  // namespace cf
