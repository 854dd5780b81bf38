// What the window remembers between runs and what it tells about itself.

#include "TestProgramFolder.h"
#include "app/queue/MainWindowComforts.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/SettingsStore.h"
#include "app/services/WindowPlace.h"
#include "ui_frmUpload.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

std::unique_ptr<QWidget> Window(const QString& name) {
  auto window = std::make_unique<QWidget>();
  window->setObjectName(name);
  window->setGeometry(100, 100, 300, 200);
  return window;
}

TEST(WindowPlace, AWindowReopensWhereItWasLeftButNeverOffEveryScreen) {
  {
    auto window = Window(QStringLiteral("placeTest"));
    RememberWindowPlace(window.get());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->setGeometry(150, 120, 420, 310);
    window->hide();
  }
  auto again = Window(QStringLiteral("placeTest"));
  RememberWindowPlace(again.get());
  EXPECT_EQ(again->size(), QSize(420, 310));
  EXPECT_EQ(again->geometry().topLeft(), QPoint(150, 120));
  // Another window keeps its own place.
  auto other = Window(QStringLiteral("otherPlace"));
  RememberWindowPlace(other.get());
  EXPECT_EQ(other->size(), QSize(300, 200));

  // A place on a screen that is gone (a second monitor unplugged) is not used.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  {
    auto window = Window(QStringLiteral("lostPlace"));
    RememberWindowPlace(window.get());
    window->show();
    window->setGeometry(screen.right() + 5000, 100, 300, 200);
    window->hide();
  }
  auto lost = Window(QStringLiteral("lostPlace"));
  RememberWindowPlace(lost.get());
  EXPECT_TRUE(screen.intersects(lost->frameGeometry()));
}

TEST(WindowPlace, FileDialogsStartInTheFolderPickedLast) {
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("Lectures 'x' $(y) ü"));
  ASSERT_TRUE(QDir().mkpath(folder));
  EXPECT_TRUE(LastPickedFolder().isEmpty());
  const QString file = folder + QStringLiteral("/week1.mp4");
  QFile(file).open(QIODevice::WriteOnly);
  RememberPickedPath(file);
  EXPECT_EQ(LastPickedFolder(), folder);
  RememberPickedPath(dir.path());  // a picked folder is itself the place
  EXPECT_EQ(LastPickedFolder(), QDir(dir.path()).absolutePath());
  // A folder removed since falls back to the dialog's own choice.
  RememberPickedPath(file);
  ASSERT_TRUE(QDir(folder).removeRecursively());
  EXPECT_TRUE(LastPickedFolder().isEmpty());
}

class Comforts : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_ << request.text;
      return MsgAnswer::Ok;
    });
  }
  void TearDown() override { SetMessageHandler(previous_); }
  TestProgramFolder folder_;
  MessageHandler previous_;
  QStringList messages_;
};

TEST_F(Comforts, AboutNamesTheVersionTheFilesAndTheReadme) {
  const QString text = MainWindowComforts::AboutText();
  const QString readme = folder_.filePath(QStringLiteral("README.md"));
  for (const QString& part :
       {ProgramIdentity::Version(), folder_.filePath(QStringLiteral("project.xml")),
        folder_.filePath(QStringLiteral("log.txt")),
        QSettings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry")).fileName(),
        QUrl::fromLocalFile(readme).toString()}) {
    EXPECT_TRUE(text.contains(part)) << part.toStdString() << " in " << text.toStdString();
  }
  EXPECT_FALSE(text.contains(QLatin1String("%s")));
  // The link leads somewhere: the build puts the README in the program folder.
  EXPECT_TRUE(QFile::exists(QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")) +
                            QStringLiteral("/README.md")));
}

TEST_F(Comforts, TheLanguageBoxSetsTheLanguageOfTheNextStart) {
  frmUpload window;
  QComboBox* box = window.form().cboLanguage;
  ASSERT_EQ(box->count(), 3);
  EXPECT_EQ(box->currentIndex(), 0);  // automatic until chosen
  const int chinese = box->findData(QStringLiteral("zh_TW"));
  ASSERT_GT(chinese, 0);
  box->setCurrentIndex(chinese);
  emit box->activated(chinese);
  EXPECT_EQ(MainWindowComforts::LanguageSetting(), QStringLiteral("zh_TW"));
  EXPECT_EQ(messages_.size(), 1);  // told it applies from the next start
  // Choosing what is set already says nothing.
  emit box->activated(chinese);
  EXPECT_EQ(messages_.size(), 1);

  frmUpload next;
  EXPECT_EQ(next.form().cboLanguage->currentIndex(), chinese);
  emit next.form().cboLanguage->activated(0);
  EXPECT_TRUE(MainWindowComforts::LanguageSetting().isEmpty());
}

}  // namespace
