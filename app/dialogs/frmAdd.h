#pragma once

#include "app/dialogs/JobSetup.h"
#include "app/queue/UploadJob.h"

#include <QDialog>
#include <QTimer>

#include <memory>
#include <optional>

class QAbstractButton;
class QRadioButton;
class QToolButton;
class ServerFolderPicker;
class UploadControl;

namespace cf {
class UploadQueue;
}  // namespace cf

namespace Ui {
class frmAdd;
}

// The dialog that adds one video to the upload queue, or edits a queued job (DialogShared's
// EditRequest says which): log in and pick the folder, choose the file, the conversion and the
// resolution while watching the expected size, and confirm.
class frmAdd : public QDialog {
  Q_OBJECT

 public:
  // `queue` is only read, to refuse a file that is queued already. The dialog changes nothing:
  // on OK it holds the job for the caller to queue (or to put in place of the edited one).
  explicit frmAdd(const cf::UploadQueue& queue, QWidget* parent = nullptr);
  ~frmAdd() override;

  Ui::frmAdd& form() { return *ui_; }
  // The drop-down arrow of the folder box and its grey twin shown while the box is disabled.
  QToolButton* imgOpenTV() const { return imgOpenTV_; }
  ServerFolderPicker& picker() { return *picker_; }
  const JobSetup& setup() const { return setup_; }
  bool cancelled() const { return cancelled_; }
  // The job confirmed with OK; nothing when the dialog was closed otherwise.
  const std::optional<cf::UploadJob>& job() const { return job_; }
  // The queued job this dialog edits; empty when it adds one.
  const QString& editedPath() const { return editedPath_; }

  // The first tick of the start-up timer (runs on its own once the window shows).
  void RunInitTick();
  // What choosing a file in the file dialog does.
  void ChooseFile(const QString& path);
  // The file dropped on the main window, chosen now or held until the login.
  void TakeDroppedFile();
  void cmdOK_Click();
  void cmdCancel_Click();
  void lCustomBps_Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void cmdBrowse_Click();
  void OnLoginStarted();
  void OnLoggedIn();
  void OnServerFieldsChanged();
  void ProbeChosenFile();
  void OnConversionClicked(int32_t conversion);
  void OnResolutionClicked(int32_t resolution);

  void EnableSourceAndInfo(bool enable);
  void EnableVideoSettings(bool enable);
  void ApplyConversionRule(bool enable);
  void ApplyResolutionRule(bool enable);
  void ApplyResolutionCaptions(bool enable);
  void ShowDestination(bool enable);
  void ShowSourceSize(bool enable);
  void SetCustomBpsLabels(int32_t kbps, bool warn);
  void UpdateOkButton();
  // Sets an option without running its click handler.
  static void SelectQuietly(QRadioButton* option);
  QRadioButton* ConversionOption(int32_t conversion) const;
  QRadioButton* ResolutionOption(int32_t resolution) const;
  QString Res(const QString& key, const QString& fallback = {}) const;
  void ShowDialogMessage(const DialogMessage& message);

  std::unique_ptr<Ui::frmAdd> ui_;
  const cf::UploadQueue& queue_;
  QString editedPath_;
  std::optional<cf::UploadJob> job_;
  std::unique_ptr<ServerFolderPicker> picker_;
  JobSetup setup_;
  QToolButton* imgOpenTV_ = nullptr;
  QToolButton* imgOpenTVGray_ = nullptr;
  QTimer tmrInit_;
  bool initDone_ = false;
  bool cancelled_ = false;
  bool nearLimitWarned_ = false;
  bool videoGroupEnabled_ = false;
  // The chosen file is a project that opened and that the server accepts.
  bool projectOpened_ = false;
  QString rememberedFolderID_;
  QString droppedFile_;
};
