#include "app/queue/frmUpload.h"
#include "app/services/MessageBoxHandler.h"
#include "platform/desktop/SingleInstance.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quillbox5"));
  QApplication::setApplicationName(QStringLiteral("clipFerry"));
  InstallMessageBoxHandler();

  // One running copy: a second start ends before it shows anything.
  cf::desktop::SingleInstance instance(frmUpload::WindowTitle());
  if (!instance.Acquire()) return 0;

  frmUpload window;
  // clipferry-cli add hands its jobs to the running window, which owns the queue file.
  instance.SetHandler(
      [&window](const QByteArray& message) { return window.AcceptHandedJobs(message); });
  window.show();
  return QApplication::exec();
}
