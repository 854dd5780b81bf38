// The updater: started by clipFerry from the update folder's "updater" subfolder with the
// argument "ClipFerry" once an update is downloaded. It waits for the program to end, lays the
// patches onto the program folder, cleans up and starts the program again.

#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/modGlobal.h"
#include "app/updater/ProcessList.h"
#include "app/updater/modUpdate.h"
#include "platform/desktop/SingleInstance.h"
#include "tools/updater/UpdateApplier.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstdio>

namespace {

// How long the program may take to close before the update is given up.
constexpr int kWaitForExitMs = 120000;
constexpr int kPollMs = 200;

void Say(const QString& text) { std::fprintf(stderr, "kqUpdater: %s\n", qPrintable(text)); }

bool WaitForProgramExit(const QString& programFolder, const QString& windowTitle) {
  const QString executable = JoinPath(programFolder, QString::fromLatin1(kProgramExecutable));
  for (int waited = 0; waited <= kWaitForExitMs; waited += kPollMs) {
    const bool running =
        (!windowTitle.isEmpty() && cf::desktop::SingleInstance::IsRunning(windowTitle)) ||
        ProcessList::IsRunningFrom(executable);
    if (!running) return true;
    QThread::msleep(kPollMs);
  }
  return false;
}

bool StartProgram(const QString& programFolder) {
  const QString executable = JoinPath(programFolder, QString::fromLatin1(kProgramExecutable));
  return QProcess::startDetached(executable, {}, programFolder);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() != 2 || arguments.at(1) != QLatin1String(kUpdaterArgument)) {
    Say(QStringLiteral("usage: %1 %2")
            .arg(QFileInfo(arguments.value(0)).fileName(), QString::fromLatin1(kUpdaterArgument)));
    return 2;
  }
  const QString section = QString::fromLatin1(kSettingsSection);
  const QString programFolder =
      ReadPlainSetting(section, QString::fromLatin1(kHandOverFolderKey), QString());
  const QString windowTitle =
      ReadPlainSetting(section, QString::fromLatin1(kHandOverTitleKey), QString());
  if (programFolder.isEmpty() || !QFileInfo(programFolder).isDir()) {
    Say(QStringLiteral("the program did not say which folder to update."));
    return 1;
  }
  // The update folder is the one above the unpacked updater.
  const QString updateFolder =
      QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
  if (!WaitForProgramExit(programFolder, windowTitle)) {
    Say(QStringLiteral("ClipFerry is still running; the update is left for later."));
    return 1;
  }
  UpdateApplier applier(updateFolder, programFolder);
  const bool applied = applier.Apply();
  if (applied) {
    Say(QStringLiteral("updated %1 file(s) in %2")
            .arg(applier.AppliedFiles().size())
            .arg(programFolder));
    // Done with the downloads; the running updater's own file may go too.
    DeleteFolder(updateFolder);
    WritePlainSetting(section, QString::fromLatin1(kHandOverFolderKey), QString());
    WritePlainSetting(section, QString::fromLatin1(kHandOverTitleKey), QString());
  } else {
    // The folder is left as it was found, and so are the downloads, for a look at what failed.
    Say(QStringLiteral("the update was not applied: %1").arg(applier.ErrorText()));
  }
  // The program comes back either way: patched, or as it was.
  if (!StartProgram(programFolder)) {
    Say(QStringLiteral("cannot start %1")
            .arg(JoinPath(programFolder, QString::fromLatin1(kProgramExecutable))));
    return 1;
  }
  return applied ? 0 : 1;
}
