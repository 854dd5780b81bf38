#include "TestFiles.h"
#include "app/project/CProjectFile.h"

#include "app/services/MessageService.h"
#include "app/services/modConfig.h"
#include "app/services/modLanguage.h"
#include "tests/app/media/TestClips.h"
#include "tests/app/project/TestProjects.h"
#include "tests/support/TestProgramFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>

namespace cf {
namespace {

QByteArray Without(QByteArray xml, const char* pattern) {
  return QString::fromUtf8(xml)
      .remove(QRegularExpression(QString::fromUtf8(pattern),
                                 QRegularExpression::DotMatchesEverythingOption))
      .toUtf8();
}

QStringList Positions(const CProjectFile& project) {
  QStringList positions;
  for (const CIndexItem& item : project.IndexItem) positions << item.pos;
  return positions;
}

class CProjectFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(projects_.isValid());
    // The cursor script ships in a subfolder of the program folder.
    QDir(program_.path()).mkdir(QStringLiteral("encfiles"));
    ASSERT_TRUE(QFile::copy(TestClips::ProgramFolder() + QStringLiteral("/encfiles/kqctrl.js"),
                            program_.filePath(QStringLiteral("encfiles/kqctrl.js"))));
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_.push_back(request);
      return MsgAnswer::Ok;
    });
  }
  void TearDown() override { SetMessageHandler(previous_); }

  QString Folder(const QString& name) const { return projects_.filePath(name); }

  QString Write(const QString& name, const TestProject& project) {
    return TestProjects::WriteProject(Folder(name), project);
  }

  QString WriteBytes(const QString& name, const QByteArray& bytes) {
    QDir().mkpath(Folder(name));
    const QString path = Folder(name) + QStringLiteral("/project.kqp");
    return WriteFile(path, bytes) ? path : QString();
  }

  static QString KqpError(const QString& part) {
    return GetResString(QStringLiteral("frmCommon"), QStringLiteral("msgKqpError")) +
           QLatin1Char(' ') + part;
  }

  TestProgramFolder program_;
  QTemporaryDir projects_;
  std::vector<MessageRequest> messages_;
  MessageHandler previous_;
};

TEST_F(CProjectFileTest, ReadsEachVersionThroughItsLayout) {
  TestProject flat;
  flat.version = QStringLiteral("5.0");
  const QByteArray flatXml = TestProjects::ProjectXml(flat);
  TestProject nested;
  const QByteArray nestedXml = TestProjects::ProjectXml(nested);
  const struct {
    const char* name;
    QByteArray xml;
    bool ok;
  } cases[] = {
      {"version 5 without project", flatXml, true},
      {"version 6 through project", nestedXml, true},
      {"version 7 through project", QByteArray(nestedXml).replace("ver=\"6.0\"", "ver=\"7.2\""),
       true},
      {"version 6 laid out as 5", QByteArray(flatXml).replace("ver=\"5.0\"", "ver=\"6.0\""), false},
      {"version 5 laid out as 6", QByteArray(nestedXml).replace("ver=\"6.0\"", "ver=\"5.1\""),
       false},
  };
  for (const auto& c : cases) {
    messages_.clear();
    CProjectFile project;
    const QString path = WriteBytes(QString::fromUtf8(c.name), c.xml);
    EXPECT_EQ(project.Load(path), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(project.title, QStringLiteral("Fractions")) << c.name;
      EXPECT_TRUE(messages_.empty()) << c.name;
    } else {
      ASSERT_EQ(messages_.size(), 1u) << c.name;
      EXPECT_EQ(messages_[0].text, KqpError(QStringLiteral("abstract"))) << c.name;
    }
  }
}

