#include "app/dialogs/frmAddBatch.h"

#include "app/dialogs/DialogShared.h"
#include "app/dialogs/ServerFolderPicker.h"
#include "app/dialogs/frmConfirm.h"
#include "app/media/VideoProbe.h"
#include "app/project/CProjectFile.h"
#include "app/queue/UploadQueue.h"
#include "app/services/FormTexts.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/WindowPlace.h"
#include "app/services/modLanguage.h"
#include "ui_frmAddBatch.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>

#include <set>
#include <utility>

using namespace cf::estimate;

namespace {

const QString kSection = QStringLiteral("frmAddBatch");
const QString kSettings = QString::fromLatin1(kSettingsSection);
const QColor kUnsupportedColor(255, 0, 0);
constexpr int kProgressStep = 5;
constexpr int kProgressMax = 100;
// Width limits of the resolution fallback on OK: below them the source cannot fill the frame.
constexpr int32_t kHighResMinWidth = 1024;
constexpr int32_t kStandardResWidth = 640;
const QString kProjectFileName = QStringLiteral("project.kqp");
const QString kMediaStore = QStringLiteral("media.kq");

// The major version digit of a project version text ("6.0" -> 6); -1 when there is none.
int MajorVersion(const QString& version) {
  if (version.isEmpty() || !version.at(0).isDigit()) return -1;
  return version.at(0).digitValue();
}

}  // namespace

frmAddBatch::frmAddBatch(const cf::UploadQueue& queue, QWidget* parent)
    : QDialog(parent), queue_(queue), ui_(std::make_unique<Ui::frmAddBatch>()) {
  BuildForm();
  ApplyFormTexts(this);
  txtLocation_->setText(SelectPathText());
  // Created after the texts were applied, which would blank their pictures.
  for (QToolButton** arrow : {&imgOpenTV_, &imgOpenTVGray_}) {
    *arrow = new QToolButton(picFolder_);
    (*arrow)->setArrowType(Qt::DownArrow);
    (*arrow)->setAutoRaise(true);
    picFolder_->layout()->addWidget(*arrow);
  }
  imgOpenTV_->setObjectName(QStringLiteral("imgOpenTV"));
  imgOpenTVGray_->setObjectName(QStringLiteral("imgOpenTVGray"));
  imgOpenTVGray_->setEnabled(false);
  imgOpenTVGray_->hide();

  ServerFolderPicker::Controls controls;
  controls.txtServerIP = txtServerIP_;
  controls.txtAccount = txtAccount_;
  controls.txtPassword = txtPassword_;
  controls.cmdLogIn = cmdLogIn_;
  controls.cmdCancel = cmdCancel_;
  controls.lRefresh = lRefresh_;
  controls.lOldSysHelp = lOldSysHelp_;
  controls.lFolderPath = lFolderPath_;
  controls.picFolder = picFolder_;
  controls.imgOpenTV = imgOpenTV_;
  controls.tree = TreeView1_;
  picker_ = std::make_unique<ServerFolderPicker>(this, controls);
  connect(picker_.get(), &ServerFolderPicker::loginStarted, this, &frmAddBatch::OnLoginStarted);
  connect(picker_.get(), &ServerFolderPicker::loggedIn, this, &frmAddBatch::OnLoginFinished);
  connect(picker_.get(), &ServerFolderPicker::loginFailed, this, &frmAddBatch::OnLoginFinished);
  connect(picker_.get(), &ServerFolderPicker::serverFieldsChanged, this,
          &frmAddBatch::OnServerFieldsChanged);

  for (QWidget* w :
       {static_cast<QWidget*>(this), static_cast<QWidget*>(frameFile_),
        static_cast<QWidget*>(frameServer_), static_cast<QWidget*>(frameVidSetting_)}) {
    w->installEventFilter(this);
  }
  connect(cmdOK_, &QPushButton::clicked, this, &frmAddBatch::cmdOK_Click);
  connect(cmdCancel_, &QPushButton::clicked, this, &frmAddBatch::cmdCancel_Click);
  connect(cmdBrowse_, &QPushButton::clicked, this, &frmAddBatch::cmdBrowse_Click);
  connect(cmdStopSearch_, &QPushButton::clicked, this, [this] { walker_.Stop(); });

  DialogShared& shared = DialogShared::Instance();
  dropped_ = std::exchange(shared.droppedPaths, QStringList());
  shared.DialogBusy = DialogShared::kIdle;
  rememberedFolderID_ = picker_->LoadRememberedServer();
  setup_.dstCvtType = kLocalCvt;
  setup_.dstResType = kStandardRes;
  optStdRes_->setChecked(true);
  if (shared.FolderListKnown) {
    picker_->SetStatus(
        GetResString(QStringLiteral("frmAdd"), QStringLiteral("msg_analyzingFolder")), false);
    cmdLogIn_->setEnabled(false);
    cmdCancel_->setEnabled(false);
  } else {
    picker_->SetStatus(Res(QStringLiteral("msg_refreshFirst")), true);
  }
  EnableGroups(false);
  cmdOK_->setEnabled(false);
  ProgressBarSearch_->hide();
  cmdStopSearch_->hide();

  tmrInit_.setSingleShot(true);
  tmrInit_.setInterval(0);
  connect(&tmrInit_, &QTimer::timeout, this, &frmAddBatch::RunInitTick);
  RememberWindowPlace(this);
}

