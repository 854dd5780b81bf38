#include "app/services/ProgramFolder.h"
#include "app/services/modLanguage.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ResStrings : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    SetProgramFolder(folder_.path());
    ReloadResStrings();
  }
  void TearDown() override {
    SetProgramFolder(QString());
    ReloadResStrings();
  }
  void WriteRes(const QByteArray& xml) {
    QFile file(folder_.filePath(QStringLiteral("res.xml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(xml);
    file.close();
    ReloadResStrings();
  }
  QTemporaryDir folder_;
};

TEST_F(ResStrings, LooksUpTheAskedSectionAndTurnsBackslashNIntoLineBreaks) {
  WriteRes(R"(<?xml version="1.0" encoding="UTF-8"?>
<r>
  <s name="frmAdd"><t name="msgOne">add one</t></s>
  <s name="frmUpload">
    <t name="msgOne">first\nsecond</t>
    <t name="msgOne">duplicate</t>
    <t name="msgReal">line
break</t>
    <t name="msgChinese">上傳</t>
  </s>
</r>)");
  EXPECT_EQ(GetResString("frmUpload", "msgOne", "d"), QStringLiteral("first\r\nsecond"));
  EXPECT_EQ(GetResString("frmAdd", "msgOne", "d"), QStringLiteral("add one"));
  EXPECT_EQ(GetResString("frmUpload", "msgReal", "d"), QStringLiteral("line\nbreak"));
  EXPECT_EQ(GetResString("frmUpload", "msgChinese", "d"), QStringLiteral("上傳"));
  // Names compare with their letter case.
  EXPECT_EQ(GetResString("FrmUpload", "msgOne", "d"), QStringLiteral("d"));
  EXPECT_EQ(GetResString("frmUpload", "MSGONE", "d"), QStringLiteral("d"));
  EXPECT_EQ(GetResString("frmUpload", "missing", "d"), QStringLiteral("d"));
}

TEST_F(ResStrings, MissingOrBrokenFileGivesTheDefaults) {
  EXPECT_EQ(GetResString("frmUpload", "frmVersion", "2.100603"), QStringLiteral("2.100603"));
  WriteRes("<r><s name=\"frmUpload\"><t name=\"x\">unclosed</s></r>");
  EXPECT_EQ(GetResString("frmUpload", "x", "fallback"), QStringLiteral("fallback"));
}

TEST_F(ResStrings, NodeThatIsNotAnElementEndsTheSearch) {
  WriteRes(
      "<r><s name=\"a\"><!-- note --><t name=\"k\">v</t></s>"
      "<s name=\"b\"><t name=\"k\">v</t></s></r>");
  EXPECT_EQ(GetResString("a", "k", "d"), QStringLiteral("d"));
  EXPECT_EQ(GetResString("b", "k", "d"), QStringLiteral("v"));
}

TEST_F(ResStrings, FileIsReadOncePerProcess) {
  WriteRes("<r><s name=\"a\"><t name=\"k\">before</t></s></r>");
  EXPECT_EQ(GetResString("a", "k", "d"), QStringLiteral("before"));
  QFile::remove(folder_.filePath(QStringLiteral("res.xml")));
  EXPECT_EQ(GetResString("a", "k", "d"), QStringLiteral("before"));
}

TEST(InterfaceLanguage, SettingThenTraditionalChineseLocaleThenResXml) {
  const struct {
    const char* setting;
    const char* locale;
    const char* chosen;
  } cases[] = {
      {"en", "zh_TW", "en"},    {"zh_TW", "en_US", "zh_TW"}, {"", "zh_TW", "zh_TW"},
      {"", "zh_HK", "zh_TW"},   {"", "zh_Hant_SG", "zh_TW"}, {"", "zh_CN", ""},
      {"", "zh_Hans_HK", ""},   {"", "en_US", ""},           {"", "C", ""},
      {"fr", "zh_TW", "zh_TW"},  // a setting naming no shipped language is ignored
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        ChooseLanguage(QString::fromLatin1(c.setting), QLocale(QString::fromLatin1(c.locale))),
        QString::fromLatin1(c.chosen))
        << c.setting << " / " << c.locale;
  }
}

TEST_F(ResStrings, ChosenLanguageIsReadFromItsOwnFileElseFromResXml) {
  WriteRes(R"(<r><s name="w"><t name="k">from res.xml</t></s></r>)");
  QFile chinese(folder_.filePath(QStringLiteral("res.zh_TW.xml")));
  ASSERT_TRUE(chinese.open(QIODevice::WriteOnly));
  chinese.write(R"(<r><s name="w"><t name="k">中文</t></s></r>)");
  chinese.close();

  UseLanguage(QStringLiteral("zh_TW"));
  EXPECT_EQ(LanguageInUse(), QStringLiteral("zh_TW"));
  EXPECT_EQ(GetResString(QStringLiteral("w"), QStringLiteral("k")), QStringLiteral("中文"));
  // English has no file here: res.xml stands in rather than no texts at all.
  UseLanguage(QStringLiteral("en"));
  EXPECT_EQ(LanguageInUse(), QString());
  EXPECT_EQ(GetResString(QStringLiteral("w"), QStringLiteral("k")), QStringLiteral("from res.xml"));
  // Only the shipped names are files; a setting cannot point the lookup elsewhere.
  UseLanguage(QStringLiteral("../zh_TW"));
  EXPECT_EQ(GetResString(QStringLiteral("w"), QStringLiteral("k")), QStringLiteral("from res.xml"));
  UseLanguage(QString());
}

}  // namespace