TEST_F(CProjectFileTest, ReadsEveryValueOfTheFile) {
  TestProject written;
  written.items = {IndexEntry(QStringLiteral("Intro"), QStringLiteral("0")),
                   IndexEntry(QStringLiteral("Web"), QStringLiteral("-1"),
                              QStringLiteral("links\\page.htm"), QStringLiteral("d2")),
                   IndexEntry(QStringLiteral("Segment 2"), QStringLiteral("0005000"),
                              QStringLiteral("ignored.htm"), QStringLiteral("d3")),
                   IndexEntry(QStringLiteral("Web 2"), QStringLiteral("-1"),
                              QStringLiteral("b.htm"), QStringLiteral("d4")),
                   IndexEntry(QStringLiteral("Segment 3"), QStringLiteral("5000"))};
  CProjectFile project;
  ASSERT_TRUE(project.Load(Write(QStringLiteral("full"), written)));
  EXPECT_TRUE(messages_.empty());
  const QString values[] = {project.version,     project.title,        project.Author,
                            project.Manager,     project.Company,      project.Category,
                            project.Keywords,    project.Comments,     project.Template,
                            project.PhotoFile,   project.PhotoSize,    project.SoundFile,
                            project.SoundVolume, project.ShowCursor,   project.VideoBitRate,
                            project.VideoSize,   project.VideoPreview, project.IndexType};
  const char* expected[] = {"6.0",     "Fractions", "Ms. Lee", "Head",
                            "School",  "Lessons",   "math",    "Adding fractions",
                            "classic", "me.jpg",    "320x240", "intro.wav",
                            "5",       "0",         "96",      "160x120",
                            "1",       "TL"};
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(values[i], QString::fromUtf8(expected[i])) << "value " << i;
  }
  EXPECT_EQ(project.duration(), 60000);
  EXPECT_TRUE(project.CheckIndexPos);
  // Link items may stand anywhere; only they keep a url; positions are read as numbers.
  EXPECT_EQ(Positions(project), QStringList({"0", "-1", "5000", "-1", "5000"}));
  ASSERT_EQ(project.IndexCount(), 5);
  EXPECT_EQ(project.Item(2).Url, QStringLiteral("links\\page.htm"));
  EXPECT_TRUE(project.Item(2).isLinkItem());
  EXPECT_EQ(project.Item(3).Url, QString());
  EXPECT_EQ(project.Item(3).RecDate, QStringLiteral("d3"));
  EXPECT_FALSE(project.Item(1).Selected);
  EXPECT_EQ(project.Item(1).PosEnd, QString());
}

TEST_F(CProjectFileTest, ShippedTemplateIsAProjectOfTheVersionTheServerIsTold) {
  CProjectFile project;
  ASSERT_TRUE(project.Load(program_.filePath(QStringLiteral("default.kqp"))));
  EXPECT_EQ(project.version, GetDefaultProjectVersion());
  EXPECT_TRUE(project.version.startsWith(QLatin1Char('6')));
  EXPECT_EQ(project.IndexCount(), 0);
}

TEST_F(CProjectFileTest, MissingOptionalTextsTakeTheirDefaults) {
  const QByteArray xml =
      "<k ver=\"5\"><abstract/><configure><showcursor>1</showcursor><profile><video/></profile>"
      "</configure><index duration=\"0:00\"/></k>";
  CProjectFile project;
  ASSERT_TRUE(project.Load(WriteBytes(QStringLiteral("bare"), xml)));
  EXPECT_EQ(project.title, QStringLiteral("Quillbox Title"));
  EXPECT_EQ(project.Author, QString());
  EXPECT_EQ(project.Template, QStringLiteral("default"));
  EXPECT_EQ(project.PhotoFile, QStringLiteral("photo.gif"));
  EXPECT_EQ(project.PhotoSize, QStringLiteral("160x120"));
  EXPECT_EQ(project.SoundVolume, QStringLiteral("3"));
  EXPECT_EQ(project.VideoBitRate, QStringLiteral("96"));
  EXPECT_EQ(project.VideoSize, QString());
  EXPECT_EQ(project.VideoPreview, QStringLiteral("0"));
  EXPECT_EQ(project.IndexType, QStringLiteral("OL"));
  EXPECT_EQ(project.IndexCount(), 0);
}

