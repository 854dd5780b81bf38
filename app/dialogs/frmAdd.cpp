#include "app/dialogs/frmAdd.h"

#include "app/dialogs/DialogShared.h"
#include "app/dialogs/ServerFolderPicker.h"
#include "app/dialogs/frmCustomBps.h"
#include "app/media/VideoProbe.h"
#include "app/project/CProjectFile.h"
#include "app/queue/UploadQueue.h"
#include "app/services/FormTexts.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/WindowPlace.h"
#include "app/services/modLanguage.h"
#include "ui_frmAdd.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMouseEvent>
#include <QToolButton>

#include <utility>

using namespace cf::estimate;

namespace {

const QString kSection = QStringLiteral("frmAdd");
const QString kSettings = QString::fromLatin1(kSettingsSection);

const QString kFileFilter = QStringLiteral(
    "All supported files (project.kqp *.wmv *.mp4 *.m4v *.mpg *.mpeg *.avi *.m2ts *.m2t *.mts "
    "*.flv *.mov *.mkv *.3gp *.vob);;"
    "Video file (*.wmv *.mp4 *.m4v *.mpg *.mpeg *.avi *.m2ts *.m2t *.mts *.flv *.mov *.mkv *.3gp "
    "*.vob);;"
    "Quillbox file (project.kqp)");

QString SizeCaption(const FrameSize& size) {
  return QStringLiteral(" (%1x%2)").arg(size.width).arg(size.height);
}

}  // namespace

