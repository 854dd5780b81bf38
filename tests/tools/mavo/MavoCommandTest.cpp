#include "tools/mavo/MavoCommand.h"

#include <gtest/gtest.h>

namespace {

QStringList Words(const char* line) {
  return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

TEST(MavoCommand, RequestsJoinedByALonePlusRunInOrder) {
  std::vector<MavoCommand> commands;
  QString error;
  ASSERT_TRUE(MavoCommand::ParseAll(
      Words("getversion http://h/v/ + post http://h/p/ a=1+b + getversion2 http://h/v/ "
            "demo pw 3 -1 5.0 tool=x + putfile http://h/u/ demo pw 3 -1 f.zip "
            "--cancel-at 40"),
      &commands, &error))
      << error.toStdString();
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0].kind, MavoCommand::Kind::kGetVersion);
  EXPECT_EQ(commands[1].kind, MavoCommand::Kind::kPost);
  EXPECT_EQ(commands[1].args.at(1), QStringLiteral("a=1+b"));  // only a lone "+" separates
  EXPECT_EQ(commands[2].folderId, 3);
  EXPECT_EQ(commands[2].docId, -1);
  EXPECT_EQ(commands[3].cancelAt, 40);
  EXPECT_EQ(commands[3].args.size(), 6);
  EXPECT_EQ(commands[0].cancelAt, -1);
}

TEST(MavoCommand, MalformedCommandLinesAreRefusedWithAReason) {
  const char* cases[] = {
      "",
      "getversion",
      "getversion http://h/ extra",
      "getfolder http://h/ demo demo",
      "upload http://h/",
      "getversion http://h/ +",
      "+ getversion http://h/",
      "getversion2 http://h/ demo pw three -1 5 x",
      "putfile http://h/ demo pw 1 2 f --cancel-at",
      "putfile http://h/ demo pw 1 2 f --cancel-at 101",
  };
  for (const char* line : cases) {
    std::vector<MavoCommand> commands;
    QString error;
    EXPECT_FALSE(MavoCommand::ParseAll(Words(line), &commands, &error)) << line;
    EXPECT_FALSE(error.isEmpty()) << line;
  }
  // A wrong value is named in the reason.
  for (const auto& [line, named] :
       {std::pair{"getversion2 http://h/ demo pw three -1 5 x", "three"},
        std::pair{"putfile http://h/ demo pw 1 -x f", "-x"},
        std::pair{"putfile http://h/ demo pw 1 2 f --cancel-at 101", "101"}}) {
    std::vector<MavoCommand> commands;
    QString error;
    EXPECT_FALSE(MavoCommand::ParseAll(Words(line), &commands, &error));
    EXPECT_TRUE(error.contains(QLatin1String(named))) << line << ": " << error.toStdString();
  }
}

TEST(MavoCommand, AFailureIsANonEmptyErrInfoAnywhereInTheDocument) {
  const struct {
    const char* document;
    bool failure;
  } cases[] = {
      {R"(<?xml version="1.0" encoding="UTF-8" ?><putFile ver="2.0"><errInfo>1004</errInfo></putFile>)",
       true},
      {R"(<?xml version="1.0" encoding="UTF-8" ?><getVersion ver="2.0"><errInfo>0</errInfo></getVersion>)",
       true},
      {"<getfolder><sys><errInfo> 1103 </errInfo></sys></getfolder>", true},
      {"<getfolder><errInfo></errInfo><item id=\"2\"/></getfolder>", false},
      {"<putFile><contentID>7</contentID></putFile>", false},
      {"<root><errInformation>3</errInformation></root>", false},
      {"", false},
      {"Error=BadAuthentication", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MavoCommand::ReportsFailure(QString::fromUtf8(c.document)), c.failure) << c.document;
  }
}

}  // namespace
