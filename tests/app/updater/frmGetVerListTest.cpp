#include "app/services/MavoControl.h"
#include "app/services/SettingsStore.h"
#include "app/updater/frmGetVerList.h"
#include "app/updater/modUpdate.h"
#include "tests/app/updater/UpdateServerFixture.h"

#include <QSignalSpy>

namespace {

const QString kSettings = QString::fromLatin1(kSettingsSection);

class VersionListWindow : public UpdateServerFixture {
 protected:
  void SetUp() override {
    UpdateServerFixture::SetUp();
    // The control module comes from the build's program folder.
    SetProgramFolder(QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")));
    ReloadResStrings();
  }
  QString SavedPath() const {
    return ReadPlainSetting(kSettings, QString::fromLatin1(kVerListPathKey), QString());
  }
  // Opens the hidden window as the start-up does and waits until it closed.
  void Fetch(bool draft) {
    auto* window =
        new frmGetVerList(&main_, VersionListUrl(ServerBase(), draft), QStringLiteral("2.100603"));
    QSignalSpy done(window, &frmGetVerList::done);
    ASSERT_TRUE(done.wait(30000));
  }
  QByteArray Read(const QString& path) const {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QWidget main_;
};

TEST_F(VersionListWindow, KeepsEachFreshListForTheNextStartAndDropsTheOldOne) {
  ASSERT_TRUE(PutList({{"2.5"}}));
  ASSERT_TRUE(PutList({{"2.6"}}, true));
  Fetch(false);
  const QString first = SavedPath();
  EXPECT_TRUE(QFileInfo(first).fileName().startsWith(QStringLiteral("_kqVerList_rad")));
  EXPECT_TRUE(Read(first).contains("<ver>2.5</ver>"));

  Fetch(true);
  const QString second = SavedPath();
  EXPECT_NE(second, first);
  EXPECT_TRUE(Read(second).contains("<ver>2.6</ver>"));
  EXPECT_FALSE(QFileInfo::exists(first));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(VersionListWindow, ARefusedOrBrokenAnswerKeepsTheOldList) {
  ASSERT_TRUE(PutList({{"2.5"}}));
  Fetch(false);
  const QString kept = SavedPath();
  ASSERT_FALSE(kept.isEmpty());
  for (const QString& fault : {QStringLiteral("path=/version_ctrl/,status=500"),
                               QStringLiteral("path=/version_ctrl/,empty")}) {
    ASSERT_TRUE(server_.ArmFault(fault));
    Fetch(false);
    EXPECT_EQ(SavedPath(), kept) << fault.toStdString();
    EXPECT_TRUE(QFileInfo::exists(kept));
  }
  // A setting that names some other file never gets that file deleted.
  QTemporaryDir other;
  const QString precious = other.filePath(QStringLiteral("notes.xml"));
  QFile(precious).open(QIODevice::WriteOnly);
  WritePlainSetting(kSettings, QString::fromLatin1(kVerListPathKey), precious);
  Fetch(false);
  EXPECT_NE(SavedPath(), precious);
  EXPECT_TRUE(QFileInfo::exists(precious));
}

}  // namespace