frmAdd::frmAdd(const cf::UploadQueue& queue, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmAdd>()), queue_(queue) {
  const EditRequest& request = DialogShared::Instance().editRequest;
  if (request.editing) editedPath_ = request.path;
  // A single file dropped on the main window is this dialog's file from the start.
  QStringList& dropped = DialogShared::Instance().droppedPaths;
  if (!request.editing && dropped.size() == 1) droppedFile_ = dropped.first();
  dropped.clear();
  ui_->setupUi(this);
  ApplyFormTexts(this);
  ui_->lTestLen->hide();
  // Pictures without captions: made after the texts were applied, which would blank them.
  for (QToolButton** arrow : {&imgOpenTV_, &imgOpenTVGray_}) {
    *arrow = new QToolButton(ui_->picFolder);
    (*arrow)->setArrowType(Qt::DownArrow);
    (*arrow)->setAutoRaise(true);
    ui_->layPicFolder->addWidget(*arrow);
  }
  imgOpenTV_->setObjectName(QStringLiteral("imgOpenTV"));
  imgOpenTVGray_->setObjectName(QStringLiteral("imgOpenTVGray"));
  imgOpenTVGray_->setEnabled(false);
  imgOpenTVGray_->hide();

  ServerFolderPicker::Controls controls;
  controls.txtServerIP = ui_->txtServerIP;
  controls.txtAccount = ui_->txtAccount;
  controls.txtPassword = ui_->txtPassword;
  controls.cmdLogIn = ui_->cmdLogIn;
  controls.cmdCancel = ui_->cmdCancel;
  controls.lRefresh = ui_->lRefresh;
  controls.lOldSysHelp = ui_->lOldSysHelp;
  controls.lFolderPath = ui_->lFolderPath;
  controls.picFolder = ui_->picFolder;
  controls.imgOpenTV = imgOpenTV_;
  controls.tree = ui_->TreeView1;
  picker_ = std::make_unique<ServerFolderPicker>(this, controls);
  picker_->setProjectFolderSource([this]() -> QString {
    const QString path = ui_->txtFile->text();
    return JobSetup::IsProjectPath(path) ? QFileInfo(path).absolutePath() : QString();
  });
  connect(picker_.get(), &ServerFolderPicker::loginStarted, this, &frmAdd::OnLoginStarted);
  connect(picker_.get(), &ServerFolderPicker::loggedIn, this, &frmAdd::OnLoggedIn);
  connect(picker_.get(), &ServerFolderPicker::serverFieldsChanged, this,
          &frmAdd::OnServerFieldsChanged);
  connect(picker_.get(), &ServerFolderPicker::folderChosen, this, &frmAdd::UpdateOkButton);

  // Clicks on the form or a frame while the tree is open close it.
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(ui_->frameFile),
                     static_cast<QWidget*>(ui_->frameServer), static_cast<QWidget*>(ui_->frameInfo),
                     static_cast<QWidget*>(ui_->frameVidSetting)}) {
    w->installEventFilter(this);
  }
  ui_->lNoCvtHelp->installEventFilter(this);
  ui_->lCustomBps->installEventFilter(this);

  for (QPushButton* button : {ui_->cmdOK, ui_->cmdCancel, ui_->cmdBrowse, ui_->cmdLogIn}) {
    button->setAutoDefault(false);
  }
  // Enter confirms wherever the focus is, once OK is enabled; Escape cancels.
  ui_->cmdOK->setDefault(true);
  connect(ui_->cmdOK, &QPushButton::clicked, this, &frmAdd::cmdOK_Click);
  connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmAdd::cmdCancel_Click);
  connect(ui_->cmdBrowse, &QPushButton::clicked, this, &frmAdd::cmdBrowse_Click);
  const std::pair<QRadioButton*, int32_t> conversions[] = {{ui_->optLocalCvt, kLocalCvt},
                                                           {ui_->optServerCvt, kServerCvt},
                                                           {ui_->optNoCvtForMp4, kNoCvt}};
  for (const auto& choice : conversions) {
    const int32_t value = choice.second;
    connect(choice.first, &QRadioButton::clicked, this,
            [this, value] { OnConversionClicked(value); });
  }
  const std::pair<QRadioButton*, int32_t> resolutions[] = {
      {ui_->optSrcRes, kSourceRes}, {ui_->optHiRes, kHighRes}, {ui_->optStdRes, kStandardRes}};
  for (const auto& choice : resolutions) {
    const int32_t value = choice.second;
    connect(choice.first, &QRadioButton::clicked, this,
            [this, value] { OnResolutionClicked(value); });
  }

  DialogShared& shared = DialogShared::Instance();
  shared.DialogBusy = DialogShared::kIdle;
  rememberedFolderID_ = picker_->LoadRememberedServer();
  if (shared.editRequest.editing || !shared.FolderListKnown) {
    picker_->SetStatus(Res(QStringLiteral("msg_refreshFirst")), true);
  } else {
    picker_->SetStatus(Res(QStringLiteral("msg_analyzingFolder")), false);
    ui_->cmdLogIn->setEnabled(false);
    ui_->cmdCancel->setEnabled(false);
  }
  EnableSourceAndInfo(false);
  EnableVideoSettings(false);
  ui_->cmdOK->setEnabled(false);

  tmrInit_.setSingleShot(true);
  tmrInit_.setInterval(0);
  connect(&tmrInit_, &QTimer::timeout, this, &frmAdd::RunInitTick);
  RememberWindowPlace(this);
}

frmAdd::~frmAdd() = default;

QString frmAdd::Res(const QString& key, const QString& fallback) const {
  return GetResString(kSection, key, fallback);
}

void frmAdd::ShowDialogMessage(const DialogMessage& message) {
  ShowMessage(message.text(), message.title, MsgButtons::Ok, MsgIcon::Warning);
}

void frmAdd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!initDone_ && !tmrInit_.isActive()) tmrInit_.start();
}

