#pragma once

#include "app/updater/modUpdate.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// The update steps of the main window's start-up timer: wait while the updater program still
// runs, offer a downloaded newer version, and fetch a fresh version list for the next start.
class UpdateStartup : public QObject {
  Q_OBJECT

 public:
  enum class Next {
    CheckAgain,  // the updater is still running: tick again in a second
    Close,       // the main window must close
    Closed,      // an update was taken: the main window is closed and the updater started
    Done,        // start-up goes on
  };

  // `addButton` is kept disabled while the steps run.
  UpdateStartup(QWidget* mainWindow, QWidget* addButton, QString windowTitle, QString ownVersion);
  ~UpdateStartup() override;

  // One tick of the start-up timer, counted from 1.
  Next Tick(int tick);

  // Offers the saved list's newest version when it is due. True when the update was taken: the
  // main window has been closed and the updater started.
  bool ShowNewVersionNotice(const QString& serverBase);

  // Ticks on which the running updater is looked for before the program gives up.
  static constexpr int kUpdaterChecks = 3;

 private:
  void RestoreWindow();

  QPointer<QWidget> mainWindow_;
  QPointer<QWidget> addButton_;
  QString windowTitle_;
  QString ownVersion_;
  UpdaterChoice updater_;
  bool busyCursor_ = false;
  bool addWasEnabled_ = false;
};
