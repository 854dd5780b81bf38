#include "app/queue/QueueAutoSave.h"

#include "app/queue/QueueFile.h"
#include "app/queue/UploadQueue.h"
#include "tests/app/queue/QueueTestJobs.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace cf {
namespace {

using testing::SampleJob;

class QueueAutoSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    filePath = QueueFile::PathIn(folder.path());
  }

  // The paths the file holds now, in its order.
  QStringList OnDisk() const {
    UploadQueue loaded;
    QueueFile::Load(filePath, loaded);
    QStringList paths;
    for (int i = 1; i <= loaded.Count(); ++i) paths << loaded.item(i)->path;
    return paths;
  }

  QTemporaryDir folder;
  QString filePath;
  UploadQueue queue;
};

// A burst of changes is written once, after the burst, and within the promised delay; nothing is
// written while the burst is still running on the same turn of the event loop.
TEST_F(QueueAutoSaveTest, ABurstOfChangesReachesTheDiskOnceAndInTime) {
  QueueAutoSave autoSave(queue, filePath);
  QStringList expected;
  for (int n = 1; n <= 1000; ++n) {
    UploadJob job = SampleJob(1);
    job.path = QString("/v/batch %1 'x' $(y).mp4").arg(n);
    expected << job.path;
    ASSERT_TRUE(queue.Add(job));
  }
  EXPECT_FALSE(QFile::exists(filePath));
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(filePath); }, 5000));
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_EQ(OnDisk(), expected);

  // Every kind of change the file keeps is written: a finished job drops out, a swap and a
  // removal reorder, and the last job going removes the file.
  queue.SetState(expected[0], JobState::Finished);
  queue.RemoveMany(expected.mid(2, 997));
  ASSERT_TRUE(QTest::qWaitFor([&] { return OnDisk().size() == 2; }, 5000));
  EXPECT_EQ(OnDisk(), QStringList({expected[1], expected[999]}));
  queue.Clear();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(filePath); }, 5000));
}

TEST_F(QueueAutoSaveTest, AChangeStillPendingIsWrittenWhenTheSaverGoes) {
  {
    QueueAutoSave autoSave(queue, filePath);
    queue.Add(SampleJob(1));
  }
  EXPECT_EQ(OnDisk(), QStringList({SampleJob(1).path}));
}

// With the box "remember the queue" off nothing is written; turning it on writes the queue.
TEST_F(QueueAutoSaveTest, NothingIsWrittenWhileOff) {
  QueueAutoSave autoSave(queue, filePath);
  autoSave.setEnabled(false);
  queue.Add(SampleJob(1));
  QTest::qWait(QueueAutoSave::kDelayMs * 2);
  EXPECT_TRUE(autoSave.Flush());
  EXPECT_FALSE(QFile::exists(filePath));
  autoSave.setEnabled(true);
  EXPECT_EQ(OnDisk(), QStringList({SampleJob(1).path}));
}

TEST_F(QueueAutoSaveTest, TheFileHasAnOwnerWhileASaverRuns) {
  EXPECT_FALSE(QueueAutoSave::HeldElsewhere(filePath));
  {
    QueueAutoSave autoSave(queue, filePath);
    EXPECT_TRUE(QueueAutoSave::HeldElsewhere(filePath));
  }
  EXPECT_FALSE(QueueAutoSave::HeldElsewhere(filePath));
}

}  // namespace
}  // namespace cf