void frmAdd::RunInitTick() {
  tmrInit_.stop();
  if (initDone_) return;
  initDone_ = true;
  DialogShared& shared = DialogShared::Instance();
  if (shared.editRequest.editing) {
    const cf::UploadJob* job = queue_.item(shared.editRequest.path);
    if (job != nullptr) {
      setWindowTitle(Res(QStringLiteral("frmEdit"), QStringLiteral("Edit Video")));
      ui_->txtFile->setText(job->path);
      setup_.StartFile(job->path);
      setup_.dstCvtType = job->dstCvtType;
      setup_.dstResType = job->dstResType;
      setup_.customBps = job->customBps;
      setup_.vBitRate = job->vBitRate;
      setup_.aBitRate = job->aBitRate;
      ui_->txtTitle->setText(job->title);
      ui_->txtAuthor->setText(job->Author);
      SelectQuietly(ConversionOption(setup_.dstCvtType));
      SelectQuietly(ResolutionOption(setup_.dstResType));
      picker_->SetServerBoxes(job->Url, job->account, job->password);
      shared.EncryptPassword = job->bEncPassword;
      picker_->setPreferredFolder(job->folderID);
      picker_->LogIn();
      return;
    }
    // The job went away while the window opened: carry on as an add.
    shared.editRequest.clear();
  }
  setup_.dstCvtType = kLocalCvt;
  setup_.dstResType = kStandardRes;
  SelectQuietly(ui_->optLocalCvt);
  SelectQuietly(ui_->optStdRes);
  ui_->cmdOK->setEnabled(false);
  if (!droppedFile_.isEmpty()) QTimer::singleShot(0, this, &frmAdd::TakeDroppedFile);
  if (!shared.FolderListKnown) {
    shared.EncryptPassword = true;
    return;
  }
  picker_->ShowCachedList(rememberedFolderID_);
  ui_->cmdLogIn->setEnabled(true);
  ui_->cmdCancel->setEnabled(true);
  picker_->SetStatus(QString(), false);
  if (!shared.serverCaps.customBps) setup_.customBps = 0;
  if (shared.serverCaps.oldSystem()) picker_->ShowOldSystemTip();
  if (!picker_->hasFolder()) {
    picker_->SetStatus(Res(QStringLiteral("msg_noUploadableFolder")), true);
  }
  picker_->setLoginState(true);
  EnableSourceAndInfo(true);
}

void frmAdd::EnableSourceAndInfo(bool enable) {
  for (QWidget* w : {static_cast<QWidget*>(ui_->frameFile), static_cast<QWidget*>(ui_->lFolder),
                     static_cast<QWidget*>(ui_->picFolder), static_cast<QWidget*>(ui_->lFolderPath),
                     static_cast<QWidget*>(ui_->lVideo), static_cast<QWidget*>(ui_->txtFile),
                     static_cast<QWidget*>(ui_->cmdBrowse), static_cast<QWidget*>(ui_->lAdWarning),
                     static_cast<QWidget*>(ui_->frameInfo), static_cast<QWidget*>(ui_->lTitle),
                     static_cast<QWidget*>(ui_->txtTitle), static_cast<QWidget*>(ui_->lAuthor),
                     static_cast<QWidget*>(ui_->txtAuthor)}) {
    w->setEnabled(enable);
  }
  imgOpenTV_->setVisible(enable);
  imgOpenTVGray_->setVisible(!enable);
}

void frmAdd::OnLoginStarted() {
  ui_->cmdOK->setEnabled(false);
  EnableSourceAndInfo(false);
  EnableVideoSettings(false);
}

void frmAdd::OnLoggedIn() {
  if (!DialogShared::Instance().serverCaps.customBps) setup_.customBps = 0;
  EnableSourceAndInfo(true);
  if (!ui_->txtFile->text().isEmpty()) ProbeChosenFile();
  UpdateOkButton();
}

void frmAdd::OnServerFieldsChanged() {
  EnableSourceAndInfo(false);
  ShowSourceSize(false);
  ui_->cmdOK->setEnabled(false);
  if (ui_->lDstSize->isEnabled()) EnableVideoSettings(false);
}

void frmAdd::UpdateOkButton() {
  // Without a chosen folder there is nowhere to upload to; a file must be ready too.
  const bool ready = picker_->loginState() && picker_->hasFolder() &&
                     !ui_->txtFile->text().isEmpty() && !setup_.path().isEmpty() &&
                     DialogShared::Instance().DialogBusy == DialogShared::kIdle &&
                     (ui_->lSrcSize->isEnabled() || projectOpened_);
  ui_->cmdOK->setEnabled(ready);
}