frmAddBatch::~frmAddBatch() = default;

void frmAddBatch::BuildForm() {
  ui_->setupUi(this);
  frameServer_ = ui_->frameServer;
  txtServerIP_ = ui_->txtServerIP;
  txtAccount_ = ui_->txtAccount;
  txtPassword_ = ui_->txtPassword;
  cmdLogIn_ = ui_->cmdLogIn;
  lRefresh_ = ui_->lRefresh;
  lFolder_ = ui_->lFolder;
  picFolder_ = ui_->picFolder;
  lFolderPath_ = ui_->lFolderPath;
  TreeView1_ = ui_->TreeView1;
  lAdWarning_ = ui_->lAdWarning;
  frameFile_ = ui_->frameFile;
  lLocation_ = ui_->lLocation;
  txtLocation_ = ui_->txtLocation;
  cmdBrowse_ = ui_->cmdBrowse;
  cmdStopSearch_ = ui_->cmdStopSearch;
  ProgressBarSearch_ = ui_->ProgressBarSearch;
  lHelp_ = ui_->lHelp;
  gridQueue_ = ui_->gridQueue;
  frameVidSetting_ = ui_->frameVidSetting;
  lMaxVidSize_ = ui_->lMaxVidSize;
  optHiRes_ = ui_->optHiRes;
  optStdRes_ = ui_->optStdRes;
  cmdOK_ = ui_->cmdOK;
  cmdCancel_ = ui_->cmdCancel;

  // The shared login code drives an old-system tip; this window has none, so it stays hidden and
  // unnamed (no caption of its own).
  lOldSysHelp_ = new QLabel(frameServer_);
  lOldSysHelp_->hide();
  ProgressBarSearch_->setRange(0, kProgressMax);
  gridQueue_->setColumnCount(kColumnCount);
  const QString headers[kColumnCount] = {QStringLiteral("gridClassify"),
                                         QStringLiteral("gridTitle"), QStringLiteral("gridAuthor"),
                                         QStringLiteral("gridRecDate"), QStringLiteral("gridPath")};
  QStringList labels;
  for (const QString& key : headers) labels << GetResString(QStringLiteral("frmUpload"), key);
  gridQueue_->setHorizontalHeaderLabels(labels);
}

QString frmAddBatch::Res(const QString& key, const QString& fallback) const {
  return GetResString(kSection, key, fallback);
}

QString frmAddBatch::SelectPathText() const {
  return Res(QStringLiteral("txtSelectPath"), QString::fromLatin1(kSelectPath));
}

void frmAddBatch::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!initDone_ && !tmrInit_.isActive()) tmrInit_.start();
}

