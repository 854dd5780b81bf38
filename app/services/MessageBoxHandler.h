#pragma once

class QWidget;

// Makes every ShowMessage of the program a modal message box over the active window.
void InstallMessageBoxHandler();