void frmAdd::cmdBrowse_Click() {
  const QString path = QFileDialog::getOpenFileName(
      this, Res(QStringLiteral("dlgTitle"), QStringLiteral("Select a video file")),
      LastPickedFolder(), kFileFilter);
  QDir::setCurrent(ProgramFolder());
  if (path.isEmpty()) return;
  RememberPickedPath(path);
  ChooseFile(QDir::toNativeSeparators(path));
}

void frmAdd::ChooseFile(const QString& path) {
  const DialogShared& shared = DialogShared::Instance();
  const QString editedPath = shared.editRequest.editing ? shared.editRequest.path : QString();
  const DialogMessage refusal = JobSetup::CheckFile(path, queue_, editedPath);
  if (!refusal.isEmpty()) {
    ShowDialogMessage(refusal);
    return;
  }
  if (!(ui_->txtFile->text().isEmpty() && !ui_->txtTitle->text().trimmed().isEmpty())) {
    ui_->txtTitle->setText(QFileInfo(path).completeBaseName());
  }
  ui_->txtFile->setText(path);
  setup_.StartFile(path);
  ui_->cmdOK->setEnabled(false);
  SelectQuietly(ui_->optLocalCvt);
  SelectQuietly(ui_->optStdRes);
  ProbeChosenFile();
}

void frmAdd::TakeDroppedFile() {
  const QString path = std::exchange(droppedFile_, QString());
  if (ui_->txtFile->isEnabled()) {
    ChooseFile(path);
    return;
  }
  // Not logged in yet: the file waits in its box and is probed once the login succeeds.
  const DialogMessage refusal = JobSetup::CheckFile(path, queue_, QString());
  if (!refusal.isEmpty()) {
    ShowDialogMessage(refusal);
    return;
  }
  ui_->txtTitle->setText(QFileInfo(path).completeBaseName());
  ui_->txtFile->setText(path);
  setup_.StartFile(path);
}

void frmAdd::ProbeChosenFile() {
  const QString path = ui_->txtFile->text();
  if (JobSetup::IsProjectPath(path)) {
    QString title;
    QString author;
    DialogMessage refusal;
    projectOpened_ =
        setup_.OpenProject(DialogShared::Instance().serverCaps, false, &title, &author, &refusal);
    if (!projectOpened_) {
      if (!refusal.isEmpty()) ShowDialogMessage(refusal);
      ui_->txtFile->clear();
      ui_->txtTitle->clear();
      ui_->txtAuthor->clear();
      setup_.ClearFile();
    } else {
      ui_->txtTitle->setText(title);
      ui_->txtAuthor->setText(author);
    }
    ShowSourceSize(false);
    EnableVideoSettings(false);
    UpdateOkButton();
    return;
  }
  projectOpened_ = false;
  DialogShared& shared = DialogShared::Instance();
  shared.DialogBusy = DialogShared::kProbing;
  ui_->cmdCancel->setEnabled(false);
  ui_->cmdOK->setEnabled(false);
  VideoInfo info;
  QString failure;
  const bool probed = ProbeVideo(path, false, &info, &failure);
  shared.DialogBusy = DialogShared::kIdle;
  ui_->cmdCancel->setEnabled(true);
  if (!probed) {
    ShowMessage(failure, {}, MsgButtons::Ok, MsgIcon::Warning);
    ui_->txtFile->clear();
    ui_->txtTitle->clear();
    setup_.ClearFile();
    ShowSourceSize(false);
    EnableVideoSettings(false);
    UpdateOkButton();
    return;
  }
  if (setup_.path() != path) setup_.StartFile(path);
  setup_.ApplyProbe(info);
  ShowSourceSize(true);
  EnableVideoSettings(true);
  UpdateOkButton();
}