void frmAddBatch::RunInitTick() {
  tmrInit_.stop();
  if (initDone_) return;
  initDone_ = true;
  // What was dropped on the main window is searched as soon as the window shows.
  if (!dropped_.isEmpty()) {
    QTimer::singleShot(0, this, [this] { SearchPaths(std::exchange(dropped_, QStringList())); });
  }
  DialogShared& shared = DialogShared::Instance();
  if (!shared.FolderListKnown) {
    shared.EncryptPassword = true;
    return;
  }
  picker_->ShowCachedList(rememberedFolderID_);
  cmdLogIn_->setEnabled(true);
  cmdCancel_->setEnabled(true);
  picker_->SetStatus(QString(), false);
  if (!picker_->hasFolder()) {
    picker_->SetStatus(
        GetResString(QStringLiteral("frmAdd"), QStringLiteral("msg_noUploadableFolder")), true);
  }
  picker_->setLoginState(true);
  EnableGroups(true);
}

void frmAddBatch::EnableGroups(bool enable) {
  for (QWidget* w : {static_cast<QWidget*>(frameVidSetting_), static_cast<QWidget*>(lFolder_),
                     static_cast<QWidget*>(picFolder_), static_cast<QWidget*>(lFolderPath_),
                     static_cast<QWidget*>(frameFile_), static_cast<QWidget*>(cmdBrowse_),
                     static_cast<QWidget*>(lLocation_), static_cast<QWidget*>(lAdWarning_),
                     static_cast<QWidget*>(gridQueue_), static_cast<QWidget*>(lMaxVidSize_)}) {
    w->setEnabled(enable);
  }
  imgOpenTV_->setVisible(enable);
  imgOpenTVGray_->setVisible(!enable);
}

void frmAddBatch::OnLoginStarted() {
  cmdOK_->setEnabled(false);
  EnableGroups(false);
}

void frmAddBatch::OnLoginFinished() {
  if (picker_->loginState()) EnableGroups(true);
  cmdOK_->setEnabled(gridQueue_->rowCount() > 0);
}

void frmAddBatch::OnServerFieldsChanged() { EnableGroups(false); }

void frmAddBatch::cmdBrowse_Click() {
  const QString folder = QFileDialog::getExistingDirectory(
      this,
      Res(QStringLiteral("dlgSelectFolder"),
          QStringLiteral("Select your Windows\\System\\ directory")),
      LastPickedFolder(), QFileDialog::ShowDirsOnly);
  QDir::setCurrent(ProgramFolder());
  if (folder.isEmpty()) {
    cmdCancel_->setFocus();
    return;
  }
  RememberPickedPath(folder);
  ChooseLocation(folder);
}

void frmAddBatch::ChooseLocation(const QString& folder) {
  txtLocation_->setText(modDirectory::CutAtNul(folder));
  Search();
}

void frmAddBatch::Search() {
  const QString location = txtLocation_->text();
  if (location == QLatin1String(kSelectPath) || location == SelectPathText()) return;
  SearchPaths({txtLocation_->text()});
}

void frmAddBatch::SearchPaths(const QStringList& paths) {
  if (searching_ || paths.isEmpty()) return;
  txtLocation_->setText(paths.join(QStringLiteral("; ")));
  gridQueue_->setRowCount(0);
  cmdLogIn_->setEnabled(false);
  cmdOK_->setEnabled(false);
  cmdCancel_->setEnabled(false);
  lHelp_->hide();
  cmdBrowse_->hide();
  cmdStopSearch_->show();
  ProgressBarSearch_->setValue(kProgressStep);
  ProgressBarSearch_->show();
  searching_ = true;
  const QString patterns = QString::fromLatin1(kPatterns) + QLatin1Char(';');
  for (const QString& path : paths) {
    if (QFileInfo(path).isDir()) {
      const modDirectory::Result result =
          walker_.Walk(path, patterns, [this](const QString& found) { AddFoundFile(found); });
      if (result == modDirectory::Result::Stopped) break;
    } else if (modDirectory::Matches(QFileInfo(path).fileName(), patterns)) {
      AddFoundFile(path);
    }
  }
  searching_ = false;
  cmdLogIn_->setEnabled(true);
  cmdOK_->setEnabled(true);
  cmdCancel_->setEnabled(true);
  lHelp_->show();
  cmdBrowse_->show();
  cmdStopSearch_->hide();
  ProgressBarSearch_->hide();
}

