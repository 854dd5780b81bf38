#include "app/queue/UserQuestions.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

// The window's questions reach the user as message boxes: the overwrite question with its three
// answers, each handed back to the engine as the user gave it.
TEST(MessageQuestions, OverwriteIsAskedWithThreeAnswersAndNoticesWithOne) {
  QList<MessageRequest> asked;
  MsgAnswer answer = MsgAnswer::Yes;
  const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
    asked.append(request);
    return answer;
  });
  cf::MessageQuestions questions;
  for (const MsgAnswer given : {MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Cancel}) {
    answer = given;
    EXPECT_EQ(questions.AskOverwrite(QStringLiteral("Replace it?")), given);
    ASSERT_FALSE(asked.isEmpty());
    EXPECT_EQ(asked.last().buttons, MsgButtons::YesNoCancel);
    EXPECT_EQ(asked.last().icon, MsgIcon::Question);
    EXPECT_EQ(asked.last().text, QStringLiteral("Replace it?"));
  }
  answer = MsgAnswer::Ok;
  questions.Tell(QStringLiteral("Done"), MsgIcon::Warning);
  EXPECT_EQ(asked.last().buttons, MsgButtons::Ok);
  EXPECT_EQ(asked.last().icon, MsgIcon::Warning);
  SetMessageHandler(previous);
}

}  // namespace
