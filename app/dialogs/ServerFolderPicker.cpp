#include "app/dialogs/ServerFolderPicker.h"

#include "app/dialogs/DialogShared.h"
#include "app/dialogs/FolderReply.h"
#include "app/services/MessageService.h"
#include "app/services/PasswordDigest.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/WindowMavo.h"
#include "app/services/XmlFile.h"
#include "app/services/modConfig.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>

#include <pugixml.hpp>

#include <utility>

namespace {

const QString kSettings = QString::fromLatin1(kSettingsSection);
constexpr int kFolderIdRole = Qt::UserRole + 1;
// The tree shows progress, and the window stays alive, every this many folders.
constexpr int kFolderProgressStep = 5;

enum TreeImage { kImageRoot = 1, kImageFolder = 2, kImageUploadable = 3 };

QIcon TreeIcon(int image) {
  QStyle* style = QApplication::style();
  switch (image) {
    case kImageRoot:
      return style->standardIcon(QStyle::SP_DriveNetIcon);
    case kImageUploadable:
      return style->standardIcon(QStyle::SP_DirOpenIcon);
    default:
      return style->standardIcon(QStyle::SP_DirClosedIcon);
  }
}

bool IsEnterKey(const QKeyEvent& key) {
  return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

}  // namespace

ServerFolderPicker::ServerFolderPicker(QWidget* window, const Controls& controls, QObject* parent)
    : QObject(parent), window_(window), c_(controls) {
  serverErrorPrefix_ = GetResString(QStringLiteral("frmUpload"), QStringLiteral("mavoError"));
  c_.tree->hide();
  c_.tree->setIndentation(19);
  c_.tree->setHeaderHidden(true);
  c_.lOldSysHelp->hide();
  c_.lOldSysHelp->setText(Res(QStringLiteral("lNoCvtHelp"), QStringLiteral("(info)")));
  // The folder box is reached with Tab like any field and opened with Enter, Space or Alt+Down;
  // its arrow only mirrors it for the mouse.
  c_.picFolder->setFocusPolicy(Qt::StrongFocus);
  c_.imgOpenTV->setFocusPolicy(Qt::NoFocus);

  for (QLineEdit* box : {c_.txtServerIP, c_.txtAccount, c_.txtPassword}) {
    box->installEventFilter(this);
    connect(box, &QLineEdit::textChanged, this,
            [this, box] { OnServerFieldChanged(box == c_.txtServerIP); });
  }
  for (QObject* clickable :
       {static_cast<QObject*>(c_.lFolderPath), static_cast<QObject*>(c_.picFolder),
        static_cast<QObject*>(c_.lOldSysHelp)}) {
    clickable->installEventFilter(this);
  }
  c_.tree->installEventFilter(this);
  connect(c_.cmdLogIn, &QAbstractButton::clicked, this, &ServerFolderPicker::LogIn);
  connect(c_.imgOpenTV, &QAbstractButton::clicked, this, &ServerFolderPicker::ToggleTree);
  connect(c_.tree, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { ChooseItem(item); });
}

ServerFolderPicker::~ServerFolderPicker() = default;

QString ServerFolderPicker::Res(const QString& key, const QString& fallback) const {
  return GetResString(QStringLiteral("frmAdd"), key, fallback);
}

void ServerFolderPicker::setControl(std::unique_ptr<UploadControl> control) {
  control_ = std::move(control);
  if (control_) {
    connect(control_.get(), &UploadControl::OnGetFolderFinished, this,
            &ServerFolderPicker::OnFolderReply);
  }
}

QString ServerFolderPicker::LoadRememberedServer() {
  ServerProfile profile;
  LoadServerProfile(&profile);
  SetServerBoxes(profile.serverAddress, profile.account, profile.password);
  return profile.folderID;
}

void ServerFolderPicker::SetServerBoxes(const QString& address, const QString& account,
                                        const QString& password) {
  const QSignalBlocker blockAddress(c_.txtServerIP);
  const QSignalBlocker blockAccount(c_.txtAccount);
  const QSignalBlocker blockPassword(c_.txtPassword);
  c_.txtServerIP->setText(address);
  c_.txtAccount->setText(account);
  c_.txtPassword->setText(password);
}

QString ServerFolderPicker::NormalizedAddress() const {
  return NormalizeServerAddress(c_.txtServerIP->text());
}

JobServer ServerFolderPicker::CurrentServer() const {
  const CFolderTree& tree = DialogShared::Instance().folderTree;
  return {NormalizedAddress(), c_.txtAccount->text().trimmed(), c_.txtPassword->text().trimmed(),
          tree.SelectedID(), tree.SelectedName()};
}

void ServerFolderPicker::SetStatus(const QString& text, bool red) {
  c_.lRefresh->setText(text);
  // A plain status keeps the theme's own text colour, so a dark theme stays readable.
  c_.lRefresh->setStyleSheet(red ? QStringLiteral("color: rgb(255, 0, 0);") : QString());
}

void ServerFolderPicker::setLoginState(bool loggedIn) {
  loginState_ = loggedIn;
  c_.cmdLogIn->setText(loggedIn ? Res(QStringLiteral("cmdRefresh"), QStringLiteral("Refresh"))
                                : Res(QStringLiteral("cmdLogIn"), QStringLiteral("Log In")));
}

void ServerFolderPicker::ShowOldSystemTip() {
  SetStatus(Res(QStringLiteral("msg_oldSysTip")), true);
  c_.lOldSysHelp->show();
}

void ServerFolderPicker::LogIn() {
  DialogShared& shared = DialogShared::Instance();
  SetStatus(Res(QStringLiteral("msg_refreshFrom")) + QLatin1Char(' ') + c_.txtServerIP->text() +
                QStringLiteral(" ..."),
            false);
  c_.lOldSysHelp->hide();
  c_.cmdLogIn->setEnabled(false);
  emit loginStarted();
  shared.DialogBusy = DialogShared::kFetchingFolders;
  c_.cmdCancel->setEnabled(false);

  QString password = c_.txtPassword->text().trimmed();
  sentDigest_ = shared.EncryptPassword;
  if (sentDigest_) {
    password = PasswordDigest(password);
    if (password.isEmpty()) {
      SetStatus(QString(), false);
      c_.cmdLogIn->setEnabled(true);
      c_.cmdCancel->setEnabled(true);
      shared.DialogBusy = DialogShared::kIdle;
      return;
    }
  }
  if (!control_) {
    QString why;
    std::unique_ptr<UploadControl> control = CreateWindowMavo(window_, &why);
    if (!control) {
      shared.DialogBusy = DialogShared::kIdle;
      ShowMessage(QStringLiteral("The upload control cannot be started: ") + why, QString(),
                  MsgButtons::Ok, MsgIcon::Critical);
      FailLogin();
      return;
    }
    setControl(std::move(control));
  }
  const QString url =
      QStringLiteral("http://") + NormalizedAddress() + QStringLiteral("/mavo/getfolder/");
  const QString exParam = QStringLiteral("tool=v.") + GetResString(QStringLiteral("frmUpload"),
                                                                   QStringLiteral("frmVersion"),
                                                                   QStringLiteral("2.100603"));
  if (!control_->GetFolder(url, c_.txtAccount->text(), password, exParam)) {
    // A request that never started would leave the dialog waiting for ever.
    shared.DialogBusy = DialogShared::kIdle;
    ShowMessage(GetResString(QStringLiteral("frmUpload"), QStringLiteral("msg_0")));
    FailLogin();
  }
}

void ServerFolderPicker::FailLogin() {
  c_.cmdCancel->setEnabled(true);
  c_.cmdLogIn->setEnabled(true);
  SetStatus(Res(QStringLiteral("msg_refreshFirst")), true);
  emit loginFailed();
}

void ServerFolderPicker::OnFolderReply() {
  DialogShared& shared = DialogShared::Instance();
  shared.DialogBusy = DialogShared::kIdle;
  SetStatus(QString(), false);
  // A failed login must not leave the previous credentials stored.
  WriteSetting(kSettings, QStringLiteral("account"), QString());
  WriteSetting(kSettings, QStringLiteral("password"), QString());
  const QString response = control_->Response();

  const FolderReply reply = FolderReply::Read(response, sentDigest_);
  switch (reply.outcome()) {
    case FolderReply::Outcome::RetryPlainPassword:
      shared.EncryptPassword = false;
      LogIn();
      return;
    case FolderReply::Outcome::Ok:
      break;
    default:
      ShowMessage(reply.MessageText(serverErrorPrefix_), reply.MessageTitle(), MsgButtons::Ok,
                  MsgIcon::Warning);
      FailLogin();
      return;
  }

  shared.serverCaps = reply.caps();
  QString chosenBefore = hasFolder() ? shared.folderTree.SelectedID() : QStringLiteral("0");
  // An edited job keeps its own folder rather than whatever an earlier dialog chose.
  if (!preferredFolder_.isEmpty()) chosenBefore = std::exchange(preferredFolder_, QString());
  RebuildTree(&reply.document());
  SelectFolder(chosenBefore);
  c_.cmdCancel->setEnabled(true);
  c_.cmdLogIn->setEnabled(true);
  if (shared.serverCaps.oldSystem()) ShowOldSystemTip();
  SaveAfterLogin(response);
  setLoginState(true);
  emit loggedIn();
}

void ServerFolderPicker::SaveAfterLogin(const QString& response) {
  WriteSetting(kSettings, QStringLiteral("serverIP"), NormalizedAddress());
  WriteSetting(kSettings, QStringLiteral("account"), c_.txtAccount->text());
  WriteSetting(kSettings, QStringLiteral("password"), c_.txtPassword->text());
  if (!hasFolder()) {
    // Nothing can be uploaded to this account: keep the folder remembered from before and say so.
    SetStatus(Res(QStringLiteral("msg_noUploadableFolder")), true);
  } else {
    const CFolderTree& tree = DialogShared::Instance().folderTree;
    WriteSetting(kSettings, QStringLiteral("folderID"), tree.SelectedID());
    WriteSetting(kSettings, QStringLiteral("folderName"), tree.SelectedName());
  }
  if (!WriteFileAtomically(JoinPath(ProgramFolder(), QLatin1String(kFolderCacheName)),
                           response.toUtf8())) {
    qWarning("The folder list could not be cached in the program folder");
  }

  const QString folder = projectFolder_ ? projectFolder_() : QString();
  if (folder.isEmpty() || !hasFolder()) return;
  if (QFileInfo(JoinPath(folder, QLatin1String(kProjectProfileName))).size() <= 10) return;
  ProjectProfile profile;
  if (!ReadProjectProfile(folder, &profile)) return;
  const QString folderID = DialogShared::Instance().folderTree.SelectedID();
  // Content stored for another server or folder cannot be replaced from here: start afresh.
  const QString contentID = profile.url != NormalizedAddress() || profile.folderID != folderID
                                ? QStringLiteral("0")
                                : profile.contentID;
  WriteProjectProfile(folder, c_.txtServerIP->text(), folderID, contentID);
}

bool ServerFolderPicker::ShowCachedList(const QString& folderID) {
  pugi::xml_document cached;
  const QString path = JoinPath(ProgramFolder(), QLatin1String(kFolderCacheName));
  if (!LoadXmlFile(path, &cached)) {
    qWarning("The cached folder list %s cannot be read", qPrintable(path));
    RebuildTree(nullptr);
    SelectFolder(folderID);
    return false;
  }
  RebuildTree(&cached);
  SelectFolder(folderID);
  return true;
}

void ServerFolderPicker::RebuildTree(const pugi::xml_document* reply) {
  CFolderTree& tree = DialogShared::Instance().folderTree;
  tree.Clear();
  items_.clear();
  c_.tree->clear();
  c_.lFolderPath->clear();
  if (reply != nullptr) {
    tree.setAdID(DialogShared::Instance().serverCaps.adID);
    tree.LoadFolderList(reply->document_element());
    window_->setEnabled(false);
    FillTree();
    window_->setEnabled(true);
  }
  SetStatus(QString(), false);
}

void ServerFolderPicker::FillTree() {
  const CFolderTree& tree = DialogShared::Instance().folderTree;
  SetStatus(c_.lRefresh->text(), false);
  auto* rootItem = new QTreeWidgetItem(QStringList{c_.txtServerIP->text()});
  rootItem->setData(0, kFolderIdRole, 0);
  rootItem->setIcon(0, TreeIcon(kImageRoot));
  c_.tree->addTopLevelItem(rootItem);
  items_.insert(0, rootItem);

  const QString building = Res(QStringLiteral("msg_buildingFolder"));
  // Siblings usually follow each other: their parent's item is reused without a lookup.
  int32_t cachedParentID = 0;
  QTreeWidgetItem* cachedParent = rootItem;
  int count = 0;
  for (CFolderNode* node = CFolderTree::GetNextNode(tree.RootNode()); node != nullptr;
       node = CFolderTree::GetNextNode(node)) {
    QTreeWidgetItem* parentItem =
        node->PID == cachedParentID ? cachedParent : items_.value(node->PID, rootItem);
    cachedParentID = node->PID;
    cachedParent = parentItem;
    auto* item = new QTreeWidgetItem(parentItem, QStringList{node->name});
    item->setData(0, kFolderIdRole, node->ID);
    item->setIcon(0, TreeIcon(node->Uploadable ? kImageUploadable : kImageFolder));
    items_.insert(node->ID, item);
    if (++count % kFolderProgressStep == 0) {
      c_.lRefresh->setText(QStringLiteral("\"") + node->name + QStringLiteral("\" ") + building);
      QCoreApplication::processEvents();
    }
  }
  rootItem->setExpanded(true);
}

bool ServerFolderPicker::hasFolder() const {
  return DialogShared::Instance().folderTree.SelLeafNode() != nullptr;
}

void ServerFolderPicker::SelectFolder(const QString& folderID) {
  DialogShared::Instance().folderTree.SelectByID(folderID);
  ShowChosenPath();
}

void ServerFolderPicker::ShowChosenPath() {
  const CFolderNode* chosen = DialogShared::Instance().folderTree.SelLeafNode();
  QTreeWidgetItem* item = chosen == nullptr ? nullptr : items_.value(chosen->ID, nullptr);
  if (item == nullptr) {
    c_.lFolderPath->clear();
    return;
  }
  c_.tree->setCurrentItem(item);
  c_.lFolderPath->setText(CFolderTree::PathNames(chosen).join(QLatin1String(kPathSeparator)));
}

void ServerFolderPicker::ChooseItem(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  CFolderTree& tree = DialogShared::Instance().folderTree;
  if (!tree.Select(tree.FindNode(item->data(0, kFolderIdRole).toInt()))) return;
  ShowChosenPath();
  c_.picFolder->setFocus();
  c_.tree->hide();
  emit folderChosen();
}

void ServerFolderPicker::ToggleTree() {
  if (c_.tree->isVisible()) {
    c_.tree->hide();
    return;
  }
  c_.tree->show();
  // Should focusing the tree ever bring the program down, the next start picks the other tree.
  WritePlainSetting(kSettings, QStringLiteral("useUniTreeView"), QStringLiteral("1"));
  c_.tree->setFocus();
  WritePlainSetting(kSettings, QStringLiteral("useUniTreeView"), QStringLiteral("0"));
  const CFolderNode* chosen = DialogShared::Instance().folderTree.SelLeafNode();
  if (chosen == nullptr) return;
  if (QTreeWidgetItem* root = c_.tree->topLevelItem(0)) {
    for (int i = 0; i < root->childCount(); ++i) root->child(i)->setExpanded(false);
  }
  if (QTreeWidgetItem* item = items_.value(chosen->ID, nullptr)) {
    c_.tree->setCurrentItem(item);
    if (item->parent() != nullptr) item->parent()->setExpanded(true);
    c_.tree->scrollToItem(item);
  }
}

void ServerFolderPicker::OnServerFieldChanged(bool addressChanged) {
  if (addressChanged) c_.lOldSysHelp->hide();
  setLoginState(false);
  DialogShared::Instance().EncryptPassword = true;
  SetStatus(Res(QStringLiteral("msg_refreshFirst")), true);
  emit serverFieldsChanged();
}

bool ServerFolderPicker::eventFilter(QObject* watched, QEvent* event) {
  auto* box = qobject_cast<QLineEdit*>(watched);
  if (box != nullptr) {
    if (event->type() == QEvent::KeyPress && IsEnterKey(*static_cast<QKeyEvent*>(event)) &&
        c_.cmdLogIn->isEnabled()) {
      // Enter in a server field logs in; it must not also press the dialog's OK.
      LogIn();
      return true;
    }
    if (event->type() == QEvent::FocusIn) {
      QMetaObject::invokeMethod(box, &QLineEdit::selectAll, Qt::QueuedConnection);
    } else if (event->type() == QEvent::FocusOut && box->text() != box->text().trimmed()) {
      box->setText(box->text().trimmed());
    }
    return false;
  }
  if (watched == c_.tree) {
    if (event->type() == QEvent::FocusOut) {
      c_.tree->hide();
    } else if (event->type() == QEvent::KeyPress) {
      const auto& key = *static_cast<QKeyEvent*>(event);
      if (key.key() == Qt::Key_Escape) {
        c_.picFolder->setFocus();
        c_.tree->hide();
        return true;
      }
      if (IsEnterKey(key) || key.key() == Qt::Key_Space) {
        ChooseItem(c_.tree->currentItem());
        return true;
      }
    }
    return false;
  }
  if (watched == c_.picFolder && event->type() == QEvent::KeyPress) {
    const auto& key = *static_cast<QKeyEvent*>(event);
    if (IsEnterKey(key) || key.key() == Qt::Key_Space ||
        (key.key() == Qt::Key_Down && key.modifiers() == Qt::AltModifier)) {
      ToggleTree();
      return true;
    }
    return false;
  }
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == c_.lOldSysHelp) {
      ShowMessage(Res(QStringLiteral("msg_oldSysWarning")),
                  Res(QStringLiteral("ttl_Help"), QStringLiteral("Help")));
      return true;
    }
    if (watched == c_.lFolderPath || watched == c_.picFolder) {
      ToggleTree();
      return true;
    }
  }
  return false;
}
