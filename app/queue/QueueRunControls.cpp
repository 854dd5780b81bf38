#include "app/queue/QueueRunControls.h"

#include "app/queue/JobDriver.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/UploadQueue.h"
#include "ui_frmUpload.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QLabel>

#include <algorithm>

namespace cf {

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
