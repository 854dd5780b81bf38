#include "app/queue/MainWindowComforts.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueFile.h"
#include "app/queue/SecondStart.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageBoxHandler.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/modLanguage.h"
#include "app/updater/modUpdate.h"
#include "platform/desktop/SingleInstance.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>

namespace {

// CLIPFERRY_UPDATE_SERVER points the update check at a server for this run only (scripts/run
// gives it the demo server); the stored setting comes back when the window closes.
class UpdateServerForThisRun {
 public:
  UpdateServerForThisRun() {
    const QString server = qEnvironmentVariable("CLIPFERRY_UPDATE_SERVER").trimmed();
    if (server.isEmpty()) return;
    active_ = true;
    stored_ = ReadPlainSetting(kSection, kKey, QString());
    WritePlainSetting(kSection, kKey, server);
  }
  ~UpdateServerForThisRun() {
    if (active_) WritePlainSetting(kSection, kKey, stored_);
  }

 private:
  const QString kSection = QString::fromLatin1(kSettingsSection);
  const QString kKey = QString::fromLatin1(kUpdateServerKey);
  bool active_ = false;
  QString stored_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quillbox5"));
  QApplication::setApplicationName(QStringLiteral("clipFerry"));
  InstallMessageBoxHandler();
  // The user's language, else the system's, else res.xml; every text below is read after this.
  UseLanguage(ChooseLanguage(MainWindowComforts::LanguageSetting(), QLocale::system()));

  // One running copy: a second start brings the running window to the front and ends.
  cf::desktop::SingleInstance instance(ProgramIdentity::InstanceName());
  if (!instance.Acquire()) {
    SecondStart::AskRunningWindowToShow(ProgramIdentity::InstanceName());
    return 0;
  }
  // A run of clipferry-cli owns the queue file until it ends; a window beside it would show a
  // stale queue and write over what the run records.
  if (cf::QueueAutoSave::HeldElsewhere(cf::QueueFile::PathIn(ProgramFolder()))) {
    const QString text = QStringLiteral(
        "clipferry-cli is running the upload queue. Start clipFerry again when it has finished.");
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    ShowMessage(text, QString(), MsgButtons::Ok, MsgIcon::Warning);
    return 1;
  }

  const UpdateServerForThisRun updateServer;
  frmUpload window;
  // clipferry-cli add, remove and clear go to the running window, which owns the queue file; a
  // second start asks it to show itself.
  instance.SetHandler(
      [&window](const QByteArray& message) { return SecondStart::Answer(window, message); });
  window.show();
  return QApplication::exec();
}
