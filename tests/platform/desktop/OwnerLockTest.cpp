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

// How many of `times` attempts to take ownership fail while another thread keeps looking.
template <typename Take, typename Look>
int RefusedWhileLooking(int times, Take take, Look look) {
  std::atomic<bool> done{false};
  std::thread looker([&] {
    while (!done) (void)look();
  });
  int refused = 0;
  for (int i = 0; i < times; ++i) refused += take() ? 0 : 1;
  done = true;
  looker.join();
  return refused;
}

// A command-line tool asking whether the window runs, at the moment the window starts, must not
// make the window think another copy runs (it used to end quietly, and the tool's job was lost).
TEST(OwnerLock, LookingNeverMakesAStartingCopyFail) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("instance.lock"));
  EXPECT_EQ(
      RefusedWhileLooking(
          2000, [&] { return OwnerLock(path).TryLock(); }, [&] { return OwnerLock::IsHeld(path); }),
      0);
}

TEST(SingleInstance, LookingNeverStopsAStartAndARunningCopyIsSeen) {
  const QString name = QStringLiteral("clipFerry test %1").arg(::getpid());
  EXPECT_FALSE(SingleInstance::IsRunning(name));
  EXPECT_EQ(RefusedWhileLooking(
                200, [&] { return SingleInstance(name).Acquire(); },
                [&] { return SingleInstance::IsRunning(name); }),
            0);
  SingleInstance instance(name);
  ASSERT_TRUE(instance.Acquire());
  EXPECT_TRUE(SingleInstance::IsRunning(name));
}

}  // namespace
}  // namespace cf::desktop
