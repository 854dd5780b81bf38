#include "app/services/MessageService.h"

#include <QDebug>

#include <utility>

namespace {
MessageHandler& CurrentHandler() {
  static MessageHandler handler;
  return handler;
}
}  // namespace

MsgAnswer ShowMessage(const QString& text, const QString& title, MsgButtons buttons, MsgIcon icon) {
  const MessageHandler& handler = CurrentHandler();
  if (handler) return handler(MessageRequest{text, title, buttons, icon});
  qInfo().noquote() << (title.isEmpty() ? QString() : title + QStringLiteral(": ")) + text;
  switch (buttons) {
    case MsgButtons::Ok:
      return MsgAnswer::Ok;
    case MsgButtons::YesNo:
      return MsgAnswer::No;
    case MsgButtons::YesNoCancel:
      return MsgAnswer::Cancel;
  }
  return MsgAnswer::Ok;
}

MessageHandler SetMessageHandler(MessageHandler handler) {
  return std::exchange(CurrentHandler(), std::move(handler));
}
