#include "app/updater/UpdateStartup.h"

#include "app/media/ProcessRunner.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/XmlFile.h"
#include "app/services/modConfig.h"
#include "app/services/modLanguage.h"
#include "app/updater/ProcessList.h"
#include "app/updater/frmDownloader.h"
#include "app/updater/frmGetVerList.h"

#include <QApplication>
#include <QFileInfo>
#include <QWidget>

namespace {

const QString kSettings = QString::fromLatin1(kSettingsSection);

QString Setting(const char* key) {
  return ReadPlainSetting(kSettings, QString::fromLatin1(key), QString());
}

}  // namespace

UpdateStartup::UpdateStartup(QWidget* mainWindow, QWidget* addButton, QString windowTitle,
                             QString ownVersion)
    : QObject(mainWindow),
      mainWindow_(mainWindow),
      addButton_(addButton),
      windowTitle_(std::move(windowTitle)),
      ownVersion_(std::move(ownVersion)) {}

UpdateStartup::~UpdateStartup() { RestoreWindow(); }

void UpdateStartup::RestoreWindow() {
  if (busyCursor_) {
    QApplication::restoreOverrideCursor();
    busyCursor_ = false;
    if (addButton_) addButton_->setEnabled(addWasEnabled_);
  }
}

UpdateStartup::Next UpdateStartup::Tick(int tick) {
  if (tick == 1) {
    updater_ = ChooseUpdaterProgram(GetWindowsVersion());
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busyCursor_ = true;
    if (addButton_) {
      addWasEnabled_ = addButton_->isEnabled();
      addButton_->setEnabled(false);
    }
  }
  if (ProcessList::IsRunning(updater_.programName)) {
    if (tick < kUpdaterChecks) return Next::CheckAgain;
    RestoreWindow();
    ShowMessage(GetResString(QStringLiteral("frmDownloader"), QStringLiteral("msgCloseUpdater"),
                             QStringLiteral("Please close kqUpdater first!")),
                QStringLiteral("ClipFerry"), MsgButtons::Ok, MsgIcon::Warning);
    return Next::Close;
  }
  RestoreWindow();

  const QStringList arguments = QCoreApplication::arguments();
  if (CommandLineHas(arguments, QStringLiteral("-s"))) return Next::Done;
  // Without an update server there is nothing to offer and nothing to ask.
  const QString serverBase = UpdateServerBase(Setting(kUpdateServerKey));
  if (serverBase.isEmpty()) return Next::Done;
  if (ShowNewVersionNotice(serverBase)) return Next::Closed;
  auto* window = new frmGetVerList(
      mainWindow_, VersionListUrl(serverBase, CommandLineHas(arguments, QStringLiteral("-d"))),
      ownVersion_);
  Q_UNUSED(window);
  return Next::Done;
}

bool UpdateStartup::ShowNewVersionNotice(const QString& serverBase) {
  if (updater_.programName.isEmpty()) updater_ = ChooseUpdaterProgram(GetWindowsVersion());
  const QString listPath = Setting(kVerListPathKey);
  if (listPath.isEmpty() || !QFileInfo(listPath).isFile()) return false;
  pugi::xml_document doc;
  if (!LoadXmlFile(listPath, &doc)) return false;
  CVerList list;
  if (!ParseVersionList(doc, ownVersion_, &list) || list.Count() == 0) return false;

  const QString newest = list.Item(1).ver;
  const bool offer = ShouldOffer(Setting(kNewVerKey), Setting(kNewVerNotifyDateKey), newest,
                                 QDateTime::currentDateTime());
  WritePlainSetting(kSettings, QString::fromLatin1(kNewVerKey), newest);
  if (!offer) return false;
  WritePlainSetting(kSettings, QString::fromLatin1(kNewVerNotifyDateKey),
                    NotifyDateText(QDateTime::currentDateTime()));

  frmDownloader downloader(list, doc, serverBase, updater_, mainWindow_);
  downloader.exec();
  if (!downloader.UpdateReady()) return false;

  // The updater learns here which folder to patch and which running copy to wait for.
  WritePlainSetting(kSettings, QString::fromLatin1(kHandOverFolderKey), ProgramFolder());
  WritePlainSetting(kSettings, QString::fromLatin1(kHandOverTitleKey), windowTitle_);
  const QString program =
      JoinPath(JoinPath(downloader.UpdateFolderPath(), QString::fromLatin1(kUpdaterSubfolder)),
               updater_.programName);
  if (mainWindow_) mainWindow_->close();
  if (!ShellRun(program, QString::fromLatin1(kUpdaterArgument), false)) {
    ShowMessage(QStringLiteral("The updater could not be started: %1").arg(program), QString(),
                MsgButtons::Ok, MsgIcon::Critical);
  }
  return true;
}
