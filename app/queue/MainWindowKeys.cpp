#include "app/queue/MainWindowKeys.h"

#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/modLanguage.h"
#include "ui_frmUpload.h"

#include <QApplication>
#include <QKeyEvent>

MainWindowKeys::MainWindowKeys(frmUpload& window) : QObject(&window), window_(window) {
  // The press of an Escape goes to whichever window had the focus; only the application sees
  // both halves of the key wherever they land.
  qApp->installEventFilter(this);
}

bool MainWindowKeys::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
  const auto& key = static_cast<const QKeyEvent&>(*event);
  if (key.key() == Qt::Key_Escape) return FilterEscape(watched, key);
  if (type == QEvent::KeyPress && key.key() == Qt::Key_Delete &&
      key.modifiers() == Qt::NoModifier && watched == window_.form().gridQueue) {
    AskAndRemove();
    return true;
  }
  return false;
}

bool MainWindowKeys::FilterEscape(QObject* watched, const QKeyEvent& key) {
  if (key.type() == QEvent::KeyPress) {
    // A held key repeats its press; only the first one says where the key went down.
    // The platform window sees the key before its widgets; the widgets say which window it is.
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (!key.isAutoRepeat() && widget != nullptr) escapeArmed_ = widget->window() == &window_;
    return false;
  }
  // The release reaches the focused control first and the window last; the window closes.
  if (watched != &window_) return false;
  if (key.isAutoRepeat() || !escapeArmed_) return true;
  escapeArmed_ = false;
  return false;
}

void MainWindowKeys::AskAndRemove() {
  Ui::frmUpload& ui = window_.form();
  if (!ui.cmdRemove->isEnabled() || !ui.gridQueue->selectionModel()->hasSelection()) return;
  const QString question =
      GetResString(QStringLiteral("frmUpload"), QStringLiteral("msgRemoveSelected"),
                   QStringLiteral("Remove the selected videos from the queue?"));
  if (ShowMessage(question, QString(), MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes)
    return;
  ui.cmdRemove->click();
}
