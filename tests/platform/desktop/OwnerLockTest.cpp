// Who owns the running window and the queue file: taking, looking and letting go, across
// threads and processes.

#include "platform/desktop/OwnerLock.h"
#include "platform/desktop/SingleInstance.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace cf::desktop {
namespace {

TEST(OwnerLock, OneOwnerAtATimeAndTheFileGoesWithIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("queue 'a' $(x).xml.lock"));
  EXPECT_FALSE(OwnerLock::IsHeld(path));
  {
    OwnerLock first(path);
    ASSERT_TRUE(first.TryLock());
    EXPECT_TRUE(first.TryLock());
    EXPECT_TRUE(OwnerLock::IsHeld(path));
    // A second owner in the same process is refused too (two savers of one queue file).
    OwnerLock second(path);
    EXPECT_FALSE(second.TryLock());
    EXPECT_TRUE(first.IsLocked());
  }
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_FALSE(OwnerLock::IsHeld(path));
  OwnerLock again(path);
  EXPECT_TRUE(again.TryLock());
}

// A copy of the window killed by the system leaves its lock file behind; the next start takes
// it at once.
TEST(OwnerLock, AKilledOwnerFreesTheLock) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("instance.lock"));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OwnerLock held(path);
    const char ok = held.TryLock() ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    ::pause();
    ::_exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(ok, 'y');
  EXPECT_TRUE(OwnerLock::IsHeld(path));
  OwnerLock mine(path);
  EXPECT_FALSE(mine.TryLock());
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(QFile::exists(path));
  EXPECT_FALSE(OwnerLock::IsHeld(path));
  EXPECT_TRUE(mine.TryLock());
}

// A command-line tool asking whether the window runs, at the moment the window starts, must not
// make the window think another copy runs (it used to end quietly, and the tool's job was lost).
TEST(OwnerLock, LookingNeverMakesAStartingCopyFail) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("instance.lock"));
  std::atomic<bool> done{false};
  std::thread looker([&] {
    while (!done) (void)OwnerLock::IsHeld(path);
  });
  int refused = 0;
  for (int i = 0; i < 2000; ++i) {
    OwnerLock lock(path);
    refused += lock.TryLock() ? 0 : 1;
  }
  done = true;
  looker.join();
  EXPECT_EQ(refused, 0);
}

TEST(SingleInstance, LookingNeverStopsAStartAndARunningCopyIsSeen) {
  const QString title = QStringLiteral("clipFerry test - v.%1").arg(::getpid());
  EXPECT_FALSE(SingleInstance::IsRunning(title));
  std::atomic<bool> done{false};
  std::thread looker([&] {
    while (!done) (void)SingleInstance::IsRunning(title);
  });
  int refused = 0;
  for (int i = 0; i < 200; ++i) {
    SingleInstance instance(title);
    refused += instance.Acquire() ? 0 : 1;
  }
  done = true;
  looker.join();
  EXPECT_EQ(refused, 0);
  SingleInstance instance(title);
  ASSERT_TRUE(instance.Acquire());
  EXPECT_TRUE(SingleInstance::IsRunning(title));
}

}  // namespace
}  // namespace cf::desktop
