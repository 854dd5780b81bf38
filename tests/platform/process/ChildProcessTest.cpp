#include "platform/process/ChildProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <unistd.h>

namespace {

// Runs the child to its end in an event loop and returns everything it wrote.
QByteArray RunToEnd(ChildProcess& child) {
  QByteArray output;
  QEventLoop loop;
  QObject::connect(&child, &ChildProcess::outputReady, [&] { output += child.Read(1 << 20); });
  QObject::connect(&child, &ChildProcess::finished, &loop, &QEventLoop::quit);
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
  guard.start(60000);
  if (child.IsRunning()) loop.exec();
  output += child.Read(1 << 20);
  return output;
}

// Processes of the group that are still running (a killed helper may linger as a zombie until
// whoever adopted it reaps it; it runs no more).
int LiveGroupMembers(qint64 group) {
  int live = 0;
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 2 && fields[2].toLongLong() == group && fields[0] != "Z") ++live;
  }
  return live;
}

TEST(ChildProcessTest, JoinsBothOutputsAndGivesNoInput) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(R"(sh -c "echo out; echo err 1>&2; cat; echo done")", {}));
  const QByteArray output = RunToEnd(child);
  // cat ends at once: the child's input is empty, not the test's terminal.
  EXPECT_EQ(output, QByteArray("out\nerr\ndone\n"));
  EXPECT_EQ(child.ExitCode(), 0);
}

TEST(ChildProcessTest, RunsInItsOwnSessionAtTheAskedPriority) {
  for (const bool lower : {false, true}) {
    ChildProcess child;
    ChildProcess::Options options;
    options.belowNormalPriority = lower;
    // Fields 6 and 19 of /proc/PID/stat are the session and the nice value.
    ASSERT_TRUE(
        child.Start(R"(sh -c "cut -d' ' -f6,19 /proc/self/stat; ls -l /proc/self/fd/0")", options));
    const QString output = QString::fromLatin1(RunToEnd(child));
    const QStringList fields = output.section(QLatin1Char('\n'), 0, 0).split(QLatin1Char(' '));
    ASSERT_EQ(fields.size(), 2) << output.toStdString();
    EXPECT_NE(fields[0].toLongLong(), static_cast<long long>(::getsid(0)));
    EXPECT_EQ(fields[1].toInt(), lower ? ChildProcess::kBelowNormalNice : 0);
    EXPECT_TRUE(output.contains(QStringLiteral("/dev/null"))) << output.toStdString();
  }
}

TEST(ChildProcessTest, TerminateEndsTheWholeGroup) {
  ChildProcess child;
  // The shell starts a helper that would outlive it if only the shell were killed.
  ASSERT_TRUE(child.Start(R"(sh -c "sleep 60 & echo started; wait")", {}));
  QEventLoop loop;
  QObject::connect(&child, &ChildProcess::outputReady, &loop, &QEventLoop::quit);
  loop.exec();
  const qint64 group = child.ProcessId();
  ASSERT_EQ(LiveGroupMembers(group), 2);
  child.Terminate();
  RunToEnd(child);
  // SIGKILL is delivered asynchronously; the helper stops running within moments.
  for (int i = 0; i < 100 && LiveGroupMembers(group) > 0; ++i) usleep(10000);
  EXPECT_EQ(LiveGroupMembers(group), 0);
}

TEST(ChildProcessTest, MissingProgramFailsToStart) {
  ChildProcess child;
  EXPECT_FALSE(child.Start(QStringLiteral("no-such-program-here --version"), {}));
  EXPECT_FALSE(child.ErrorText().isEmpty());
  EXPECT_FALSE(child.IsRunning());
}

TEST(ChildProcessTest, DiscardedOutputAndWorkingFolder) {
  const QString folder = QDir::tempPath();
  ChildProcess child;
  ChildProcess::Options options;
  options.output = ChildProcess::Output::Discarded;
  options.workingFolder = folder;
  ASSERT_TRUE(child.Start(R"(sh -c "echo noise; pwd > here.txt")", options));
  EXPECT_TRUE(RunToEnd(child).isEmpty());
  QFile here(folder + QStringLiteral("/here.txt"));
  ASSERT_TRUE(here.open(QIODevice::ReadOnly));
  EXPECT_EQ(here.readAll().trimmed(), QDir(folder).canonicalPath().toLocal8Bit());
}

}  // namespace
