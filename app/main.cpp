#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueFile.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageBoxHandler.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "platform/desktop/SingleInstance.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quillbox5"));
  QApplication::setApplicationName(QStringLiteral("clipFerry"));
  InstallMessageBoxHandler();

  // One running copy: a second start ends before it shows anything.
  cf::desktop::SingleInstance instance(frmUpload::WindowTitle());
  if (!instance.Acquire()) return 0;
  // A run of clipferry-cli owns the queue file until it ends; a window beside it would show a
  // stale queue and write over what the run records.
  if (cf::QueueAutoSave::HeldElsewhere(cf::QueueFile::PathIn(ProgramFolder()))) {
    const QString text = QStringLiteral(
        "clipferry-cli is running the upload queue. Start clipFerry again when it has finished.");
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    ShowMessage(text, QString(), MsgButtons::Ok, MsgIcon::Warning);
    return 1;
  }

  frmUpload window;
  // clipferry-cli add, remove and clear go to the running window, which owns the queue file.
  instance.SetHandler(
      [&window](const QByteArray& message) { return window.AcceptHandedJobs(message); });
  window.show();
  return QApplication::exec();
}
