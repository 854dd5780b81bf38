// A second start of the window program, as a real second process.

#include "TestProgramFolder.h"
#include "app/queue/SecondStart.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "platform/desktop/SingleInstance.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(SecondStart, RaisesTheRunningWindowAndEnds) {
  TestProgramFolder folder;
  const MessageHandler previous = SetMessageHandler({});
  frmUpload window;
  window.RunStartupTick();
  cf::desktop::SingleInstance instance(frmUpload::WindowTitle());
  ASSERT_TRUE(instance.Acquire());
  instance.SetHandler(
      [&window](const QByteArray& message) { return SecondStart::Answer(window, message); });
  window.showMinimized();
  ASSERT_TRUE(window.isMinimized());

  QProcess second;
  second.start(
      QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")) + QStringLiteral("/clipFerry"), {});
  ASSERT_TRUE(second.waitForStarted(10000));
  // The running window answers on this thread, so wait without blocking it.
  EXPECT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isVisible());
  SetMessageHandler(previous);
}

}  // namespace