void frmAdd::ShowSourceSize(bool enable) {
  const QString caption = Res(QStringLiteral("lSrcSize"));
  ui_->lSrcSize->setEnabled(enable);
  if (!enable) {
    ui_->lSrcSize->setText(caption + QStringLiteral(" (NA)"));
    return;
  }
  const Source& source = setup_.source();
  QString text = caption + QLatin1Char(' ') + QString::number(source.codedWidth) +
                 QLatin1Char('x') + QString::number(source.codedHeight) +
                 Res(QStringLiteral("txtPixels"), QStringLiteral(" 像素"));
  if (source.darNum != 0 &&
      static_cast<double>(source.darDen) * source.codedWidth / source.darNum !=
          source.codedHeight) {
    text += QStringLiteral(" (%1:%2)").arg(source.darNum).arg(source.darDen);
  }
  ui_->lSrcSize->setText(text);
}

void frmAdd::EnableVideoSettings(bool enable) {
  videoGroupEnabled_ = enable;
  ui_->frameVidSetting->setEnabled(enable);
  ApplyConversionRule(enable);
  ApplyResolutionRule(enable);
  ApplyResolutionCaptions(enable);
  ShowDestination(enable);
}

void frmAdd::ApplyConversionRule(bool enable) {
  const JobSetup::ConversionChoices choices =
      setup_.ApplyConversionRule(DialogShared::Instance().serverCaps, enable);
  ui_->lCvtType->setEnabled(enable);
  ui_->optLocalCvt->setEnabled(choices.local);
  ui_->optServerCvt->setEnabled(choices.server);
  ui_->optNoCvtForMp4->setEnabled(choices.noConversion);
  ui_->lNoCvtHelp->setEnabled(choices.noConversion);
  if (enable) SelectQuietly(ConversionOption(setup_.dstCvtType));
}

void frmAdd::ApplyResolutionRule(bool enable) {
  const ResolutionChoices choices =
      setup_.ApplyResolutionRule(DialogShared::Instance().serverCaps, enable);
  const bool resolutionEnabled = enable && setup_.dstCvtType != kNoCvt;
  ui_->lMaxVidSize->setEnabled(resolutionEnabled);
  ui_->optSrcRes->setEnabled(choices.source);
  ui_->optHiRes->setEnabled(choices.high);
  ui_->optStdRes->setEnabled(choices.standard);
  if (enable && setup_.dstCvtType == kNoCvt) {
    SelectQuietly(ui_->optSrcRes);
    ui_->optSrcRes->setEnabled(false);
  } else if (resolutionEnabled && choices.allows(setup_.dstResType)) {
    SelectQuietly(ResolutionOption(setup_.dstResType));
  }
}

void frmAdd::ApplyResolutionCaptions(bool enable) {
  const ResolutionCaptionSizes sizes = CaptionSizes(setup_.source());
  const QString src = Res(QStringLiteral("optSrcRes"));
  if (ui_->optSrcRes->isEnabled() && enable) {
    ui_->optSrcRes->setText((sizes.fullHd ? Res(QStringLiteral("optFullHiRes")) : src) +
                            SizeCaption(sizes.source));
  } else {
    ui_->optSrcRes->setText(src);
  }
  const QString high = Res(QStringLiteral("optHiRes"));
  ui_->optHiRes->setText(
      ui_->optHiRes->isEnabled()
          ? high + SizeCaption(sizes.high)
          : high + Res(QStringLiteral("optHiResNeeds"), QStringLiteral(" (原始寬度需 >= 1024)")));
  const QString standard = Res(QStringLiteral("optStdRes"));
  ui_->optStdRes->setText(ui_->optStdRes->isEnabled()
                              ? standard + SizeCaption(sizes.standard)
                              : standard + Res(QStringLiteral("optStdResNeeds"),
                                               QStringLiteral(" (原始寬度需 >= 640)")));
}

