#include "app/services/MessageService.h"
#include "app/services/PasswordDigest.h"
#include "platform/codepage/CodePage.h"

#include <gtest/gtest.h>

namespace {

TEST(PasswordDigest, IsLowerCaseMd5OfLowerCaseMd5OfTheTrimmedPassword) {
  cf::codepage::SetCodePage(QStringLiteral("UTF-8"));
  EXPECT_EQ(PasswordDigest(QString()), QStringLiteral("74be16979710d4c4e7c6647856088456"));
  EXPECT_EQ(PasswordDigest(QStringLiteral("secret")),
            QStringLiteral("7022cd14c42ff272619d6beacdc9ffde"));
  EXPECT_EQ(PasswordDigest(QStringLiteral("  secret \t")),
            PasswordDigest(QStringLiteral("secret")));
  cf::codepage::SetCodePage(QString());
}

TEST(PasswordDigest, HashesTheNarrowCodePageBytes) {
  // In Big5 each of these two characters is two bytes: A4A4 A4E5.
  cf::codepage::SetCodePage(QStringLiteral("CP950"));
  EXPECT_EQ(PasswordDigest(QStringLiteral("中文")),
            QStringLiteral("dd86be2b38de3095050ec7420b0dfeb1"));
  cf::codepage::SetCodePage(QString());
}

TEST(PasswordDigest, HashStringIsUpperCaseAndUnknownAlgorithmsFailWithAMessage) {
  cf::codepage::SetCodePage(QStringLiteral("UTF-8"));
  EXPECT_EQ(HashString(QString(), kCalgMd5), QStringLiteral("D41D8CD98F00B204E9800998ECF8427E"));
  QString shown;
  const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
    shown = request.text;
    return MsgAnswer::Ok;
  });
  EXPECT_EQ(HashString(QStringLiteral("x"), 0x1234), QString());
  EXPECT_EQ(shown, QStringLiteral("Failed to hash string!"));
  SetMessageHandler(previous);
  cf::codepage::SetCodePage(QString());
}

}  // namespace