void frmAddBatch::AddFoundFile(const QString& path) {
  const QFileInfo file(path);
  if (path.contains(QLatin1String("$Recycle"), Qt::CaseInsensitive) ||
      file.fileName().startsWith(QLatin1Char('$')) || !file.isFile()) {
    return;
  }
  if (file.suffix().toLower() == QLatin1String("kqp")) {
    if (file.fileName() != kProjectFileName) return;
    cf::CProjectFile project;
    if (!project.Load(path, true)) return;
    if (MajorVersion(project.version) > DialogShared::Instance().serverCaps.kqpver) return;
    if (project.duration() == 0) return;
    if (!QFileInfo(file.dir().filePath(kMediaStore)).isFile()) return;
    const QString date = project.IndexCount() > 0 ? project.Item(1).RecDate : QString();
    AppendRow(QString::fromLatin1(kKindProject), project.title, project.Author, date, path, false);
    return;
  }
  DialogShared& shared = DialogShared::Instance();
  shared.DialogBusy = DialogShared::kProbing;
  VideoInfo info;
  const bool probed = ProbeVideo(path, true, &info);
  shared.DialogBusy = DialogShared::kIdle;
  AppendRow(QString::fromLatin1(probed ? kKindVideo : kKindUnsupported), file.completeBaseName(),
            QString(), cf::UploadJob::FormatDateLastModified(file.lastModified()), path, !probed);
}

void frmAddBatch::AppendRow(const QString& kind, const QString& title, const QString& author,
                            const QString& date, const QString& path, bool unsupported) {
  const int row = gridQueue_->rowCount();
  gridQueue_->insertRow(row);
  const QString cells[kColumnCount] = {kind, title, author, date, path};
  for (int column = 0; column < kColumnCount; ++column) {
    auto* item = new QTableWidgetItem(cells[column]);
    if (unsupported) item->setForeground(kUnsupportedColor);
    gridQueue_->setItem(row, column, item);
  }
  AdvanceProgress();
  if (rowAddedHook_) rowAddedHook_(gridQueue_->rowCount());
}

void frmAddBatch::AdvanceProgress() {
  // The bar shows that the search is alive, not how much of it is done.
  if (ProgressBarSearch_->value() >= kProgressMax) ProgressBarSearch_->setValue(0);
  ProgressBarSearch_->setValue(ProgressBarSearch_->value() + kProgressStep);
}

void frmAddBatch::SetButtonsEnabled(bool enable) {
  for (QPushButton* button : {cmdLogIn_, cmdOK_, cmdCancel_, cmdBrowse_}) {
    button->setEnabled(enable);
  }
}