TEST_F(CProjectFileTest, OtherVersionsAndUnreadableFilesAreRefused) {
  const QByteArray xml = TestProjects::ProjectXml(TestProject());
  const struct {
    const char* name;
    QByteArray bytes;
    const char* message;
  } cases[] = {
      {"version 4", QByteArray(xml).replace("ver=\"6.0\"", "ver=\"4.0\""),
       "Unrecognized project version!"},
      {"version 8", QByteArray(xml).replace("ver=\"6.0\"", "ver=\"8\""),
       "Unrecognized project version!"},
      {"no version", QByteArray(xml).replace(" ver=\"6.0\"", ""), "Unrecognized project version!"},
      {"not xml", "this is no project", nullptr},
      {"cut short", xml.left(xml.size() / 2), nullptr},
  };
  for (const auto& c : cases) {
    const QString path = WriteBytes(QString::fromUtf8(c.name), c.bytes);
    for (const bool silent : {false, true}) {
      messages_.clear();
      CProjectFile project;
      EXPECT_FALSE(project.Load(path, silent)) << c.name;
      if (silent) {
        EXPECT_TRUE(messages_.empty()) << c.name;
        continue;
      }
      ASSERT_EQ(messages_.size(), 1u) << c.name;
      EXPECT_EQ(messages_[0].text,
                c.message ? QString::fromUtf8(c.message) : KqpError(QStringLiteral("project.kqp")))
          << c.name;
    }
  }
  messages_.clear();
  CProjectFile project;
  EXPECT_FALSE(project.Load(Folder(QStringLiteral("nowhere/project.kqp"))));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CProjectFileTest, StructureErrorsNameThePartBeingRead) {
  TestProject base;
  base.items = {IndexEntry(QStringLiteral("A"), QStringLiteral("0")),
                IndexEntry(QStringLiteral("B"), QStringLiteral("-1"), QStringLiteral("b.htm"),
                           QStringLiteral("d"))};
  const QByteArray xml = TestProjects::ProjectXml(base);
  TestProject decreasing;
  decreasing.items = {IndexEntry(QStringLiteral("A"), QStringLiteral("0")),
                      IndexEntry(QStringLiteral("B"), QStringLiteral("5000")),
                      IndexEntry(QStringLiteral("C"), QStringLiteral("3000"))};
  TestProject linkBetween = decreasing;
  linkBetween.items.insert(linkBetween.items.begin() + 2,
                           IndexEntry(QStringLiteral("L"), QStringLiteral("-1"),
                                      QStringLiteral("l.htm"), QStringLiteral("d")));
  const struct {
    const char* name;
    QByteArray bytes;
    const char* part;
  } cases[] = {
      {"no abstract", Without(xml, "<abstract>.*</abstract>"), "abstract"},
      {"no configure", Without(xml, "<configure>.*</configure>"), "configure"},
      {"no video profile", Without(xml, "<profile>.*</profile>"), "Configure.profile.video"},
      {"no index", Without(xml, "<index.*</index>"), "index"},
      {"no duration", Without(xml, "duration=\"[^\"]*\""), "index.duration"},
      {"duration without colon", QByteArray(xml).replace("01:00.000", "60"), "index.duration"},
      {"decreasing positions", TestProjects::ProjectXml(decreasing), "index.item(3).pos"},
      {"decreasing across a link item", TestProjects::ProjectXml(linkBetween), "index.item(4).pos"},
      {"no title", Without(xml, "<title>A</title>"), "index.item(1).title"},
      {"no position", Without(xml, "<pos>0</pos>"), "index.item(1).pos"},
      {"position not a number", QByteArray(xml).replace("<pos>0</pos>", "<pos>zero</pos>"),
       "index.item(1).pos"},
      {"negative position", QByteArray(xml).replace("<pos>0</pos>", "<pos>-2</pos>"),
       "index.item(1).pos"},
      {"position beyond 32 bits", QByteArray(xml).replace("<pos>0</pos>", "<pos>99999999999</pos>"),
       "index.item(1).pos"},
      {"no recording date", Without(xml, "<recdate>[^<]*</recdate>(?=\\s*<pos>0<)"),
       "index.item(1).recdate"},
      {"link item without url", Without(xml, "<url>b.htm</url>"), "index.item(2).url"},
  };
  for (const auto& c : cases) {
    const QString path = WriteBytes(QString::fromUtf8(c.name), c.bytes);
    messages_.clear();
    CProjectFile project;
    EXPECT_FALSE(project.Load(path)) << c.name;
    ASSERT_EQ(messages_.size(), 1u) << c.name;
    EXPECT_EQ(messages_[0].text, KqpError(QString::fromUtf8(c.part))) << c.name;
    messages_.clear();
    EXPECT_FALSE(project.Load(path, true)) << c.name;
    EXPECT_TRUE(messages_.empty()) << c.name;
  }
}

