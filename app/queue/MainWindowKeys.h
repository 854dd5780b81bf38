#pragma once

#include <QObject>

class frmUpload;
class QKeyEvent;

// The main window's keyboard rules beyond Qt's own. Escape closes the window only when it was
// pressed and released on it: the release that follows an Escape which closed a dialog or a
// message box lands on the main window and must not close it too. Delete in the queue removes
// the selected rows after a question, as Remove would.
class MainWindowKeys : public QObject {
  Q_OBJECT

 public:
  explicit MainWindowKeys(frmUpload& window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool FilterEscape(QObject* watched, const QKeyEvent& key);
  void AskAndRemove();

  frmUpload& window_;
  // An Escape was pressed on the main window and has not been released yet.
  bool escapeArmed_ = false;
};
