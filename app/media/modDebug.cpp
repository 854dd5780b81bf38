#include "app/media/modDebug.h"

#include "app/services/MessageService.h"

namespace {
QString runningStep;
}  // namespace

void SetRunningStep(const QString& step) { runningStep = step; }

QString RunningStep() { return runningStep; }

void ShowError(const QString& text, const QString& title) {
  if (title.isEmpty()) {
    ShowMessage(text, {}, MsgButtons::Ok, MsgIcon::Critical);
    return;
  }
  ShowMessage(text + QStringLiteral(": ") + runningStep, title, MsgButtons::Ok, MsgIcon::Critical);
}
