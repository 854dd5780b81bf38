#include "app/queue/frmUpload.h"

#include "app/dialogs/DialogShared.h"
#include "app/dialogs/frmAdd.h"
#include "app/dialogs/frmAddBatch.h"
#include "app/queue/MainWindowParts.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueFile.h"
#include "app/queue/QueueRequests.h"
#include "app/queue/QueueRunControls.h"
#include "app/queue/RunIndicators.h"
#include "app/services/FormTexts.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/WindowMavo.h"
#include "app/services/modConfig.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"
#include "app/updater/UpdateStartup.h"
#include "platform/desktop/KeepAwake.h"
#include "ui_frmUpload.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>

#include <type_traits>

namespace {

const QString kSection = QStringLiteral("frmUpload");
const QString kSettings = QString::fromLatin1(kSettingsSection);

QString Res(const QString& key, const QString& fallback = {}) {
  return GetResString(kSection, key, fallback);
}

}  // namespace

frmUpload::frmUpload(QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::frmUpload>()),
      queue_(),
      grid_(queue_),
      commands_(queue_) {
  ui_->setupUi(this);
  ApplyFormTexts(this);
  setWindowTitle(WindowTitle());

  SetupGrid();
  // The upload control lives on this window; the driver only sees its interface.
  mavo_ = CreateWindowMavo(this, &mavoError_);
  if (mavo_) {
    driver_ = std::make_unique<cf::JobDriver>(queue_, *mavo_, questions_);
    runIndicators_ = new RunIndicators(*this, *ui_->lStatus, *ui_->lJobOfQueue, queue_, *driver_);
    ConnectDriver();
  }
  new cf::QueueRunControls(*ui_, queue_, driver_.get(), this);

  ui_->cmdRemove->setEnabled(false);
  ui_->cmdEdit->setEnabled(false);
  ui_->cmdStartUpload->setEnabled(false);
  ui_->cmdStopUpload->setEnabled(false);
  ui_->lStatus->clear();
  ui_->lConvertInfo->clear();

  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  keepAwake_ = std::make_unique<cf::desktop::KeepAwake>(QStringLiteral("Uploading lecture videos"));

  connect(ui_->cmdAdd, &QPushButton::clicked, this, &frmUpload::cmdAdd_Click);
  connect(ui_->cmdAddKqp, &QPushButton::clicked, this, &frmUpload::cmdAddKqp_Click);
  connect(ui_->cmdEdit, &QPushButton::clicked, this, &frmUpload::cmdEdit_Click);
  connect(ui_->cmdRemove, &QPushButton::clicked, this, &frmUpload::cmdRemove_Click);
  connect(ui_->cmdClearAll, &QPushButton::clicked, this, &frmUpload::cmdClearAll_Click);
  connect(ui_->cmdExit, &QPushButton::clicked, this, &frmUpload::cmdExit_Click);
  connect(ui_->cmdStartUpload, &QPushButton::clicked, this, &frmUpload::cmdStartUpload_Click);
  connect(ui_->cmdStopUpload, &QPushButton::clicked, this, &frmUpload::cmdStopUpload_Click);
  connect(ui_->gridQueue->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &frmUpload::ApplySelectionRule);
  // A selected row that starts, fails or finishes changes what Edit and Remove may do with it.
  connect(&queue_, &cf::UploadQueue::jobChanged, this, &frmUpload::ApplySelectionRule);

  tmrInit_.setSingleShot(true);
  tmrInit_.setInterval(10);
  connect(&tmrInit_, &QTimer::timeout, this, &frmUpload::RunStartupTick);
  InstallMainWindowParts(*this);
}

frmUpload::~frmUpload() = default;

void frmUpload::SetupGrid() {
  QFont base = ui_->gridQueue->font();
  grid_.setBaseFont(base);
  grid_.setHeaderTexts([](const QString& headerKey) { return Res(headerKey); });
  ui_->gridQueue->setModel(&grid_);
  ui_->gridQueue->verticalHeader()->hide();
  ui_->gridQueue->verticalHeader()->setDefaultSectionSize(ui_->gridQueue->fontMetrics().height() +
                                                          6);
  const auto& columns = cf::QueueGridModel::Columns();
  for (int i = 0; i < cf::QueueGridModel::kColumnCount; ++i) {
    ui_->gridQueue->setColumnWidth(i, columns[static_cast<size_t>(i)].width);
  }
}

void frmUpload::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (initTicks_ == 0 && !tmrInit_.isActive()) tmrInit_.start();
}

