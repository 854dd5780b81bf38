#pragma once

#include <QString>

// The step a window was busy with when something unexpected went wrong ("LoadConfig",
// "SetTreeViewData", ...), so the error message can name it.
void SetRunningStep(const QString& step);
QString RunningStep();

// An unexpected error's text followed by ": " and the step last recorded, for the caller to
// report.
QString StepErrorText(const QString& text);
