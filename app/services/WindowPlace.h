#pragma once

class QString;
class QWidget;

// Keeps a window's size and position between runs, under the window's object name in the
// settings: restored now, saved each time the window hides or closes. A saved place that lies
// off every screen today (a monitor unplugged) is moved onto one.
void RememberWindowPlace(QWidget* window);

// The folder the file dialogs start in: the one the last file or folder was picked from.
QString LastPickedFolder();
// Records where a picked file or folder lies, for the next file dialog.
void RememberPickedPath(const QString& path);
