#pragma once

#include "app/dialogs/JobSetup.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class UploadControl;

namespace pugi {
class xml_document;
}

// The server half of the add dialogs: the address, account and password boxes, the login with
// its folder request, the folder tree drop-down and the chosen folder. frmAdd and frmAddBatch
// each hand it their own controls and react to its signals; the program-wide values it keeps
// (server capabilities, the digest flag, the folder tree) live in DialogShared.
class ServerFolderPicker : public QObject {
  Q_OBJECT

 public:
  // The window's controls this piece drives; all are required.
  struct Controls {
    QLineEdit* txtServerIP = nullptr;
    QLineEdit* txtAccount = nullptr;
    QLineEdit* txtPassword = nullptr;
    QAbstractButton* cmdLogIn = nullptr;
    QAbstractButton* cmdCancel = nullptr;
    QLabel* lRefresh = nullptr;
    QLabel* lOldSysHelp = nullptr;
    QLabel* lFolderPath = nullptr;
    QWidget* picFolder = nullptr;
    QAbstractButton* imgOpenTV = nullptr;
    QTreeWidget* tree = nullptr;
  };

  // Root text separator of the path shown for the chosen folder.
  static constexpr char kPathSeparator[] = "/";
  static constexpr char kFolderCacheName[] = "getfolder.xml";

  ServerFolderPicker(QWidget* window, const Controls& controls, QObject* parent = nullptr);
  ~ServerFolderPicker() override;

  // Uses this control for the folder request instead of the program folder's module.
  void setControl(std::unique_ptr<UploadControl> control);
  // The folder whose mavo_profile.xml follows the chosen server and folder (a project's folder);
  // empty when there is none.
  void setProjectFolderSource(std::function<QString()> source) {
    projectFolder_ = std::move(source);
  }

  // Fills the three boxes from the remembered server; returns the remembered folder ID.
  QString LoadRememberedServer();
  // Fills the three boxes without counting it as the user's change: what the boxes held before
  // (a login's digest setting) stays valid until the user types.
  void SetServerBoxes(const QString& address, const QString& account, const QString& password);
  // The folder to choose after the next folder reply instead of the one chosen now (the edited
  // job's folder).
  void setPreferredFolder(const QString& folderID) { preferredFolder_ = folderID; }
  // The server boxes as a job's server, with the chosen folder.
  JobServer CurrentServer() const;
  QString NormalizedAddress() const;

  // Starts the folder request (the Log In button, or Enter in a server box).
  void LogIn();
  // Shows the folder list cached by an earlier login of this run, choosing `folderID` when it
  // can be chosen. False when the cache cannot be read (the tree stays empty).
  bool ShowCachedList(const QString& folderID);
  // Rebuilds the tree control from a reply (none: just empty it).
  void RebuildTree(const pugi::xml_document* reply);
  // Chooses the uploadable folder with this ID, keeping the current choice otherwise, and shows
  // the chosen folder's path.
  void SelectFolder(const QString& folderID);
  bool hasFolder() const;

  bool loginState() const { return loginState_; }
  void setLoginState(bool loggedIn);
  // The status line: red asks the user to act, black reports progress.
  void SetStatus(const QString& text, bool red);
  void ShowOldSystemTip();
  // Drop-down of the tree control.
  void ToggleTree();
  QTreeWidgetItem* itemForFolder(int32_t id) const { return items_.value(id, nullptr); }
  // What a click on a tree node does.
  void ChooseItem(QTreeWidgetItem* item);

 signals:
  void loginStarted();
  // A folder list arrived and was shown; the window enables what depends on a login.
  void loggedIn();
  void loginFailed();
  // The user changed a server box: whatever came from the last login is void.
  void serverFieldsChanged();
  void folderChosen();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnFolderReply();
  void FailLogin();
  void FillTree();
  void ShowChosenPath();
  void SaveAfterLogin(const QString& response);
  void OnServerFieldChanged(bool addressChanged);
  QString Res(const QString& key, const QString& fallback = {}) const;

  QWidget* window_;
  Controls c_;
  std::unique_ptr<UploadControl> control_;
  std::function<QString()> projectFolder_;
  QHash<int32_t, QTreeWidgetItem*> items_;
  QString preferredFolder_;
  bool loginState_ = false;
  bool sentDigest_ = false;
  QString serverErrorPrefix_;
};
