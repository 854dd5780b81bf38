#include "app/services/XmlFile.h"
#include "app/updater/frmDownloader.h"
#include "tests/app/updater/UpdateServerFixture.h"
#include "ui_frmDownloader.h"

#include <QSignalSpy>
#include <QTest>

namespace {

class Downloads : public UpdateServerFixture {
 public:
  // Loads the list as the program would, opens the window and presses Update; returns whether
  // the update ended ready.
  bool RunUpdate(const std::vector<ListedVersion>& versions) {
    const QByteArray xml = ListXml(versions);
    if (!doc_.load_buffer(xml.constData(), static_cast<size_t>(xml.size()))) return false;
    list_.Clear();
    if (!ParseVersionList(doc_, QStringLiteral("2.100603"), &list_)) return false;
    frmDownloader window(list_, doc_, ServerBase(), ChooseUpdaterProgram(61));
    QObject::connect(&window.downloader(), &kqDownloader::OnDownloadComplete,
                     [this](qint64, const QString& name) { completed_.append(name); });
    QSignalSpy finished(&window, &QDialog::finished);
    window.show();
    // A window that refuses its folder closes before it offers Update.
    if (!QTest::qWaitFor(
            [&] { return window.form().cmdUpdate->isEnabled() || !finished.isEmpty(); }, 10000)) {
      return false;
    }
    if (!finished.isEmpty()) return window.UpdateReady();
    log_ = window.form().txtLog->toPlainText();
    window.form().cmdUpdate->click();
    if (finished.isEmpty() && !finished.wait(60000)) return false;
    title_ = window.windowTitle();
    folder_ = window.UpdateFolderPath();
    return window.UpdateReady();
  }
  QString InUpdate(const QString& relative) const { return QDir(folder_).filePath(relative); }
  QStringList CompletedRelative() const {
    QStringList names;
    for (const QString& name : completed_) names.append(QDir(folder_).relativeFilePath(name));
    return names;
  }

  pugi::xml_document doc_;
  CVerList list_;
  QStringList completed_;
  QString log_;
  QString title_;
  QString folder_;
};

TEST_F(Downloads, FetchesThePackageThenThePatchesOldestFirstUpToTheNewestFullPatch) {
  ASSERT_TRUE(PutUpdaterPackage());
  for (const char* ver : {"2.5", "2.4", "2.3"}) {
    ASSERT_TRUE(PutPatch(ver, {{"res.xml", QByteArray("v") + ver}}));
  }
  ASSERT_TRUE(PutList({{"2.5"}, {"2.4", true}, {"2.3"}}));
  // The list the program saved names the newest versions and the full patch.
  ASSERT_TRUE(RunUpdate({{"2.5"}, {"2.4", true}, {"2.3"}}))
      << MessageTexts().join('|').toStdString();

  EXPECT_EQ(CompletedRelative(),
            QStringList({QStringLiteral("updater_manifest.zip"), QStringLiteral("2.4/patch.zip"),
                         QStringLiteral("2.5/patch.zip")}));
  EXPECT_FALSE(QFileInfo::exists(InUpdate(QStringLiteral("2.3"))));
  QFile lines(InUpdate(QStringLiteral("verList.txt")));
  ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
  EXPECT_EQ(lines.readAll(), QByteArray("2.4\r\n2.5\r\n"));
  EXPECT_TRUE(QFileInfo(InUpdate(QStringLiteral("updater/kqUpdater_manifest"))).isExecutable());
  pugi::xml_document saved;
  EXPECT_TRUE(LoadXmlFile(InUpdate(QStringLiteral("verList.xml")), &saved));
  EXPECT_EQ(title_, QStringLiteral("(3/3) 100% Downloaded"));
  EXPECT_TRUE(log_.startsWith(QStringLiteral("2.5\n        changes of 2.5\n\n2.4\n")));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Downloads, EveryFailureEndsWithoutAnUpdateAndSaysWhy) {
  const QByteArray wrongDigest(64, 'a');
  struct Case {
    const char* name;
    std::function<void(Downloads*)> prepare;
    std::vector<ListedVersion> list;
    QString message;
  };
  const Case cases[] = {
      {"a patch that does not match the listed digest",
       [](Downloads* t) {
         t->PutUpdaterPackage();
         t->PutPatch("2.5", {{"res.xml", "tampered"}});
       },
       {{"2.5", false, wrongDigest.constData()}},
       QStringLiteral("Update Error: the downloaded file does not match the update list: "
                      "patch.zip (v.2.5)")},
      {"a patch missing on the server",
       [](Downloads* t) { t->PutUpdaterPackage(); },
       {{"2.5"}},
       QStringLiteral("the server answered 404")},
      {"a link in one patch and a file through it in the next",
       [](Downloads* t) {
         t->PutUpdaterPackage();
         t->PutPatch("2.4", {{"d", "/tmp", 0120777}});
         t->PutPatch("2.5", {{"d/x.txt", "x"}});
       },
       {{"2.5"}, {"2.4"}},
       QStringLiteral("Unzip error!")},
      {"an updater package without the updater",
       [](Downloads* t) {
         t->PutZip(QStringLiteral("version/updater_manifest.zip"), {{"readme.txt", "x"}});
         t->PutPatch("2.5", {{"res.xml", "x"}});
       },
       {{"2.5"}},
       QStringLiteral("Unzip error!")},
  };
  for (const Case& c : cases) {
    QDir(UpdatesPath(QString())).removeRecursively();
    messages_.clear();
    c.prepare(this);
    EXPECT_FALSE(RunUpdate(c.list)) << c.name;
    ASSERT_EQ(messages_.size(), 1u) << c.name;
    EXPECT_TRUE(messages_.front().text.contains(c.message))
        << c.name << ": " << messages_.front().text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(InUpdate(QStringLiteral("verList.txt")))) << c.name;
  }
}

