#include "platform/codepage/CodePage.h"

#include <gtest/gtest.h>

namespace {

using cf::codepage::FromAnsi;
using cf::codepage::SetCodePage;
using cf::codepage::ToAnsi;

TEST(CodePage, ConvertsToAndFromTheChosenCodePage) {
  SetCodePage(QStringLiteral("CP950"));
  bool ok = false;
  EXPECT_EQ(ToAnsi(QStringLiteral("a中文"), &ok), QByteArray("a\xA4\xA4\xA4\xE5"));
  EXPECT_TRUE(ok);
  EXPECT_EQ(FromAnsi(QByteArray("a\xA4\xA4\xA4\xE5")), QStringLiteral("a中文"));

  SetCodePage(QStringLiteral("CP1252"));
  EXPECT_EQ(ToAnsi(QStringLiteral("é"), &ok), QByteArray("\xE9"));
  // A character the code page cannot hold becomes "?", and the caller learns of it.
  EXPECT_EQ(ToAnsi(QStringLiteral("a中b"), &ok), QByteArray("a?b"));
  EXPECT_FALSE(ok);

  SetCodePage(QStringLiteral("UTF-8"));
  EXPECT_EQ(ToAnsi(QStringLiteral("中")), QByteArray("\xE4\xB8\xAD"));
  EXPECT_EQ(FromAnsi(QByteArray("\xE4\xB8\xAD")), QStringLiteral("中"));
  SetCodePage(QString());
}

TEST(CodePage, UndecodableBytesBecomeReplacementCharacters) {
  SetCodePage(QStringLiteral("CP950"));
  const QString text = FromAnsi(QByteArray("ok\xFF"));
  EXPECT_TRUE(text.startsWith(QStringLiteral("ok")));
  EXPECT_TRUE(text.contains(QChar(0xFFFD)));
  SetCodePage(QString());
}

}  // namespace