void frmUpload::RunStartupTick() {
  ++initTicks_;
  tmrInit_.stop();
  tmrInit_.setInterval(1000);
  if (initTicks_ == 1) {
    ApplyProcessorCheck(LogicalProcessorCount());
    LoadQueueOnce();
    updateStartup_ = new UpdateStartup(this, ui_->cmdAdd, WindowTitle(), ProgramVersion());
  }
  if (!updateStartup_) return;
  switch (updateStartup_->Tick(initTicks_)) {
    case UpdateStartup::Next::CheckAgain:
      tmrInit_.start();
      return;
    case UpdateStartup::Next::Close:
      close();
      return;
    case UpdateStartup::Next::Closed:
    case UpdateStartup::Next::Done:
      return;
  }
}

void frmUpload::ConnectDriver() {
  cf::JobDriver* driver = driver_.get();
  cf::ConnectPauseButton(ui_->cmdPauseUpload, driver);
  connect(driver, &cf::JobDriver::infoChanged, ui_->lConvertInfo, &QLabel::setText);
  connect(driver, &cf::JobDriver::noWaitingJob, this,
          [this] { ui_->cmdStopUpload->setEnabled(false); });
  connect(driver, &cf::JobDriver::outputChanged, this, [this](const QString& text) {
    ui_->txtOutput->setPlainText(text);
    ui_->txtOutput->moveCursor(QTextCursor::End);
  });
  connect(driver, &cf::JobDriver::progress, this,
          [this](const QString&, cf::JobRun::Phase, qint64 done, qint64 total, qint64) {
            if (total > 0) ui_->ProgressBar1->setValue(static_cast<int>(done * 100 / total));
          });
  connect(driver, &cf::JobDriver::phaseChanged, this, &frmUpload::ShowPhase);
  connect(driver, &cf::JobDriver::runningChanged, this, [this] { ShowRunButtons(); });
  // Edit and Remove follow the selected row's state as the run changes it.
  connect(driver, &cf::JobDriver::jobChanged, this, [this] { ApplySelectionRule(); });
  connect(driver, &cf::JobDriver::queueFinished, this, [this](const cf::QueueSummary& summary) {
    if (!summary.last.ok()) return;
    const QString done = Res(QStringLiteral("msgComplete"));
    if (!done.isEmpty() && !runIndicators_->notified())
      ShowMessage(done, QString(), MsgButtons::Ok, MsgIcon::Information);
    const QString caption = GetResString(QStringLiteral("frmCommon"), QStringLiteral("btnExit"));
    if (!caption.isEmpty()) ui_->cmdExit->setText(caption);
  });
  // Packing gives no progress; the status line grows a dot now and then to show it works.
  packingDots_.setInterval(kPackingDotsMs);
  connect(&packingDots_, &QTimer::timeout, this,
          [this] { ui_->lStatus->setText(ui_->lStatus->text() + QLatin1Char('.')); });
  connect(ui_->chkHighSpeed, &QCheckBox::toggled, driver, &cf::JobDriver::setHighSpeed);
  driver->setHighSpeed(ui_->chkHighSpeed->isChecked());
  driver->setProcessors(LogicalProcessorCount());
}

void frmUpload::ShowPhase(const QString&, cf::JobRun::Phase phase) {
  using Phase = cf::JobRun::Phase;
  const bool converting = phase == Phase::Converting;
  ui_->lConvertInfo->setVisible(converting);
  ui_->txtOutput->setVisible(converting);
  if (phase == Phase::Packing) {
    packingDots_.start();
  } else {
    packingDots_.stop();
  }
  // The slide maker cannot be interrupted, and once every block is sent the server is filing the
  // upload: closing then would leave it half done.
  ui_->cmdStopUpload->setEnabled(driver_->running() && phase != Phase::MakingSlides &&
                                 phase != Phase::Done);
  ui_->cmdExit->setEnabled(phase != Phase::Registering);
  if (driver_->running()) ui_->cmdStartUpload->setEnabled(false);
}

// Between runs the buttons follow the queue and the selection, whatever ended the run.
void frmUpload::ShowRunButtons() {
  if (driver_->running()) {
    ui_->cmdStartUpload->setEnabled(false);
    ui_->cmdStopUpload->setEnabled(true);
    return;
  }
  packingDots_.stop();
  ui_->cmdStartUpload->setEnabled(queue_.AnyInState(cf::JobState::Waiting));
  ui_->cmdStopUpload->setEnabled(false);
  ui_->cmdExit->setEnabled(true);
  ApplySelectionRule();
}

void frmUpload::cmdStartUpload_Click() {
  if (!driver_) {
    ShowMessage(mavoError_, QString(), MsgButtons::Ok, MsgIcon::Critical);
    return;
  }
  driver_->Start();
}

void frmUpload::cmdStopUpload_Click() {
  if (driver_) driver_->Stop();
  ui_->cmdStopUpload->setEnabled(false);
  const QList<int> rows = SelectedRows();
  ReselectAfterCommand(rows.isEmpty() ? 0 : rows.first());
}

