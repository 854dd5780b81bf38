#include "app/services/SettingsStore.h"
#include "app/updater/UpdateStartup.h"
#include "app/updater/frmDownloader.h"
#include "tests/app/updater/UpdateServerFixture.h"

#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString kSettings = QString::fromLatin1(kSettingsSection);

QString Setting(const char* key) {
  return ReadPlainSetting(kSettings, QString::fromLatin1(key), QString());
}
void SetSetting(const char* key, const QString& value) {
  WritePlainSetting(kSettings, QString::fromLatin1(key), value);
}

class Notice : public UpdateServerFixture {
 protected:
  void SetUp() override {
    UpdateServerFixture::SetUp();
    for (const char* key : {kVerListPathKey, kNewVerKey, kNewVerNotifyDateKey}) SetSetting(key, {});
  }
  void SaveList(const std::vector<ListedVersion>& versions) {
    const QString path = saved_.filePath(QStringLiteral("list.xml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(ListXml(versions));
    SetSetting(kVerListPathKey, path);
  }
  // Runs the notice and answers an offer with Quit; returns whether an offer was shown.
  bool Offered() {
    bool shown = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      if (auto* window = qobject_cast<frmDownloader*>(QApplication::activeModalWidget())) {
        shown = true;
        window->reject();
      }
    });
    answer.start(20);
    UpdateStartup startup(&main_, nullptr, QStringLiteral("ClipFerry - v.2.100603"),
                          QStringLiteral("2.100603"));
    EXPECT_FALSE(startup.ShowNewVersionNotice(ServerBase()));
    return shown;
  }

  QWidget main_;
  QTemporaryDir saved_;
};

TEST_F(Notice, NoNewerVersionMeansNoOfferAndNoChange) {
  SetSetting(kNewVerKey, QStringLiteral("1.5"));
  SaveList({{"2.100603"}, {"2.0"}});
  EXPECT_FALSE(Offered());
  EXPECT_EQ(Setting(kNewVerKey), QStringLiteral("1.5"));
  EXPECT_EQ(Setting(kNewVerNotifyDateKey), QString());
}

TEST_F(Notice, OffersOncePerDayAndANewerVersionAtOnce) {
  SaveList({{"2.5"}, {"2.4"}});
  EXPECT_TRUE(Offered());
  EXPECT_EQ(Setting(kNewVerKey), QStringLiteral("2.5"));
  EXPECT_FALSE(Setting(kNewVerNotifyDateKey).isEmpty());

  EXPECT_FALSE(Offered()) << "the same version twice on one day";

  SetSetting(kNewVerNotifyDateKey, NotifyDateText(QDateTime::currentDateTime().addDays(-1)));
  EXPECT_TRUE(Offered()) << "the same version on the next day";

  SaveList({{"2.6"}, {"2.5"}});
  EXPECT_TRUE(Offered()) << "a newer version on the same day";
  EXPECT_EQ(Setting(kNewVerKey), QStringLiteral("2.6"));
}

TEST_F(Notice, AnUnreadableSavedListOffersNothing) {
  const QString path = saved_.filePath(QStringLiteral("broken.xml"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<verInfo><list><item><ver>2.5");
  file.close();
  for (const QString& saved : {path, saved_.filePath(QStringLiteral("missing.xml"))}) {
    SetSetting(kVerListPathKey, saved);
    EXPECT_FALSE(Offered());
    EXPECT_EQ(Setting(kNewVerKey), QString());
  }
}

TEST(UpdateStartup, WaitsForARunningUpdaterThenGivesUpOnTheThirdTick) {
  std::vector<MessageRequest> messages;
  const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
    messages.push_back(request);
    return MsgAnswer::Ok;
  });
  QTemporaryDir dir;
  const QString updater = dir.filePath(QStringLiteral("kqUpdater_manifest"));
  ASSERT_TRUE(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), updater));
  QProcess running;
  running.start(updater, {QStringLiteral("60")});
  ASSERT_TRUE(running.waitForStarted());

  QWidget main;
  QPushButton add(&main);
  add.setEnabled(true);
  UpdateStartup startup(&main, &add, QStringLiteral("ClipFerry"), QStringLiteral("2.100603"));
  EXPECT_EQ(startup.Tick(1), UpdateStartup::Next::CheckAgain);
  EXPECT_FALSE(add.isEnabled());
  EXPECT_EQ(startup.Tick(2), UpdateStartup::Next::CheckAgain);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(startup.Tick(3), UpdateStartup::Next::Close);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().text, QStringLiteral("Please close kqUpdater first!"));
  EXPECT_EQ(messages.front().title, QStringLiteral("ClipFerry"));

  running.kill();
  running.waitForFinished();
  // Without an update server the start-up goes on at once and gives the button back.
  UpdateStartup next(&main, &add, QStringLiteral("ClipFerry"), QStringLiteral("2.100603"));
  EXPECT_EQ(next.Tick(1), UpdateStartup::Next::Done);
  EXPECT_TRUE(add.isEnabled());
  SetMessageHandler(previous);
}

}  // namespace
