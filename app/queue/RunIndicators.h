#pragma once

#include "app/queue/RunProgress.h"

#include <QObject>
#include <QSet>
#include <QString>

class QLabel;
class QWidget;

namespace cf {
class JobDriver;
class UploadQueue;
struct QueueSummary;
}  // namespace cf

// A queue run's progress where people look: the status line with the upload's bytes, speed and
// time left, "Job i of N" beside the buttons, and the run's percent in the window title (and so
// in the task bar). The end of a run, and a job failing while the window is not the active one,
// become desktop notifications where the desktop offers them.
class RunIndicators : public QObject {
  Q_OBJECT

 public:
  RunIndicators(QWidget& window, QLabel& status, QLabel& jobOfQueue, const cf::UploadQueue& queue,
                cf::JobDriver& driver);

  const cf::RunProgress& progress() const { return progress_; }
  // The run that just ended was told by a notification, so no box needs to say it again.
  bool notified() const { return notified_; }

 private:
  void Show();
  void OnJobChanged(const QString& path);
  void OnQueueFinished(const cf::QueueSummary& summary);
  bool Notify(const QString& summary, const QString& body);

  QWidget& window_;
  const cf::UploadQueue& queue_;
  QLabel& jobOfQueue_;
  cf::RunProgress progress_;
  // The title without the percent, taken when a run starts.
  QString title_;
  QSet<QString> failuresTold_;
  bool notified_ = false;
};
