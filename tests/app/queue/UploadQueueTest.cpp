#include "app/queue/UploadQueue.h"

#include "tests/app/queue/QueueTestJobs.h"

#include <gtest/gtest.h>

namespace cf {
namespace {

using testing::ExpectSameJob;
using testing::SampleJob;

TEST(UploadQueueTest, DuplicatePathsAreComparedTrimmedAndWithLetterCase) {
  UploadQueue queue;
  ASSERT_TRUE(queue.Add(SampleJob(1)));
  const QString queued = SampleJob(1).path;

  struct Case {
    QString path;
    bool added;
  };
  const Case cases[] = {
      {"  " + queued + "  ", false},
      {queued + "\t", false},
      {QString(queued).replace("lecture", "Lecture"), true},  // a different file here
      {queued + ".mp4", true},
      {"", false},
      {"   ", false},
  };
  for (const Case& c : cases) {
    UploadJob job = SampleJob(2);
    job.path = c.path;
    UploadQueue copy;
    copy.Add(SampleJob(1));
    EXPECT_EQ(copy.Add(job), c.added) << c.path.toStdString();
    EXPECT_EQ(copy.Count(), c.added ? 2 : 1) << c.path.toStdString();
    EXPECT_EQ(queue.itemExist(c.path), !c.added && !c.path.trimmed().isEmpty())
        << c.path.toStdString();
  }
}

TEST(UploadQueueTest, OrderedAddPutsEveryArgumentIntoItsField) {
  const UploadJob in = SampleJob(7);
  UploadQueue queue;
  ASSERT_TRUE(queue.Add(in.fileName, "  " + in.title + " ", " " + in.Author, in.path + "  ",
                        in.duration, in.secDuration, in.videoWidth, in.videoHeight,
                        in.srcVideoWidth, in.srcVideoHeight, in.vBitRate, in.aBitRate, in.Url,
                        in.account, in.password, in.folderID, in.contentID, in.folderName,
                        in.sysVer, in.bEncPassword, in.dstCvtType, in.dstResType, in.dstPostfix,
                        in.customBps, in.bInterlaced, in.fileSize, in.dateLastModified, "Failed"));
  const UploadJob* out = queue.item(in.path);
  ASSERT_NE(out, nullptr);
  ExpectSameJob(*out, in);
  EXPECT_EQ(out->state, "Failed");
  // The key is the trimmed path, so the row's path finds the job.
  EXPECT_EQ(queue.item(in.path), queue.item(1));
}

TEST(UploadQueueTest, PositionsFollowInsertionAndRemovalAndEditedJobsMoveToTheEnd) {
  UploadQueue queue;
  for (int n = 1; n <= 4; ++n) ASSERT_TRUE(queue.Add(SampleJob(n)));
  UploadJob* third = queue.item(SampleJob(3).path);

  queue.Remove(SampleJob(2).path);
  queue.Remove("/not/queued.mp4");
  ASSERT_EQ(queue.Count(), 3);
  EXPECT_EQ(queue.item(2), third);  // addresses stay valid while the job is queued
  EXPECT_FALSE(queue.itemExist(SampleJob(2).path));
  EXPECT_EQ(queue.item(SampleJob(2).path), nullptr);

  // An edit replaces the job: removed by its key, added again at the end.
  UploadJob edited = *queue.item(1);
  edited.title = "Edited";
  queue.Remove(edited.path);
  ASSERT_TRUE(queue.Add(edited));
  EXPECT_EQ(queue.item(1)->path, SampleJob(3).path);
  EXPECT_EQ(queue.item(3)->title, "Edited");

  EXPECT_EQ(queue.item(0), nullptr);
  EXPECT_EQ(queue.item(4), nullptr);
  EXPECT_EQ(queue.item(-1), nullptr);
  queue.Clear();
  EXPECT_EQ(queue.Count(), 0);
  EXPECT_TRUE(queue.Add(SampleJob(1)));
}

TEST(UploadQueueTest, DerivedNamesAndKinds) {
  const struct {
    const char* postfix;
    const char* dstFileName;
  } names[] = {{"", "video.mp4"}, {"hd", "video_hd.mp4"}, {"src", "video_src.mp4"}};
  for (const auto& name : names) {
    UploadJob job;
    job.dstPostfix = name.postfix;
    EXPECT_EQ(job.dstFileName(), name.dstFileName);
  }

  const struct {
    const char* fileName;
    bool project;
  } kinds[] = {{"lesson.kqp", true}, {"lesson.KQP", false}, {"kqp", false},    {".kqp", true},
               {"a.kqp.mp4", false}, {"a.mp4", false},      {"a.kqpx", false}, {"", false}};
  for (const auto& kind : kinds) {
    EXPECT_EQ(UploadJob::IsProjectFileName(kind.fileName), kind.project) << kind.fileName;
  }
}

TEST(UploadQueueTest, ModificationTimeTextKeepsWholeSecondsOfLocalTime) {
  const QDateTime modified(QDate(2026, 12, 8), QTime(9, 5, 7, 840));
  const QString text = UploadJob::FormatDateLastModified(modified);
  EXPECT_EQ(text, "2026-12-08T09:05:07");
  const QDateTime back = UploadJob::ParseDateLastModified(text);
  ASSERT_TRUE(back.isValid());
  EXPECT_EQ(back.toSecsSinceEpoch(), modified.toSecsSinceEpoch());
  EXPECT_FALSE(UploadJob::ParseDateLastModified("8/12/2026 9:05").isValid());
  EXPECT_FALSE(UploadJob::ParseDateLastModified("").isValid());
}

}  // namespace
}  // namespace cf
