#pragma once

#include "app/services/MessageService.h"

#include <QString>

namespace cf {

// What the job engine needs from the user: notices, and the one question of a run (whether an
// upload replaces the content already on the server). The window answers with message boxes,
// clipferry-cli with its --overwrite choice, tests with scripted answers.
class UserQuestions {
 public:
  virtual ~UserQuestions() = default;

  // A notice that needs no answer.
  virtual void Tell(const QString& text, MsgIcon icon) = 0;
  // Yes replaces the server's content, No uploads as new content, Cancel skips the job.
  virtual MsgAnswer AskOverwrite(const QString& text) = 0;
};

// Asks through the program's message service: a box in the window.
class MessageQuestions : public UserQuestions {
 public:
  void Tell(const QString& text, MsgIcon icon) override;
  MsgAnswer AskOverwrite(const QString& text) override;
};

}  // namespace cf
