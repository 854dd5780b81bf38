#include "KqServerProcess.h"
#include "TestProgramFolder.h"
#include "app/services/MavoControl.h"
#include "app/services/WindowMavo.h"

#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// The program's way to the upload control: created from the program folder's module, with one
// signal per finished request on the GUI thread.
TEST(MavoControl, LogsInThroughTheModuleOfTheProgramFolder) {
  SetProgramFolder(QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")));
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();

  QWidget host;
  QString error;
  std::unique_ptr<MavoControl> control = MavoControl::Create(&host, &error);
  ASSERT_NE(control, nullptr) << error.toStdString();

  QSignalSpy folders(control.get(), &UploadControl::OnGetFolderFinished);
  QSignalSpy versions(control.get(), &UploadControl::OnGetVersionFinished);
  ASSERT_TRUE(control->GetFolder(QStringLiteral("http://%1/mavo/getfolder/").arg(server.BaseUrl()),
                                 QStringLiteral("demo"), QStringLiteral("demo"),
                                 QStringLiteral("tool=v.2.100603")));
  ASSERT_TRUE(folders.wait(20000));
  EXPECT_EQ(versions.count(), 0);
  const QString answer = control->Response();
  EXPECT_TRUE(answer.contains(QStringLiteral("folder"))) << answer.toStdString();
  EXPECT_FALSE(answer.contains(QStringLiteral("errInfo"))) << answer.toStdString();

  ASSERT_TRUE(control->GetFolder(QStringLiteral("http://%1/mavo/getfolder/").arg(server.BaseUrl()),
                                 QStringLiteral("demo"), QStringLiteral("wrong"), QString()));
  ASSERT_TRUE(folders.wait(20000));
  EXPECT_TRUE(control->Response().contains(QStringLiteral("errInfo")));
  SetProgramFolder(QString());
}

TEST(MavoControl, AWindowsControlIsNotPaintedOverTheWindow) {
  SetProgramFolder(QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")));
  QWidget window;
  window.show();
  QString error;
  std::unique_ptr<MavoControl> shown = MavoControl::Create(&window, &error);
  ASSERT_NE(shown, nullptr) << error.toStdString();
  ASSERT_NE(shown->Window(), nullptr);
  EXPECT_EQ(shown->Window()->parentWidget(), &window);
  EXPECT_TRUE(shown->Window()->isVisible());  // an in-place control shows itself

  std::unique_ptr<MavoControl> hidden = CreateWindowMavo(&window, &error);
  ASSERT_NE(hidden, nullptr) << error.toStdString();
  ASSERT_NE(hidden->Window(), nullptr);
  EXPECT_FALSE(hidden->Window()->isVisible());
  SetProgramFolder(QString());
}

}  // namespace
