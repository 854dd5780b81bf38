#pragma once

#include <QList>
#include <QObject>

class QAbstractButton;
class QAbstractItemView;

namespace Ui {
class frmUpload;
}

namespace cf {

class JobDriver;
class UploadQueue;

// The window's controls for how a run ends and what comes after it:
// - Retry, enabled while a failed row is selected, puts the selected failed rows back to
//   "Waiting" (and Start may then be pressed);
// - when the queue stops, the information line says "N uploaded, M failed, K stopped";
// - "Convert the next video while uploading" (a setting, on unless turned off) and the row of the
//   job converted beside an upload, which shows what that job does.
// The queue rows (1-based, in order) whose first cell is selected in the grid.
QList<int> SelectedGridRows(const QAbstractItemView& grid);

class QueueRunControls : public QObject {
  Q_OBJECT

 public:
  // `driver` may be null (no upload control): there is no run to sum up then.
  QueueRunControls(Ui::frmUpload& ui, UploadQueue& queue, JobDriver* driver, QObject* parent);

 private:
  QList<int> SelectedRows() const;
  void UpdateRetry();
  void Retry();

  QAbstractButton* retry_;
  QAbstractButton* start_;
  QAbstractItemView* grid_;
  UploadQueue& queue_;
};

}  // namespace cf
