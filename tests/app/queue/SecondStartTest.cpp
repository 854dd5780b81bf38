// A second start of the window program, as a real second process.

#include "TestProgramFolder.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/SecondStart.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/modLanguage.h"
#include "platform/desktop/SingleInstance.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(SecondStart, RaisesTheRunningWindowAndEnds) {
  TestProgramFolder folder;
  const MessageHandler previous = SetMessageHandler({});
  frmUpload window;
  window.RunStartupTick();
  cf::desktop::SingleInstance instance(ProgramIdentity::InstanceName());
  ASSERT_TRUE(instance.Acquire());
  instance.SetHandler(
      [&window](const QByteArray& message) { return SecondStart::Answer(window, message); });
  window.showMinimized();
  ASSERT_TRUE(window.isMinimized());

  // The program takes its folder from where it lies, so the second start runs a copy in this one.
  const QString copy = folder.filePath(QStringLiteral("clipFerry"));
  ASSERT_TRUE(QFile::copy(
      QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")) + QStringLiteral("/clipFerry"),
      copy));
  QProcess second;
  second.start(copy, {});
  ASSERT_TRUE(second.waitForStarted(10000));
  // The running window answers on this thread, so wait without blocking it.
  EXPECT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isVisible());
  SetMessageHandler(previous);
}

// The window and clipferry-cli meet on the program folder whose queue the window owns, whatever
// language either side shows; a copy installed elsewhere, with a queue of its own, is another.
TEST(SecondStart, TheRunningCopyIsNamedByItsProgramFolder) {
  TestProgramFolder folder;
  const QString name = ProgramIdentity::InstanceName();
  UseLanguage(QStringLiteral("zh_TW"));
  EXPECT_EQ(ProgramIdentity::InstanceName(), name);
  UseLanguage(QString());
  TestProgramFolder other;
  EXPECT_NE(ProgramIdentity::InstanceName(), name);
}

}  // namespace
