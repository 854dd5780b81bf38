#include "app/queue/RunIndicators.h"

#include "app/queue/JobDriver.h"
#include "app/services/modLanguage.h"

#include <QLabel>
#include <QWidget>

RunIndicators::RunIndicators(QWidget& window, QLabel& status, QLabel& jobOfQueue,
                             const cf::UploadQueue& queue, cf::JobDriver& driver)
    : QObject(&window), window_(window), jobOfQueue_(jobOfQueue), progress_(queue) {
  // Followed before the status line is connected, so a status text sees the figures of the
  // progress event that came just before it.
  progress_.Follow(driver);
  connect(&driver, &cf::JobDriver::statusChanged, &status,
          [this, &status](const QString& text) { status.setText(progress_.StatusText(text)); });
  connect(&progress_, &cf::RunProgress::changed, this, &RunIndicators::Show);
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
