#include "app/queue/QueueRunControls.h"

#include "app/queue/JobDriver.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/services/SettingsStore.h"
#include "app/services/modConfig.h"
#include "app/services/modLanguage.h"
#include "ui_frmUpload.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>

#include <algorithm>

namespace cf {

namespace {

const QString kOverlapKey = QStringLiteral("chkOverlap");

QString Res(const char* key, const char* fallback) {
  return GetResString(QStringLiteral("frmUpload"), QString::fromLatin1(key),
                      QString::fromUtf8(fallback));
}

}  // namespace

QueueRunControls::QueueRunControls(Ui::frmUpload& ui, UploadQueue& queue, JobDriver* driver,
                                   QObject* parent)
    : QObject(parent),
      retry_(ui.cmdRetry),
      start_(ui.cmdStartUpload),
      grid_(ui.gridQueue),
      queue_(queue) {
  retry_->setEnabled(false);
  connect(retry_, &QAbstractButton::clicked, this, &QueueRunControls::Retry);
  connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &QueueRunControls::UpdateRetry);
  // A selected row that fails while it is selected makes the button useful at once.
  connect(&queue_, &UploadQueue::jobChanged, this, &QueueRunControls::UpdateRetry);
  connect(&queue_, &UploadQueue::queueChanged, this, &QueueRunControls::UpdateRetry);
  if (driver == nullptr) return;
  QLabel* infoLine = ui.lConvertInfo;
  connect(driver, &JobDriver::queueFinished, infoLine, [infoLine](const QueueSummary& summary) {
    // The line is hidden outside a conversion; the summary is shown whatever ended the run.
    infoLine->setText(summary.Text());
    infoLine->setVisible(true);
  });

  QCheckBox* overlap = ui.chkOverlap;
  const QString settings = QString::fromLatin1(kSettingsSection);
  overlap->setChecked(ReadPlainSetting(settings, kOverlapKey, QStringLiteral("1")) ==
                      QLatin1String("1"));
  driver->setOverlap(overlap->isChecked());
  connect(overlap, &QCheckBox::toggled, driver, [driver, settings](bool on) {
    driver->setOverlap(on);
    WritePlainSetting(settings, kOverlapKey, on ? QStringLiteral("1") : QStringLiteral("0"));
  });
  auto* model = qobject_cast<QueueGridModel*>(grid_->model());
  if (model == nullptr) return;
  connect(driver, &JobDriver::nextJobChanged, model,
          [model](const QString& path, JobRun::Phase phase, int percent, bool ready) {
            QString activity;
            if (phase == JobRun::Phase::Done) {
              activity.clear();
            } else if (ready) {
              activity = Res("msgNextReady", "Converted, uploads next");
            } else if (percent >= 0) {
              activity = Res("msgNextConverting", "Converting %1%").arg(percent);
            } else {
              activity = Res("msgNextPreparing", "Preparing");
            }
            model->setActivity(path, activity);
          });
}

QList<int> SelectedGridRows(const QAbstractItemView& grid) {
  QList<int> rows;
  // A row counts as selected when its first cell is.
  for (const QModelIndex& index : grid.selectionModel()->selectedIndexes()) {
    if (index.column() == 0) rows.append(index.row() + 1);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

QList<int> QueueRunControls::SelectedRows() const { return SelectedGridRows(*grid_); }

void QueueRunControls::UpdateRetry() {
  retry_->setEnabled(!QueueCommands(queue_).failedAmong(SelectedRows()).isEmpty());
}

void QueueRunControls::Retry() {
  QueueCommands commands(queue_);
  const QStringList failed = commands.failedAmong(SelectedRows());
  if (failed.isEmpty()) return;
  commands.retry(failed);
  // While a job runs the driver takes the retried rows after it; otherwise Start does.
  if (!queue_.AnyInState(JobState::Transfering)) start_->setEnabled(true);
  UpdateRetry();
}

}  // namespace cf