TEST_F(CProjectFileTest, ProjectWithoutShowcursorGainsItAndTheCursorScript) {
  const QByteArray script = ReadFile(program_.filePath(QStringLiteral("encfiles/kqctrl.js")));
  ASSERT_FALSE(script.isEmpty());
  TestProject old;
  old.showcursor = false;
  const QString path = Write(QStringLiteral("old"), old);
  const QString copied = Folder(QStringLiteral("old/kqctrl.js"));
  ASSERT_TRUE(WriteFile(copied, "stale"));
  CProjectFile project;
  ASSERT_TRUE(project.Load(path));
  EXPECT_EQ(ReadFile(copied), script);
  EXPECT_EQ(project.ShowCursor, QStringLiteral("1"));
  ASSERT_TRUE(project.Save());
  EXPECT_TRUE(ReadFile(path).contains("<showcursor>1</showcursor>"));

  // A project that has the setting keeps its own and gets no script.
  const QString current = Write(QStringLiteral("current"), TestProject());
  ASSERT_TRUE(project.Load(current));
  EXPECT_EQ(project.ShowCursor, QStringLiteral("0"));
  EXPECT_FALSE(QFile::exists(Folder(QStringLiteral("current/kqctrl.js"))));

  // Without the shipped script the project cannot be given its player.
  ASSERT_TRUE(QFile::remove(program_.filePath(QStringLiteral("encfiles/kqctrl.js"))));
  messages_.clear();
  EXPECT_FALSE(project.Load(Write(QStringLiteral("old2"), old)));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, KqpError(QStringLiteral("configure")));
}

TEST_F(CProjectFileTest, VideoProfileIsNormalised) {
  const struct {
    const char* bitrate;
    const char* size;
    const char* wantBitrate;
    const char* wantSize;
  } cases[] = {
      {"128", "240x180", "192", "240x180"},    {"96", "320x240", "96", "160x120"},
      {"192", "320x240", "192", "240x180"},    {"300", "", "96", ""},
      {"", " 320x240 ", "", "320x240"},        {" 192 ", "", "192", ""},
      {"96 192", "240x180", "192", "240x180"},
  };
  for (const auto& c : cases) {
    TestProject written;
    written.bitrate = QString::fromUtf8(c.bitrate);
    written.size = QString::fromUtf8(c.size);
    CProjectFile project;
    ASSERT_TRUE(project.Load(Write(QStringLiteral("video"), written))) << c.bitrate;
    EXPECT_EQ(project.VideoBitRate, QString::fromUtf8(c.wantBitrate)) << c.bitrate << c.size;
    EXPECT_EQ(project.VideoSize, QString::fromUtf8(c.wantSize)) << c.bitrate << c.size;
  }
}

TEST_F(CProjectFileTest, SaveDropsItemsAtOrPastTheDurationAndKeepsLinkItems) {
  TestProject written;
  written.duration = QStringLiteral("00:10.000");
  written.items = {IndexEntry(QStringLiteral("A"), QStringLiteral("0")),
                   IndexEntry(QStringLiteral("Link"), QStringLiteral("-1"),
                              QStringLiteral("page.htm"), QStringLiteral("d")),
                   IndexEntry(QStringLiteral("B"), QStringLiteral("9999")),
                   IndexEntry(QStringLiteral("C"), QStringLiteral("10000")),
                   IndexEntry(QStringLiteral("D"), QStringLiteral("15000"))};
  for (const bool check : {true, false}) {
    const QString path = Write(QStringLiteral("drop"), written);
    CProjectFile project;
    ASSERT_TRUE(project.Load(path));
    project.CheckIndexPos = check;
    ASSERT_TRUE(project.Save());
    const QStringList kept = check ? QStringList({"0", "-1", "9999"})
                                   : QStringList({"0", "-1", "9999", "10000", "15000"});
    EXPECT_EQ(Positions(project), kept);
    CProjectFile reread;
    ASSERT_TRUE(reread.Load(path));
    EXPECT_EQ(Positions(reread), kept);
    EXPECT_EQ(reread.Item(2).Url, QStringLiteral("page.htm"));
    EXPECT_EQ(reread.durationText(), QStringLiteral("00:10.000"));
  }
}

