#include "app/updater/modUpdate.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

pugi::xml_document Doc(const char* xml) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml)) << xml;
  return doc;
}

QStringList Versions(const CVerList& list) {
  QStringList versions;
  for (int i = 1; i <= list.Count(); ++i) versions.append(list.Item(i).ver);
  return versions;
}

std::string Item(const char* ver, const char* full = "False", const char* path = "/v") {
  return std::string("<item><ver>") + ver + "</ver><path>" + path + "</path><fullPatch>" + full +
         "</fullPatch><log>x</log></item>";
}

TEST(ParseVersionList, KeepsNewerItemsInListOrderAndDropsUnsafeOnes) {
  struct Case {
    const char* name;
    std::string items;
    bool parsed;
    QStringList kept;
  };
  const Case cases[] = {
      {"only newer versions", Item("2.3") + Item("2.100603") + Item("2.05"), true, {"2.3"}},
      {"a repeated version once", Item("2.3") + Item(" 2.3 "), true, {"2.3"}},
      {"a version that names another folder is dropped",
       Item("../../x") + Item("2.4/evil") + Item("2.3"),
       true,
       {"2.3"}},
      {"a folder on another host is dropped",
       Item("2.5", "False", "@evil.example/x") + Item("2.3"),
       true,
       {"2.3"}},
      {"numbers as fullPatch", Item("2.4", "0") + Item("2.3", "1"), true, {"2.4", "2.3"}},
      {"an unreadable fullPatch ends the parse, keeping what came before",
       Item("2.4") + Item("2.3", "maybe") + Item("2.2"),
       false,
       {"2.4"}},
      {"an item without its log ends the parse",
       Item("2.4") +
           "<item><ver>2.3</ver><path>/v</path><fullPatch>True</fullPatch>"
           "</item>" +
           Item("2.2"),
       false,
       {"2.4"}},
  };
  for (const Case& c : cases) {
    const std::string xml = "<verInfo><list>" + c.items + "</list></verInfo>";
    const pugi::xml_document doc = Doc(xml.c_str());
    CVerList list;
    EXPECT_EQ(ParseVersionList(doc, QStringLiteral("2.100603"), &list), c.parsed) << c.name;
    EXPECT_EQ(Versions(list), c.kept) << c.name;
  }
}

TEST(ParseVersionList, ReadsEveryFieldAndFailsWithoutAList) {
  const pugi::xml_document doc =
      Doc("<verInfo><list><item><ver>2.2</ver><path>/version_ctrl/clipferry/version/2.2</path>"
          "<fullPatch>TRUE</fullPatch><log>one\ntwo</log><sha256>ABC</sha256></item></list>"
          "</verInfo>");
  CVerList list;
  ASSERT_TRUE(ParseVersionList(doc, QStringLiteral("2.100603"), &list));
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Item(1).folderUrl, QStringLiteral("/version_ctrl/clipferry/version/2.2"));
  EXPECT_TRUE(list.Item(1).fullPatch);
  EXPECT_EQ(list.Item(1).log, QStringLiteral("one\ntwo"));
  EXPECT_EQ(list.Item(1).sha256, QStringLiteral("abc"));

  CVerList none;
  EXPECT_FALSE(ParseVersionList(Doc("<verInfo><errInfo>1</errInfo></verInfo>"),
                                QStringLiteral("2.100603"), &none));
  EXPECT_EQ(none.Count(), 0);
}