void frmUpload::ApplyProcessorCheck(int processors) {
  if (driver_) driver_->setProcessors(processors);
  if (HighSpeedAvailable(processors)) {
    ui_->chkHighSpeed->setEnabled(true);
    ui_->chkHighSpeed->setChecked(ReadPlainSetting(kSettings, QStringLiteral("chkHighSpeed"),
                                                   QStringLiteral("1")) == QLatin1String("1"));
    return;
  }
  ui_->chkHighSpeed->setEnabled(false);
  ui_->chkHighSpeed->setChecked(false);
  const QString reason = Res(QStringLiteral("msgBelowDualCore"));
  if (!reason.isEmpty() && !ui_->chkHighSpeed->text().endsWith(reason)) {
    ui_->chkHighSpeed->setText(ui_->chkHighSpeed->text() + QLatin1Char(' ') + reason);
  }
}

void frmUpload::LoadQueue() {
  const QString path = cf::QueueFile::PathIn(ProgramFolder());
  if (!QFile::exists(path)) return;
  ui_->chkRemQueue->setChecked(true);
  QString aside;
  switch (cf::QueueFile::Load(path, queue_, &aside)) {
    case cf::QueueFile::LoadResult::Loaded:
      ui_->cmdStartUpload->setEnabled(true);
      return;
    case cf::QueueFile::LoadResult::SetAside:
      // The damaged file is kept for the user, who is told where.
      ShowMessage(
          QStringLiteral("The saved queue could not be read. It was kept as\n%1").arg(aside),
          QString(), MsgButtons::Ok, MsgIcon::Warning);
      return;
    case cf::QueueFile::LoadResult::Unreadable:
      qWarning("The queue file %s could not be read", qPrintable(path));
      return;
    case cf::QueueFile::LoadResult::Missing:
    case cf::QueueFile::LoadResult::Discarded:
      return;
  }
}

void frmUpload::LoadQueueOnce() {
  if (autoSave_) return;
  ui_->chkRemQueue->setChecked(ReadPlainSetting(kSettings, QStringLiteral("chkRemQueue"),
                                                QStringLiteral("1")) == QLatin1String("1"));
  if (ui_->chkRemQueue->isChecked()) LoadQueue();
  StartAutoSave();
}

void frmUpload::StartAutoSave() {
  autoSave_ = std::make_unique<cf::QueueAutoSave>(queue_, cf::QueueFile::PathIn(ProgramFolder()));
  autoSave_->setEnabled(ui_->chkRemQueue->isChecked());
  connect(ui_->chkRemQueue, &QCheckBox::toggled, autoSave_.get(), &cf::QueueAutoSave::setEnabled);
  connect(autoSave_.get(), &cf::QueueAutoSave::saveFailed, this, [](const QString& path) {
    qWarning("The queue could not be saved to %s", qPrintable(path));
  });
}

QByteArray frmUpload::AcceptHandedJobs(const QByteArray& document) {
  // A job handed over before the start-up tick must not be written over by the queue file.
  LoadQueueOnce();
  const bool running = queue_.AnyInState(cf::JobState::Transfering);
  const cf::QueueRequestResult handed = cf::AnswerQueueRequest(commands_, queue_, document);
  if ((handed.added > 0 || handed.removed > 0) && !running)
    ui_->cmdStartUpload->setEnabled(queue_.AnyInState(cf::JobState::Waiting));
  return handed.answer;
}

QList<int> frmUpload::SelectedRows() const { return cf::SelectedGridRows(*ui_->gridQueue); }

void frmUpload::ApplySelectionRule() {
  const QModelIndex current = ui_->gridQueue->selectionModel()->currentIndex();
  const QList<int> selected = SelectedRows();
  const int row = current.isValid() && selected.contains(current.row() + 1) ? current.row() + 1
                  : selected.isEmpty()                                      ? 0
                                                                            : selected.first();
  const cf::QueueButtons buttons = commands_.selectionRuleForRow(row);
  ui_->cmdRemove->setEnabled(buttons.removeEnabled);
  ui_->cmdEdit->setEnabled(buttons.editEnabled);
}

// Add and AddKqp: refused while a job runs; afterwards the last row is selected when rows came in.
template <typename Dialog>
void frmUpload::RunAddDialog() {
  const cf::QueueMessage refusal = commands_.checkAdd();
  if (!refusal.isEmpty()) {
    ShowQueueMessage(refusal);
    return;
  }
  DialogShared::Instance().editRequest.clear();
  const int rowsBefore = queue_.RowCount();
  {
    Dialog dialog(queue_, this);
    if (dialog.exec() == QDialog::Accepted) {
      if constexpr (std::is_same_v<Dialog, frmAdd>) {
        commands_.commitAdd(dialog.job());
      } else {
        commands_.commitBatch(dialog.jobs());
      }
      if (!queue_.AnyInState(cf::JobState::Transfering)) ui_->cmdStartUpload->setEnabled(true);
    }
  }
  ui_->gridQueue->setFocus();
  if (queue_.RowCount() > rowsBefore) {
    ui_->gridQueue->selectRow(queue_.RowCount() - 1);
    ApplySelectionRule();
  }
}

