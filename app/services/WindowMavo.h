#pragma once

#include "app/services/MavoControl.h"

#include <memory>

class QString;
class QWidget;

// Creates the upload control for one of the program's windows. The windows use the control only
// for its requests, so its own window is kept hidden, as a form's invisible control is; shown, it
// would be painted over the host's top left corner.
std::unique_ptr<MavoControl> CreateWindowMavo(QWidget* window, QString* error = nullptr);