TEST(ShouldOffer, OncePerDayForTheSameVersionAndAtOnceForANewerOne) {
  const QDateTime now(QDate(2024, 5, 10), QTime(9, 0));
  const QString today = NotifyDateText(QDateTime(QDate(2024, 5, 10), QTime(8, 59, 59)));
  const QString lateYesterday = NotifyDateText(QDateTime(QDate(2024, 5, 9), QTime(23, 59, 59)));
  const QString tomorrow = NotifyDateText(QDateTime(QDate(2024, 5, 11), QTime(0, 0)));
  struct Case {
    const char* name;
    QString newVer;
    QString date;
    QString newest;
    bool offer;
  };
  const Case cases[] = {
      {"never offered", "", "", "2.3", true},
      {"no date kept", "2.3", "", "2.3", true},
      {"same version, same day", "2.3", today, "2.3", false},
      {"same version, the next calendar day", "2.3", lateYesterday, "2.3", true},
      {"a newer version, same day", "2.2", today, "2.3", true},
      {"an older list, same day", "2.4", today, "2.3", false},
      {"an unreadable date", "2.3", "yesterday-ish", "2.3", true},
      {"a date ahead of the clock", "2.3", tomorrow, "2.3", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShouldOffer(c.newVer, c.date, c.newest, now), c.offer) << c.name;
  }
}

TEST(PatchCount, StopsAtTheNewestFullPatch) {
  struct Case {
    std::vector<const char*> fullPatch;
    int patches;
  };
  const Case cases[] = {{{"False", "True", "False"}, 2},
                        {{"False", "False", "False"}, 3},
                        {{"True", "True", "False"}, 1},
                        {{"False", "False", "True"}, 3}};
  for (const Case& c : cases) {
    CVerList list;
    for (size_t i = 0; i < c.fullPatch.size(); ++i) {
      list.Add(QString::number(3 - static_cast<int>(i)), QStringLiteral("/v"),
               QString::fromLatin1(c.fullPatch[i]), {});
    }
    EXPECT_EQ(PatchCount(list), c.patches);
  }
}

TEST(DownloadTexts, LogBoxAndSizes) {
  CVerList list;
  list.Add(QStringLiteral("2.3"), QStringLiteral("/a"), QStringLiteral("False"),
           QStringLiteral(" fixed a\n\tadded b "));
  list.Add(QStringLiteral("2.2"), QStringLiteral("/b"), QStringLiteral("False"), QString());
  EXPECT_EQ(LogBoxText(list), QStringLiteral("2.3\r\n        fixed a\r\n        added b\r\n\r\n"
                                             "2.2\r\n\r\n"));

  struct Case {
    qint64 received, total;
    const char *r, *t, *unit;
  };
  const Case cases[] = {{0, 500, "", "500.0", "B"},
                        {512, 2048, "0.5", "2.0", "KB"},
                        {1048576, 3 * 1048576 + 104858, "1.0", "3.1", "MB"},
                        {qint64{5} << 40, qint64{5} << 40, "5120.0", "5120.0", "GB"}};
  for (const Case& c : cases) {
    const SizeTexts texts = FormatSizes(c.received, c.total);
    EXPECT_EQ(texts.received, QString::fromLatin1(c.r)) << c.total;
    EXPECT_EQ(texts.total, QString::fromLatin1(c.t)) << c.total;
    EXPECT_EQ(texts.unit, QString::fromLatin1(c.unit)) << c.total;
  }
}

TEST(UpdateSettings, ServerAddressSwitchesAndVersionLines) {
  EXPECT_EQ(UpdateServerBase(QStringLiteral("  ")), QString());
  EXPECT_EQ(UpdateServerBase(QStringLiteral("127.0.0.1:8080/")),
            QStringLiteral("http://127.0.0.1:8080"));
  EXPECT_EQ(VersionListUrl(QStringLiteral("http://h"), true),
            QStringLiteral("http://h/version_ctrl/clipferry/verinfo.php?draft=1"));
  const QStringList args = {QStringLiteral("/opt/cf-s/clipFerry"), QStringLiteral("-d")};
  EXPECT_FALSE(
      CommandLineHas(args, QStringLiteral("-s")));  // the program's own path is not a switch
  EXPECT_TRUE(CommandLineHas(args, QStringLiteral("-d")));

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("verList.txt"));
  ASSERT_TRUE(WriteVersionLines(path, {QStringLiteral("2.2"), QStringLiteral("2.3")}));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray("2.2\r\n2.3\r\n"));
  QStringList read;
  ASSERT_TRUE(ReadVersionLines(path, &read));
  EXPECT_EQ(read, QStringList({QStringLiteral("2.2"), QStringLiteral("2.3")}));
}

}  // namespace
