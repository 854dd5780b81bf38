#include "app/services/WindowMavo.h"

#include <QWidget>

std::unique_ptr<MavoControl> CreateWindowMavo(QWidget* window, QString* error) {
  std::unique_ptr<MavoControl> control = MavoControl::Create(window, error);
  if (control && control->Window() != nullptr) control->Window()->hide();
  return control;
}