void frmAdd::ShowDestination(bool enable) {
  for (QWidget* w : {static_cast<QWidget*>(ui_->lDestination), static_cast<QWidget*>(ui_->lDstSize),
                     static_cast<QWidget*>(ui_->lBps), static_cast<QWidget*>(ui_->lFileSize)}) {
    w->setEnabled(enable);
  }
  const QString dstSize = Res(QStringLiteral("lDstSize"));
  const QString bps = Res(QStringLiteral("lBps"));
  const QString fileSize = Res(QStringLiteral("lFileSize"));
  if (!enable) {
    ui_->lDstSize->setText(dstSize + QStringLiteral(" (NA)"));
    ui_->lBps->setText(bps + QStringLiteral(" (NA)"));
    ui_->lFileSize->setText(fileSize + QStringLiteral("(NA)"));
    ui_->lCustomBps->hide();
    return;
  }
  setup_.Recompute();
  ui_->lDstSize->setText(dstSize + QStringLiteral("  ") + QString::number(setup_.videoWidth) +
                         QLatin1Char('x') + QString::number(setup_.videoHeight) +
                         Res(QStringLiteral("txtPixels"), QStringLiteral(" 像素")));
  SetCustomBpsLabels(setup_.totalKbps, true);
  const bool custom =
      DialogShared::Instance().serverCaps.customBps && setup_.dstCvtType == kLocalCvt;
  ui_->lCustomBps->setVisible(custom);
  ui_->lCustomBps->setEnabled(custom);
}

void frmAdd::SetCustomBpsLabels(int32_t kbps, bool warn) {
  ui_->lBps->setText(Res(QStringLiteral("lBps")) +
                     Res(QStringLiteral("txtAbout"), QStringLiteral("  約 ")) +
                     QString::number(kbps) + QStringLiteral(" kbps"));
  double gigabytes = 0;
  ui_->lFileSize->setText(Res(QStringLiteral("lFileSize")) +
                          Res(QStringLiteral("txtAbout"), QStringLiteral("  約 ")) +
                          SizeText(kbps, setup_.source().secDuration, &gigabytes));
  if (warn && gigabytes > kNearLimitGB && !nearLimitWarned_) {
    nearLimitWarned_ = true;
    ShowMessage(
        Res(QStringLiteral("msg_nearly2GB")).replace(QStringLiteral("%s"), GigabyteText(gigabytes)),
        Res(QStringLiteral("ttl_Warning")), MsgButtons::Ok, MsgIcon::Warning);
  }
}

void frmAdd::SelectQuietly(QRadioButton* option) {
  if (option == nullptr) return;
  const QSignalBlocker block(option);
  option->setChecked(true);
}

QRadioButton* frmAdd::ConversionOption(int32_t conversion) const {
  switch (conversion) {
    case kServerCvt:
      return ui_->optServerCvt;
    case kNoCvt:
      return ui_->optNoCvtForMp4;
    default:
      return ui_->optLocalCvt;
  }
}

QRadioButton* frmAdd::ResolutionOption(int32_t resolution) const {
  switch (resolution) {
    case kSourceRes:
      return ui_->optSrcRes;
    case kHighRes:
      return ui_->optHiRes;
    default:
      return ui_->optStdRes;
  }
}

void frmAdd::OnConversionClicked(int32_t conversion) {
  if (!ConversionOption(conversion)->isEnabled()) return;
  if (!setup_.ChooseConversion(conversion)) {
    ShowMessage(Res(QStringLiteral("msg_exceed2GB")), QString(), MsgButtons::Ok, MsgIcon::Warning);
    SelectQuietly(ConversionOption(setup_.dstCvtType));
    return;
  }
  ApplyResolutionRule(videoGroupEnabled_);
  ApplyResolutionCaptions(videoGroupEnabled_);
  ShowDestination(videoGroupEnabled_);
}

void frmAdd::OnResolutionClicked(int32_t resolution) {
  if (!ResolutionOption(resolution)->isEnabled()) return;
  if (!setup_.ChooseResolution(resolution)) {
    ShowMessage(Res(QStringLiteral("msg_exceed2GB")), QString(), MsgButtons::Ok, MsgIcon::Warning);
    SelectQuietly(ResolutionOption(setup_.dstResType));
    return;
  }
  ShowDestination(videoGroupEnabled_);
}

