#include "app/queue/UserQuestions.h"

namespace cf {

void MessageQuestions::Tell(const QString& text, MsgIcon icon) {
  ShowMessage(text, QString(), MsgButtons::Ok, icon);
}

MsgAnswer MessageQuestions::AskOverwrite(const QString& text) {
  return ShowMessage(text, QString(), MsgButtons::YesNoCancel, MsgIcon::Question);
}

}  // namespace cf
