#include "app/media/modDebug.h"

namespace {
QString runningStep;
}  // namespace

void SetRunningStep(const QString& step) { runningStep = step; }

QString RunningStep() { return runningStep; }

QString StepErrorText(const QString& text) { return text + QStringLiteral(": ") + runningStep; }
