#include "app/queue/RunIndicators.h"

#include "app/queue/JobDriver.h"
#include "app/queue/UploadQueue.h"
#include "app/services/modLanguage.h"
#include "platform/desktop/DesktopNotification.h"

#include <QCoreApplication>
#include <QLabel>
#include <QWidget>

RunIndicators::RunIndicators(QWidget& window, QLabel& status, QLabel& jobOfQueue,
                             const cf::UploadQueue& queue, cf::JobDriver& driver)
    : QObject(&window), window_(window), queue_(queue), jobOfQueue_(jobOfQueue), progress_(queue) {
  // Followed before the status line is connected, so a status text sees the figures of the
  // progress event that came just before it.
  progress_.Follow(driver);
  connect(&driver, &cf::JobDriver::statusChanged, &status,
          [this, &status](const QString& text) { status.setText(progress_.StatusText(text)); });
  connect(&progress_, &cf::RunProgress::changed, this, &RunIndicators::Show);
  connect(&driver, &cf::JobDriver::jobChanged, this, &RunIndicators::OnJobChanged);
  // Made before the window's own handler, which asks notified() whether to show its box.
  connect(&driver, &cf::JobDriver::queueFinished, this, &RunIndicators::OnQueueFinished);
  connect(&driver, &cf::JobDriver::runningChanged, this, [this](bool running) {
    if (!running) return;
    notified_ = false;
    failuresTold_.clear();
  });
  jobOfQueue_.clear();
  jobOfQueue_.hide();
}

void RunIndicators::Show() {
  if (!progress_.running()) {
    jobOfQueue_.hide();
    if (!title_.isEmpty()) window_.setWindowTitle(title_);
    title_.clear();
    return;
  }
  if (title_.isEmpty()) title_ = window_.windowTitle();
  if (progress_.jobNumber() > 0) {
    jobOfQueue_.setText(GetResString(QStringLiteral("frmUpload"), QStringLiteral("lJobOfQueue"),
                                     QStringLiteral("Job %1 of %2"))
                            .arg(progress_.jobNumber())
                            .arg(progress_.jobCount()));
    jobOfQueue_.show();
  }
  const QString title =
      QStringLiteral("%1% - %2").arg(QString::number(progress_.overallPercent()), title_);
  if (window_.windowTitle() != title) window_.setWindowTitle(title);
}

bool RunIndicators::Notify(const QString& summary, const QString& body) {
  return cf::desktop::DesktopNotification::Notify(QCoreApplication::applicationName(), summary,
                                                  body);
}

void RunIndicators::OnJobChanged(const QString& path) {
  const cf::UploadJob* job = queue_.item(path);
  if (job == nullptr || job->live != cf::JobState::Failed || failuresTold_.contains(path)) return;
  // Someone at the window sees the row turn red.
  if (window_.isActiveWindow()) return;
  failuresTold_.insert(path);
  Notify(GetResString(QStringLiteral("frmUpload"), QStringLiteral("msgJobFailedNotify"),
                      QStringLiteral("Upload failed: %1"))
             .arg(job->title.isEmpty() ? job->fileName : job->title),
         job->errorText);
}

void RunIndicators::OnQueueFinished(const cf::QueueSummary& summary) {
  // A run the user stopped needs no telling.
  if (summary.last.status == cf::Outcome::Status::Stopped) return;
  notified_ = Notify(GetResString(QStringLiteral("frmUpload"), QStringLiteral("msgQueueNotify"),
                                  QStringLiteral("%1 uploaded, %2 failed"))
                         .arg(QString::number(summary.finished), QString::number(summary.failed)),
                     QString());
}
