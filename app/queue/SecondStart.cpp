#include "app/queue/SecondStart.h"

#include "app/queue/frmUpload.h"
#include "platform/desktop/SingleInstance.h"

namespace SecondStart {

bool AskRunningWindowToShow(const QString& instanceName) {
  QByteArray answer;
  return cf::desktop::SingleInstance::Send(instanceName, QByteArray(kShowWindow), &answer) &&
         answer == kShowWindow;
}

QByteArray Answer(frmUpload& window, const QByteArray& message) {
  if (message != kShowWindow) return window.AcceptHandedJobs(message);
  if (window.isMinimized()) window.showNormal();
  window.show();
  window.raise();
  window.activateWindow();
  return QByteArray(kShowWindow);
}

}  // namespace SecondStart
