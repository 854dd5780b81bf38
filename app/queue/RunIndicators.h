#pragma once

#include "app/queue/RunProgress.h"

#include <QObject>
#include <QString>

class QLabel;
class QWidget;

namespace cf {
class JobDriver;
class UploadQueue;
}  // namespace cf

// A queue run's progress where people look: the status line with the upload's bytes, speed and
// time left, "Job i of N" beside the buttons, and the run's percent in the window title (and so
// in the task bar).
class RunIndicators : public QObject {
  Q_OBJECT

 public:
  RunIndicators(QWidget& window, QLabel& status, QLabel& jobOfQueue, const cf::UploadQueue& queue,
                cf::JobDriver& driver);

  const cf::RunProgress& progress() const { return progress_; }

 private:
  void Show();

  QWidget& window_;
  QLabel& jobOfQueue_;
  cf::RunProgress progress_;
  // The title without the percent, taken when a run starts.
  QString title_;
};