void frmAdd::lCustomBps_Click() {
  if (!ui_->lCustomBps->isVisible() || !ui_->lCustomBps->isEnabled()) return;
  const int32_t seconds = setup_.source().secDuration;
  const int32_t defaultKbps =
      VideoKbps(setup_.videoWidth, setup_.videoHeight) + AudioKbps(setup_.videoWidth);
  if (ExceedsUploadLimit(BytesFor(defaultKbps, seconds))) {
    ShowMessage(Res(QStringLiteral("msg_noCustomBps")), QString(), MsgButtons::Ok,
                MsgIcon::Warning);
    return;
  }
  const int32_t before = setup_.customBps;
  frmCustomBps dialog(
      defaultKbps, seconds, setup_.customBps,
      [this](int32_t customBps, int32_t shownKbps) {
        setup_.customBps = customBps;
        SetCustomBpsLabels(shownKbps, false);
      },
      this);
  dialog.exec();
  if (setup_.customBps != before) ShowDestination(videoGroupEnabled_);
}

void frmAdd::cmdOK_Click() {
  DialogShared& shared = DialogShared::Instance();
  if (!picker_->hasFolder() || setup_.path().isEmpty()) return;
  const JobServer server = picker_->CurrentServer();
  const QString path = ui_->txtFile->text();
  const bool editing = shared.editRequest.editing;
  const QString editedPath = editing ? shared.editRequest.path : QString();
  if (queue_.itemExist(path) && !(editing && path.trimmed() == editedPath.trimmed())) {
    ShowDialogMessage({QStringLiteral("msg_hasBeenAdded"), QString(),
                       editing ? QStringLiteral("Edit Video") : QStringLiteral("Add Video")});
    return;
  }
  if (JobSetup::IsProjectPath(path) && projectOpened_ &&
      !JobSetup::SaveProjectTexts(ui_->txtTitle->text(), ui_->txtAuthor->text())) {
    const cf::CProjectFile::Failure& failure = cf::CProjectFile::Shared().saveFailure();
    ShowMessage(failure.text, failure.title, MsgButtons::Ok, MsgIcon::Critical);
  }
  const cf::UploadJob job = setup_.BuildJob(server, shared.serverCaps, shared.EncryptPassword,
                                            ui_->txtTitle->text(), ui_->txtAuthor->text());
  job_ = job;
  WriteSetting(kSettings, QStringLiteral("folderID"), server.folderID);
  WriteSetting(kSettings, QStringLiteral("folderName"), server.folderName);
  accept();
}

void frmAdd::cmdCancel_Click() {
  if (DialogShared::Instance().DialogBusy != DialogShared::kIdle) {
    done(QDialog::Rejected);
    return;
  }
  cancelled_ = true;
  reject();
}

void frmAdd::done(int result) {
  DialogShared& shared = DialogShared::Instance();
  if (shared.DialogBusy == DialogShared::kProbing) {
    ShowMessage(Res(QStringLiteral("msg_ExitOnGetVidInfo")));
    return;
  }
  if (shared.DialogBusy == DialogShared::kFetchingFolders) {
    ShowMessage(Res(QStringLiteral("msg_ExitOnGetFolder")));
    return;
  }
  shared.editRequest.clear();
  shared.FolderListKnown = picker_->loginState();
  QDialog::done(result);
}

bool frmAdd::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == ui_->lNoCvtHelp) {
      ShowMessage(Res(QStringLiteral("msg_noCvtForMp4")),
                  Res(QStringLiteral("ttl_Help"), QStringLiteral("Help")));
      return true;
    }
    if (watched == ui_->lCustomBps) {
      lCustomBps_Click();
      return true;
    }
    if (ui_->TreeView1->isVisible()) ui_->picFolder->setFocus();
  }
  return QDialog::eventFilter(watched, event);
}