void frmUpload::cmdAdd_Click() { RunAddDialog<frmAdd>(); }

void frmUpload::cmdAddKqp_Click() { RunAddDialog<frmAddBatch>(); }

void frmUpload::cmdEdit_Click() {
  const cf::EditCheck check = commands_.checkEdit(SelectedRows());
  switch (check.outcome) {
    case cf::EditCheck::Outcome::Refused:
      ShowQueueMessage(check.message);
      return;
    case cf::EditCheck::Outcome::FileMissing: {
      const QString text = check.message.key.isEmpty() ? check.message.text
                                                       : Res(check.message.key, check.message.text);
      const bool remove =
          ShowMessage(text, QString(), MsgButtons::YesNo, MsgIcon::Question) == MsgAnswer::Yes;
      commands_.resolveMissingFile(check.path, remove);
      ReselectAfterCommand(check.row);
      return;
    }
    case cf::EditCheck::Outcome::Ready:
      break;
  }
  if (!commands_.beginEdit(check.path)) return;
  EditRequest& request = DialogShared::Instance().editRequest;
  request.editing = true;
  request.path = check.path;
  request.row = check.row;
  {
    frmAdd dialog(queue_, this);
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    commands_.commitEdit(check.path, confirmed ? dialog.job() : std::nullopt);
    if (confirmed && !queue_.AnyInState(cf::JobState::Transfering))
      ui_->cmdStartUpload->setEnabled(true);
  }
  ReselectAfterCommand(check.row);
}

void frmUpload::ReselectAfterCommand(int row) {
  ui_->gridQueue->setFocus();
  if (queue_.RowCount() == 0 || row < 1) {
    ApplySelectionRule();
    return;
  }
  ui_->gridQueue->selectRow(std::min(row, queue_.RowCount()) - 1);
  ApplySelectionRule();
}

void frmUpload::ShowQueueMessage(const cf::QueueMessage& message) {
  if (message.isEmpty()) return;
  const QString text = message.key.isEmpty() ? message.text : Res(message.key, message.text);
  ShowMessage(text, QString(), MsgButtons::Ok, MsgIcon::Warning);
}

void frmUpload::cmdRemove_Click() {
  const QList<int> rows = SelectedRows();
  const int keep = rows.isEmpty() ? 0 : rows.first();
  const cf::RemoveOutcome outcome = commands_.removeSelected(rows);
  ShowQueueMessage(outcome.message);
  if (outcome.disableStartUpload) ui_->cmdStartUpload->setEnabled(false);
  ui_->gridQueue->clearSelection();
  ReselectAfterCommand(keep);
}

void frmUpload::cmdClearAll_Click() {
  const cf::QueueMessage question = commands_.clearAllQuestion();
  if (question.isEmpty()) return;
  const QString text = question.key.isEmpty() ? question.text : Res(question.key, question.text);
  if (ShowMessage(text, QString(), MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes) {
    ui_->gridQueue->setFocus();
    ApplySelectionRule();
    return;
  }
  commands_.clearAll();
  ui_->cmdStartUpload->setEnabled(false);
  ui_->gridQueue->setFocus();
  ApplySelectionRule();
}

void frmUpload::cmdExit_Click() { close(); }

void frmUpload::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyReleaseEvent(event);
}

void frmUpload::closeEvent(QCloseEvent* event) {
  if (driver_ ? !driver_->Close() : queue_.AnyInState(cf::JobState::Transfering)) {
    if (!driver_) {
      ShowMessage(
          Res(QStringLiteral("msgStopBeforeExit"), QStringLiteral("Please stop uploading first!")),
          QString(), MsgButtons::Ok, MsgIcon::Warning);
    }
    event->ignore();
    return;
  }
  SaveQueueOnClose();
  WritePlainSetting(kSettings, QStringLiteral("chkHighSpeed"),
                    ui_->chkHighSpeed->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
  WritePlainSetting(kSettings, QStringLiteral("chkRemQueue"),
                    ui_->chkRemQueue->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
  keepAwake_.reset();
  event->accept();
}

void frmUpload::SaveQueueOnClose() {
  const QString path = cf::QueueFile::PathIn(ProgramFolder());
  if (!ui_->chkRemQueue->isChecked()) {
    autoSave_.reset();
    DeleteFileForce(path);
    return;
  }
  // A failed save keeps the previous file; the window still closes, as the user asked.
  if (!cf::QueueFile::Save(path, queue_)) {
    qWarning("The queue could not be saved to %s", qPrintable(path));
  }
  autoSave_.reset();
}
