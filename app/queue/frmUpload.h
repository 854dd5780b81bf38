#pragma once

#include "app/queue/JobDriver.h"
#include "app/queue/PauseButton.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/UserQuestions.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class frmUpload;
}
namespace cf::desktop {
class KeepAwake;
}
class UpdateStartup;
class MavoControl;
class RunIndicators;

// The main window: the upload queue with its grid and commands. It holds no job logic of its own;
// it wires the grid model, the queue commands and the job driver to the widgets, hosts the upload
// control, and runs the start-up and closing steps.
class frmUpload : public QWidget {
  Q_OBJECT

 public:
  explicit frmUpload(QWidget* parent = nullptr);
  ~frmUpload() override;

  // The full window title ("caption - v.version") that only one running copy may show.
  static QString WindowTitle() { return ProgramIdentity::WindowTitle(); }
  // The program version, as the caption and the server are told it.
  static QString ProgramVersion() { return ProgramIdentity::Version(); }

  cf::QueueGridModel& grid() { return grid_; }
  cf::UploadQueue& queue() { return queue_; }
  Ui::frmUpload& form() { return *ui_; }
  // Null when the upload control could not be created.
  cf::JobDriver* driver() { return driver_.get(); }

  // The processor check of the start-up timer: more than two processors offer the high-speed
  // conversion, set from its setting; otherwise the box is cleared, disabled and says why.
  void ApplyProcessorCheck(int processors);
  // The first tick of the start-up timer, callable directly by tests.
  void RunStartupTick();
  // Requests of another process (clipferry-cli add, remove, clear): a queue document holding jobs
  // to add, or a remove or clear request (QueueRequests.h). Returns what to tell the sender, one
  // line per job, e.g. "added PATH" or "removed PATH".
  QByteArray AcceptHandedJobs(const QByteArray& document);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void SetupGrid();
  void LoadQueue();
  // Reads the queue file (when the queue is kept) and from then on keeps it current; once.
  void LoadQueueOnce();
  void StartAutoSave();
  void SaveQueueOnClose();
  QList<int> SelectedRows() const;
  void ApplySelectionRule();
  void ReselectAfterCommand(int row);
  void ShowQueueMessage(const cf::QueueMessage& message);

  void cmdAdd_Click();
  void cmdAddKqp_Click();
  template <typename Dialog>
  void RunAddDialog();
  void cmdEdit_Click();
  void cmdRemove_Click();
  void cmdClearAll_Click();
  void cmdExit_Click();
  void cmdStartUpload_Click();
  void cmdStopUpload_Click();
  void ConnectDriver();
  void ShowPhase(const QString& path, cf::JobRun::Phase phase);
  void ShowRunButtons();

  std::unique_ptr<Ui::frmUpload> ui_;
  cf::UploadQueue queue_;
  cf::QueueGridModel grid_;
  cf::QueueCommands commands_;
  // Created once the queue file has been read, so the read never writes it back.
  std::unique_ptr<cf::QueueAutoSave> autoSave_;
  std::unique_ptr<cf::desktop::KeepAwake> keepAwake_;
  QTimer tmrInit_;
  int initTicks_ = 0;
  UpdateStartup* updateStartup_ = nullptr;
  std::unique_ptr<MavoControl> mavo_;
  QString mavoError_;
  cf::MessageQuestions questions_;
  std::unique_ptr<cf::JobDriver> driver_;
  // Status line, "Job i of N", title percent (a child of the window).
  RunIndicators* runIndicators_ = nullptr;
  QTimer packingDots_;
  static constexpr int kPackingDotsMs = 700;
};