TEST_F(CProjectFileTest, SaveWritesChangesInPlaceAndKeepsTheRest) {
  TestProject written;
  written.items = {IndexEntry(QStringLiteral("Intro"), QStringLiteral("0"))};
  QByteArray xml = TestProjects::ProjectXml(written);
  xml.replace("</configure>", "<player skin=\"blue\">keep me</player></configure>");
  const QString path = WriteBytes(QStringLiteral("edit"), xml);
  CProjectFile project;
  ASSERT_TRUE(project.Load(path));
  project.title = QStringLiteral("New\tTitle\v");
  project.Author = QStringLiteral("Mr. Chen & <co>");
  project.PhotoSize = QStringLiteral("80x60");
  project.setDuration(123500);
  ASSERT_TRUE(project.SetTitle(1, QStringLiteral("First\tpart")));
  project.AddIndex(QStringLiteral("Added"), QStringLiteral("30000"), QStringLiteral("d"), {}, {},
                   {}, true);
  ASSERT_TRUE(project.Save(QString()));
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(QFile::exists(path + QStringLiteral(".tmp")));

  const QByteArray saved = ReadFile(path);
  EXPECT_TRUE(saved.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"))
      << saved.left(60).data();
  EXPECT_TRUE(saved.contains("<player skin=\"blue\">keep me</player>"));
  EXPECT_TRUE(saved.contains("</title>\r\n<author>"));
  EXPECT_TRUE(saved.contains("<index duration=\"02:03.500\" type=\"TL\">"));
  EXPECT_FALSE(saved.contains('\t'));

  CProjectFile reread;
  ASSERT_TRUE(reread.Load(path));
  EXPECT_EQ(reread.title, QStringLiteral("NewTitle"));
  EXPECT_EQ(reread.Author, QStringLiteral("Mr. Chen & <co>"));
  EXPECT_EQ(reread.PhotoSize, QStringLiteral("80x60"));
  EXPECT_EQ(reread.PhotoFile, QStringLiteral("me.jpg"));
  EXPECT_EQ(reread.duration(), 123500);
  EXPECT_EQ(Positions(reread), QStringList({"0", "30000"}));
  EXPECT_EQ(reread.Item(1).title, QStringLiteral("Firstpart"));
}

TEST_F(CProjectFileTest, ShortRewriteIsReportedAndTheOldFileStays) {
  const QByteArray xml =
      "<k ver=\"5\">\r\n<abstract/><configure><showcursor>1</showcursor><profile><video/>"
      "</profile></configure><index duration=\"0:00\"/></k>";
  const QString path = WriteBytes(QStringLiteral("short"), xml);
  CProjectFile project;
  ASSERT_TRUE(project.Load(path));
  EXPECT_FALSE(project.Save());
  EXPECT_TRUE(messages_.empty());  // the caller shows it
  EXPECT_EQ(project.saveFailure().text, QStringLiteral("Save 'project.kqp' error!"));
  EXPECT_EQ(ReadFile(path), xml);
  EXPECT_FALSE(QFile::exists(path + QStringLiteral(".tmp")));
}

TEST_F(CProjectFileTest, FailedSavesAreReportedAndLoseNothing) {
  const QString path = Write(QStringLiteral("fail"), TestProject());
  const QByteArray original = ReadFile(path);
  CProjectFile project;
  ASSERT_TRUE(project.Load(path));
  project.title = QStringLiteral("Changed");

  // The rewrite cannot take the place of what is there: it stays beside it as ".tmp".
  const QString blocked = Folder(QStringLiteral("fail/blocked"));
  ASSERT_TRUE(QDir().mkpath(blocked + QStringLiteral("/inside")));
  EXPECT_FALSE(project.Save(blocked));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(project.saveFailure().text,
            QStringLiteral(
                "Save 'project.kqp' error! The updated project is saved as 'project.kqp.tmp'"));
  CProjectFile rescued;
  ASSERT_TRUE(rescued.Load(blocked + QStringLiteral(".tmp")));
  EXPECT_EQ(rescued.title, QStringLiteral("Changed"));

  // The rewrite cannot even be written.
  messages_.clear();
  EXPECT_FALSE(project.Save(Folder(QStringLiteral("fail/missing/project.kqp"))));
  EXPECT_EQ(project.saveFailure().title, QStringLiteral("kqp.Save"));
  EXPECT_TRUE(project.saveFailure().text.startsWith(QStringLiteral("Cannot write")))
      << project.saveFailure().text.toStdString();
  EXPECT_TRUE(project.saveFailure().text.endsWith(QStringLiteral(": Save project.kqp.tmp")));

  // Nothing loaded, nothing saved.
  messages_.clear();
  CProjectFile empty;
  EXPECT_FALSE(empty.Save(path));
  EXPECT_EQ(empty.saveFailure().title, QStringLiteral("kqp.Save"));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(ReadFile(path), original);
}

TEST_F(CProjectFileTest, SaveKeepsTheFileEncoding) {
  TestProject written;
  written.title = QStringLiteral("分數的加法");
  QString text = QString::fromUtf8(TestProjects::ProjectXml(written));
  text.replace(QStringLiteral("encoding=\"UTF-8\""), QStringLiteral("encoding=\"UTF-16\""));
  QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
  const QString path = WriteBytes(QStringLiteral("utf16"), encoder.encode(text));
  CProjectFile project;
  ASSERT_TRUE(project.Load(path));
  EXPECT_EQ(project.title, written.title);
  project.Author = QStringLiteral("李老師");
  ASSERT_TRUE(project.Save());
  const QByteArray saved = ReadFile(path);
  ASSERT_TRUE(saved.startsWith("\xFF\xFE"));
  QStringDecoder decoder(QStringConverter::Utf16LE);
  const QString decoded = decoder.decode(saved.mid(2));
  EXPECT_FALSE(decoder.hasError());
  EXPECT_TRUE(decoded.startsWith(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>")));
  EXPECT_TRUE(decoded.contains(QStringLiteral("<author>李老師</author>")));
  CProjectFile reread;
  ASSERT_TRUE(reread.Load(path));
  EXPECT_EQ(reread.title, written.title);
  EXPECT_EQ(reread.Author, QStringLiteral("李老師"));
}

TEST_F(CProjectFileTest, LinkItemPathsStayInTheProjectFolder) {
  const QString folder = Folder(QStringLiteral("links"));
  ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/pages")));
  ASSERT_TRUE(WriteFile(Folder(QStringLiteral("secret.htm")), "secret"));
  ASSERT_TRUE(QFile::link(Folder(QStringLiteral("secret.htm")),
                          folder + QStringLiteral("/pages/escape.htm")));
  const struct {
    const char* url;
    const char* resolved;  // relative to the folder; nullptr when refused
  } cases[] = {
      {"pages/a.htm", "pages/a.htm"},
      {"pages\\a.htm", "pages/a.htm"},
      {" a.htm ", "a.htm"},
      {"pages/../b.htm", "b.htm"},
      {"../secret.htm", nullptr},
      {"pages/../../secret.htm", nullptr},
      {"/etc/passwd", nullptr},
      {"\\\\server\\share\\a.htm", nullptr},
      {"C:\\pages\\a.htm", nullptr},
      {"http://example.com/a.htm", nullptr},
      {"", nullptr},
      {".", nullptr},
      {"pages/escape.htm", nullptr},
  };
  for (const auto& c : cases) {
    QString path;
    const bool ok = CProjectFile::ResolveProjectPath(folder, QString::fromUtf8(c.url), &path);
    EXPECT_EQ(ok, c.resolved != nullptr) << c.url;
    if (ok && c.resolved) {
      EXPECT_EQ(path, folder + QLatin1Char('/') + QString::fromUtf8(c.resolved)) << c.url;
    }
  }
}

TEST_F(CProjectFileTest, RemoveIndexTakesOneItemOrAll) {
  CProjectFile project;
  project.RemoveIndex(CProjectFile::kRemoveAll);
  EXPECT_EQ(project.IndexCount(), 0);
  for (const char* pos : {"0", "1000", "2000"}) {
    project.AddIndex(QString::fromUtf8(pos), QString::fromUtf8(pos), {}, {}, {}, {}, false);
  }
  project.RemoveIndex(2);
  project.RemoveIndex(3);
  project.RemoveIndex(0);
  EXPECT_EQ(Positions(project), QStringList({"0", "2000"}));
  project.RemoveIndex(CProjectFile::kRemoveAll);
  EXPECT_EQ(project.IndexCount(), 0);
}

}  // namespace
}  // namespace cf
