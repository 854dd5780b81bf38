#include "app/services/MessageBoxHandler.h"

#include "app/services/MessageService.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QMessageBox::Icon ToIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Critical:
      return QMessageBox::Critical;
    case MsgIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

MsgAnswer Show(const MessageRequest& request) {
  QMessageBox box(ToIcon(request.icon),
                  request.title.isEmpty() ? QApplication::applicationDisplayName() : request.title,
                  request.text, QMessageBox::NoButton, QApplication::activeWindow());
  switch (request.buttons) {
    case MsgButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MsgButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case MsgButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  // Enter and Escape both give the answer that changes nothing, so a stray key loses no work.
  const QMessageBox::StandardButton safe = request.buttons == MsgButtons::Ok ? QMessageBox::Ok
                                           : request.buttons == MsgButtons::YesNo
                                               ? QMessageBox::No
                                               : QMessageBox::Cancel;
  box.setDefaultButton(safe);
  box.setEscapeButton(safe);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return MsgAnswer::Yes;
    case QMessageBox::No:
      return MsgAnswer::No;
    case QMessageBox::Cancel:
      return MsgAnswer::Cancel;
    default:
      return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
  }
}

}  // namespace

void InstallMessageBoxHandler() { SetMessageHandler(Show); }
