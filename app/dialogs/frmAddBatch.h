#pragma once

#include "app/dialogs/JobSetup.h"
#include "app/dialogs/modDirectory.h"
#include "app/queue/UploadJob.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QToolButton;
class QTreeWidget;
class ServerFolderPicker;
class frmConfirm;

namespace Ui {
class frmAddBatch;
}

namespace cf {
class UploadQueue;
}  // namespace cf

// Adds every video and recorded project found under a local folder: log in and pick the server
// folder as in the add dialog, pick the local folder, let the search list what it finds, select
// rows and confirm. Files that are already queued are confirmed one by one. The dialog changes no
// queue: on OK it holds the jobs for the caller, a job whose path is queued standing for that job.
class frmAddBatch : public QDialog {
  Q_OBJECT

 public:
  // Columns of the result list.
  enum Column : int { kColKind = 0, kColTitle, kColAuthor, kColRecDate, kColPath, kColumnCount };

  // What txtLocation reads until a folder is chosen; the search does nothing while it does.
  static constexpr char kSelectPath[] = "Please select the path";
  static constexpr char kPatterns[] =
      "*.kqp;*.wmv;*.mp4;*.m4v;*.mpg;*.mpeg;*.avi;*.m2ts;*.m2t;*.mts;*.flv;*.mov;*.mkv;*.3gp";
  static constexpr char kKindVideo[] = "Video";
  static constexpr char kKindProject[] = "Quillbox";
  static constexpr char kKindUnsupported[] = "*Unsupported";

  // `queue` is only read, to find the files that are queued already.
  explicit frmAddBatch(const cf::UploadQueue& queue, QWidget* parent = nullptr);
  ~frmAddBatch() override;

  ServerFolderPicker& picker() { return *picker_; }
  QLineEdit* txtServerIP() const { return txtServerIP_; }
  QLineEdit* txtAccount() const { return txtAccount_; }
  QLineEdit* txtPassword() const { return txtPassword_; }
  QPushButton* cmdLogIn() const { return cmdLogIn_; }
  QPushButton* cmdOK() const { return cmdOK_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }
  QPushButton* cmdBrowse() const { return cmdBrowse_; }
  QPushButton* cmdStopSearch() const { return cmdStopSearch_; }
  QLabel* lRefresh() const { return lRefresh_; }
  QLineEdit* txtLocation() const { return txtLocation_; }
  QTableWidget* gridQueue() const { return gridQueue_; }
  QProgressBar* progressBarSearch() const { return ProgressBarSearch_; }
  QRadioButton* optHiRes() const { return optHiRes_; }
  QRadioButton* optStdRes() const { return optStdRes_; }
  QGroupBox* frameFile() const { return frameFile_; }
  bool searching() const { return searching_; }
  // The confirmed jobs, in the order of the list; empty until OK.
  const std::vector<cf::UploadJob>& jobs() const { return jobs_; }

  // Called with every confirmation window before it is shown (tests answer it from here).
  void setConfirmHook(std::function<void(frmConfirm&)> hook) { confirmHook_ = std::move(hook); }
  // Called after every row the search adds.
  void setRowAddedHook(std::function<void(int rows)> hook) { rowAddedHook_ = std::move(hook); }

  void RunInitTick();
  // What choosing a folder in the folder picker does: show it and search it.
  void ChooseLocation(const QString& folder);
  void Search();
  // Searches each folder and takes each file of a known type, as one search.
  void SearchPaths(const QStringList& paths);
  void cmdOK_Click();
  void cmdCancel_Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildForm();
  void cmdBrowse_Click();
  void AddFoundFile(const QString& path);
  void AppendRow(const QString& kind, const QString& title, const QString& author,
                 const QString& date, const QString& path, bool unsupported);
  void AdvanceProgress();
  void EnableGroups(bool enable);
  void OnLoginStarted();
  void OnLoginFinished();
  void OnServerFieldsChanged();
  void SetButtonsEnabled(bool enable);
  // Prepares setup_ for one selected row; false when the row cannot be queued.
  bool PrepareRow(const QString& path);
  int AskDuplicate(const QString& path);
  QString Res(const QString& key, const QString& fallback = {}) const;
  // kSelectPath in the interface's language.
  QString SelectPathText() const;

  const cf::UploadQueue& queue_;
  std::vector<cf::UploadJob> jobs_;
  std::unique_ptr<Ui::frmAddBatch> ui_;
  std::unique_ptr<ServerFolderPicker> picker_;
  JobSetup setup_;
  modDirectory walker_;
  QTimer tmrInit_;
  bool initDone_ = false;
  bool searching_ = false;
  QString rememberedFolderID_;
  // Paths dropped on the main window, searched once the window shows.
  QStringList dropped_;
  std::function<void(frmConfirm&)> confirmHook_;
  std::function<void(int)> rowAddedHook_;

  QGroupBox* frameServer_ = nullptr;
  QLineEdit* txtServerIP_ = nullptr;
  QLineEdit* txtAccount_ = nullptr;
  QLineEdit* txtPassword_ = nullptr;
  QPushButton* cmdLogIn_ = nullptr;
  QLabel* lRefresh_ = nullptr;
  QLabel* lOldSysHelp_ = nullptr;
  QLabel* lFolder_ = nullptr;
  QWidget* picFolder_ = nullptr;
  QLabel* lFolderPath_ = nullptr;
  QToolButton* imgOpenTV_ = nullptr;
  QToolButton* imgOpenTVGray_ = nullptr;
  QTreeWidget* TreeView1_ = nullptr;
  QLabel* lAdWarning_ = nullptr;
  QGroupBox* frameFile_ = nullptr;
  QLabel* lLocation_ = nullptr;
  QLineEdit* txtLocation_ = nullptr;
  QPushButton* cmdBrowse_ = nullptr;
  QPushButton* cmdStopSearch_ = nullptr;
  QProgressBar* ProgressBarSearch_ = nullptr;
  QLabel* lHelp_ = nullptr;
  QTableWidget* gridQueue_ = nullptr;
  QGroupBox* frameVidSetting_ = nullptr;
  QLabel* lMaxVidSize_ = nullptr;
  QRadioButton* optHiRes_ = nullptr;
  QRadioButton* optStdRes_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};
