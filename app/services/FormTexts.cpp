#include "app/services/FormTexts.h"

#include "app/services/modLanguage.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QToolBar>
#include <QWidget>

void ApplyFormTexts(QWidget* window) {
  const QString section = window->objectName();
  window->setWindowTitle(GetResString(section, section, QString()));

  for (QObject* child : window->findChildren<QObject*>()) {
    const QString name = child->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
    if (auto* label = qobject_cast<QLabel*>(child)) {
      label->setText(GetResString(section, name, QString()));
    } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
      // Tool buttons of a toolbar get their caption through their action below.
      if (qobject_cast<QToolBar*>(button->parentWidget()) == nullptr) {
        button->setText(GetResString(section, name, QString()));
      }
    } else if (auto* frame = qobject_cast<QGroupBox*>(child)) {
      frame->setTitle(GetResString(section, name, QString()));
    } else if (auto* menu = qobject_cast<QMenu*>(child)) {
      menu->setTitle(GetResString(section, name, QString()));
    } else if (auto* toolbar = qobject_cast<QToolBar*>(child)) {
      for (QAction* action : toolbar->actions()) {
        if (action->isSeparator() || action->objectName().isEmpty()) continue;
        action->setText(
            GetResString(section, QStringLiteral("Toolbar") + action->objectName(), QString()));
      }
    } else if (auto* action = qobject_cast<QAction*>(child)) {
      // Toolbar actions were handled with their toolbar; menu actions are captioned here.
      bool onToolbar = false;
      for (QObject* user : action->associatedObjects()) {
        if (qobject_cast<QToolBar*>(user) != nullptr) onToolbar = true;
      }
      if (!onToolbar && !action->isSeparator())
        action->setText(GetResString(section, name, QString()));
    }
  }
}