bool frmAddBatch::PrepareRow(const QString& path) {
  setup_.StartFile(path);
  setup_.dstCvtType = kLocalCvt;
  setup_.customBps = 0;
  setup_.dstResType = optStdRes_->isChecked() ? kStandardRes : kHighRes;
  if (JobSetup::IsProjectPath(path)) {
    cf::CProjectFile project;
    if (!project.Load(path, false)) return false;
    setup_.ApplyProject(project.durationText(), project.duration() / 1000);
    return true;
  }
  VideoInfo info;
  DialogShared& shared = DialogShared::Instance();
  shared.DialogBusy = DialogShared::kProbing;
  QString failure;
  const bool probed = ProbeVideo(path, false, &info, &failure);
  shared.DialogBusy = DialogShared::kIdle;
  // A job without a known source would only fail later.
  if (!probed) {
    ShowMessage(failure, {}, MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  setup_.ApplyProbe(info);
  const int32_t width = setup_.source().codedWidth;
  if (setup_.dstResType == kHighRes && width < kHighResMinWidth) {
    setup_.dstResType = width == kStandardResWidth ? kStandardRes : kSourceRes;
  } else if (setup_.dstResType == kStandardRes && width < kStandardResWidth) {
    setup_.dstResType = kSourceRes;
  }
  setup_.Recompute();
  return true;
}

int frmAddBatch::AskDuplicate(const QString& path) {
  frmConfirm confirm(this);
  confirm.SetFile(path);
  if (confirmHook_) {
    confirmHook_(confirm);
    if (confirm.answer() != frmConfirm::kNone) return confirm.answer();
  }
  confirm.exec();
  return confirm.answer();
}

void frmAddBatch::cmdOK_Click() {
  std::set<int> selected;
  for (const QModelIndex& index : gridQueue_->selectionModel()->selectedRows()) {
    selected.insert(index.row());
  }
  if (selected.empty()) {
    ShowMessage(Res(QStringLiteral("msgSelectItems"), QStringLiteral("Please select items.")));
    return;
  }
  if (!picker_->loginState() || !picker_->hasFolder()) {
    // Without a server folder the jobs would have nowhere to go.
    picker_->SetStatus(Res(QStringLiteral("msg_refreshFirst")), true);
    return;
  }
  SetButtonsEnabled(false);
  const JobServer server = picker_->CurrentServer();
  DialogShared& shared = DialogShared::Instance();

  jobs_.clear();
  int mode = frmConfirm::kNone;
  for (const int row : selected) {
    if (gridQueue_->item(row, kColKind)->text() == QLatin1String(kKindUnsupported)) continue;
    const QString title = gridQueue_->item(row, kColTitle)->text();
    const QString author = gridQueue_->item(row, kColAuthor)->text();
    const QString path = gridQueue_->item(row, kColPath)->text();
    if (!PrepareRow(path)) continue;
    const bool queued = queue_.itemExist(path);
    if (queued) {
      if (mode < frmConfirm::kAllYes) mode = AskDuplicate(path);
      if (mode == frmConfirm::kYes || mode == frmConfirm::kAllYes) {
        jobs_.push_back(
            setup_.BuildJob(server, shared.serverCaps, shared.EncryptPassword, title, author));
      }
    } else {
      jobs_.push_back(
          setup_.BuildJob(server, shared.serverCaps, shared.EncryptPassword, title, author));
    }
    // A single answer holds for one file; the "all" answers hold for the rest of the run.
    if (mode < frmConfirm::kAllYes) mode = frmConfirm::kNone;
  }
  cmdCancel_->setEnabled(true);
  WriteSetting(kSettings, QStringLiteral("folderID"), server.folderID);
  WriteSetting(kSettings, QStringLiteral("folderName"), server.folderName);
  accept();
}

void frmAddBatch::cmdCancel_Click() {
  if (searching_) {
    ShowMessage(Res(QStringLiteral("msg_searchSopWarning")),
                Res(QStringLiteral("ttl_Help"), QStringLiteral("Help")));
    return;
  }
  reject();
}

void frmAddBatch::done(int result) {
  if (searching_) {
    ShowMessage(Res(QStringLiteral("msg_searchSopWarning")),
                Res(QStringLiteral("ttl_Help"), QStringLiteral("Help")));
    return;
  }
  DialogShared& shared = DialogShared::Instance();
  if (shared.DialogBusy == DialogShared::kProbing) {
    ShowMessage(Res(QStringLiteral("msg_ExitOnGetVidInfo")));
    return;
  }
  if (shared.DialogBusy == DialogShared::kFetchingFolders) {
    ShowMessage(Res(QStringLiteral("msg_ExitOnGetFolder")));
    return;
  }
  if (!cmdCancel_->isEnabled()) return;
  shared.editRequest.clear();
  shared.FolderListKnown = picker_->loginState();
  QDialog::done(result);
}

bool frmAddBatch::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease && TreeView1_->isVisible()) {
    picFolder_->setFocus();
  }
  return QDialog::eventFilter(watched, event);
}