TEST_F(Downloads, AnArchiveEntryOutsideItsFolderChangesNothing) {
  ASSERT_TRUE(PutZip(
      QStringLiteral("version/updater_manifest.zip"),
      {{"kqUpdater_manifest", "#!/bin/sh\n", 0100755}, {"../evil", "x"}, {"../../evil", "x"}}));
  ASSERT_TRUE(PutPatch("2.5", {{"res.xml", "x"}}));
  EXPECT_FALSE(RunUpdate({{"2.5"}}));
  EXPECT_EQ(MessageTexts(), QStringList({QStringLiteral("Unzip error!")}));
  EXPECT_FALSE(QFileInfo::exists(InUpdate(QStringLiteral("evil"))));
  EXPECT_FALSE(QFileInfo::exists(QDir(QDir::tempPath()).filePath(QStringLiteral("evil"))));
  EXPECT_FALSE(QFileInfo::exists(InUpdate(QStringLiteral("updater/kqUpdater_manifest"))));
}

// The update folder has a fixed name in the shared temporary folder; a link planted there must
// not make the window empty the folder it points at.
TEST_F(Downloads, AnUpdateFolderThatIsALinkIsRefusedAndLeftAlone) {
  ASSERT_TRUE(PutUpdaterPackage());
  ASSERT_TRUE(PutPatch("2.5", {{"res.xml", "x"}}));
  QTemporaryDir victim;
  QFile kept(victim.filePath(QStringLiteral("kept.txt")));
  ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
  kept.close();
  QDir(UpdateFolder()).removeRecursively();  // an earlier test's downloads
  ASSERT_TRUE(QFile::link(victim.path(), UpdateFolder()));
  EXPECT_FALSE(RunUpdate({{"2.5"}}));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_.front().text.contains(QStringLiteral("Update Error: Temp File Locked!")))
      << messages_.front().text.toStdString();
  EXPECT_TRUE(QFileInfo(UpdateFolder()).isSymLink());
  EXPECT_EQ(QDir(victim.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList({QStringLiteral("kept.txt")}));
  QFile::remove(UpdateFolder());
}

// The updater package is unpacked through a command line; the temporary folder's name must
// reach unzip whole.
TEST_F(Downloads, UnpacksTheUpdaterUnderATemporaryFolderWithAHostileName) {
  ASSERT_TRUE(PutUpdaterPackage());
  ASSERT_TRUE(PutPatch("2.5", {{"res.xml", "x"}}));
  const QByteArray previous = qgetenv("TMPDIR");
  QTemporaryDir base;
  const QString hostile = base.filePath(
      QStringLiteral("-x \"q\" 'a' $(touch pwned) `touch pwned`; [x]*? \\ \u00fcber \u6a94"));
  ASSERT_TRUE(QDir().mkpath(hostile));
  qputenv("TMPDIR", QFile::encodeName(hostile));
  const bool ready = RunUpdate({{"2.5"}});
  qputenv("TMPDIR", previous);
  EXPECT_TRUE(ready) << MessageTexts().join('|').toStdString();
  EXPECT_TRUE(folder_.startsWith(hostile)) << folder_.toStdString();
  EXPECT_TRUE(QFileInfo(InUpdate(QStringLiteral("updater/kqUpdater_manifest"))).isExecutable());
  EXPECT_FALSE(QFileInfo::exists(base.filePath(QStringLiteral("pwned"))));
  EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral("pwned"))));
}

}  // namespace
