#pragma once

#include <QString>

// The step a window was busy with when something unexpected went wrong ("LoadConfig",
// "SetTreeViewData", ...), so the error message can name it.
void SetRunningStep(const QString& step);
QString RunningStep();

// Shows an unexpected error: the text alone when `title` is empty, otherwise the text, ": " and
// the step last recorded, under `title`.
void ShowError(const QString& text, const QString& title);
