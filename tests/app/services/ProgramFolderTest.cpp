// The user's stand-in for a program folder it may not write: what it links, what it keeps.

#include "app/services/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class LinkedFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(Installed("encfiles")));
    for (const QString& name : shipped_) ASSERT_TRUE(Write(Installed(name), name.toUtf8()));
  }
  QString Installed(const QString& name) const { return root_.filePath("install/" + name); }
  QString User(const QString& name) const { return root_.filePath("data/program/" + name); }
  QString InstallFolder() const { return root_.filePath("install"); }
  QString UserFolder() const { return root_.filePath("data/program"); }

  QTemporaryDir root_;
  const QStringList shipped_{"res.xml", "encfiles/kqctrl.js", "-lead.xml",
                             "it's \"$(touch x)\" é.xml"};
};

TEST_F(LinkedFolder, ReadsReachTheInstalledFilesAndWritesStayWithTheUser) {
  // A queue left in the installation (a run as its owner) is not the user's queue.
  ASSERT_TRUE(Write(Installed("project.xml"), "owner's queue"));
  ASSERT_TRUE(LinkProgramFolder(InstallFolder(), UserFolder()));

  for (const QString& name : shipped_) {
    EXPECT_EQ(Read(User(name)), name.toUtf8()) << name.toStdString();
  }
  EXPECT_TRUE(QFileInfo(User("encfiles")).isSymLink());
  EXPECT_FALSE(QFileInfo::exists(User("project.xml")));

  for (const char* written : {"project.xml", "getfolder.xml", "log.txt"}) {
    ASSERT_TRUE(Write(User(written), "user's")) << written;
  }
  EXPECT_EQ(Read(Installed("project.xml")), QByteArray("owner's queue"));
  EXPECT_FALSE(QFileInfo::exists(Installed("getfolder.xml")));
  EXPECT_FALSE(QFileInfo::exists(Installed("log.txt")));
  EXPECT_FALSE(QFileInfo::exists(root_.filePath("x")));
}

TEST_F(LinkedFolder, ARefreshFollowsAnUpgradeAndKeepsTheUsersFiles) {
  ASSERT_TRUE(Write(Installed("old.xml"), "old"));
  ASSERT_TRUE(LinkProgramFolder(InstallFolder(), UserFolder()));
  ASSERT_TRUE(Write(User("project.xml"), "queue"));
  ASSERT_TRUE(Write(User("tmpTest.bmp"), "scratch"));
  ASSERT_TRUE(QFile::link(root_.filePath("elsewhere"), User("mine")));

  // The upgrade: one file goes, one comes, and a stale copy shadows a shipped file.
  ASSERT_TRUE(QFile::remove(Installed("old.xml")));
  ASSERT_TRUE(Write(Installed("new.xml"), "new"));
  ASSERT_TRUE(QFile::remove(User("res.xml")));
  ASSERT_TRUE(Write(User("res.xml"), "stale copy"));
  ASSERT_TRUE(Write(Installed("kqserver"), "server"));
  ASSERT_TRUE(QDir().mkpath(User("kqserver")));  // a folder of the user's under a shipped name
  ASSERT_TRUE(LinkProgramFolder(InstallFolder(), UserFolder()));

  EXPECT_FALSE(QFileInfo(User("old.xml")).isSymLink());
  EXPECT_EQ(Read(User("new.xml")), QByteArray("new"));
  EXPECT_EQ(Read(User("res.xml")), QByteArray("res.xml"));
  EXPECT_TRUE(QFileInfo(User("kqserver")).isDir());
  EXPECT_FALSE(QFileInfo(User("kqserver")).isSymLink());
  EXPECT_EQ(Read(User("project.xml")), QByteArray("queue"));
  EXPECT_EQ(Read(User("tmpTest.bmp")), QByteArray("scratch"));
  EXPECT_TRUE(QFileInfo(User("mine")).isSymLink());
  // No temporary link names are left behind.
  EXPECT_EQ(QDir(UserFolder())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden),
            (QStringList{"-lead.xml", "encfiles", "it's \"$(touch x)\" é.xml", "kqserver", "mine",
                         "new.xml", "project.xml", "res.xml", "tmpTest.bmp"}));
}

TEST_F(LinkedFolder, FailsWhenThereIsNoPlaceForTheUsersFolder) {
  ASSERT_TRUE(Write(root_.filePath("data"), "a file where the folder would go"));
  EXPECT_FALSE(LinkProgramFolder(InstallFolder(), UserFolder()));
  EXPECT_FALSE(LinkProgramFolder(root_.filePath("missing"), root_.filePath("other")));
  // The installation never stands in for itself.
  EXPECT_FALSE(LinkProgramFolder(InstallFolder(), InstallFolder()));
}

}  // namespace
