#pragma once

#include <QString>

#include <functional>

// The one place every window and engine object asks the user something. The GUI program installs
// a handler that shows a message box; tests and clipferry-cli install their own answers.
enum class MsgButtons { Ok, YesNo, YesNoCancel };
enum class MsgIcon { Information, Warning, Critical, Question };
enum class MsgAnswer { Ok, Yes, No, Cancel };

struct MessageRequest {
  QString text;
  QString title;
  MsgButtons buttons = MsgButtons::Ok;
  MsgIcon icon = MsgIcon::Information;
};

using MessageHandler = std::function<MsgAnswer(const MessageRequest&)>;

// Shows a message and returns the answer. Without a handler the message goes to the debug log and
// the answer is Ok, No or Cancel (the answer that changes nothing).
MsgAnswer ShowMessage(const QString& text, const QString& title = {},
                      MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::Information);

// Installs the handler; returns the previous one so a caller can restore it.
MessageHandler SetMessageHandler(MessageHandler handler);
