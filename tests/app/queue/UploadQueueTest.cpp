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

TEST(UploadQueueTest, AddedJobsAreStoredTrimmedAndWaiting) {
  UploadJob in = SampleJob(7);
  in.title = "  " + in.title + " ";
  in.Author = " " + in.Author;
  in.path += "  ";
  in.state = "Failed";
  in.live = JobState::Finished;
  in.errorText = "old";
  UploadQueue queue;
  ASSERT_TRUE(queue.Add(in));
  const UploadJob* out = queue.item(SampleJob(7).path);
  ASSERT_NE(out, nullptr);
  ExpectSameJob(*out, SampleJob(7));
  EXPECT_EQ(out->state, "Failed");  // the saved state of an edit travels with the job
  EXPECT_EQ(out->live, JobState::Waiting);
  EXPECT_TRUE(out->errorText.isEmpty());
  EXPECT_EQ(queue.AtRow(1), out);
}

// An edit replaces the job: the job moves to the end of the collection (the file's order) while
// its row stays where it was and shows the new job waiting, with what the row had recorded.
TEST(UploadQueueTest, ReplacedJobKeepsItsRowAndMovesToTheEndOfTheCollection) {
  UploadQueue queue;
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(queue.Add(SampleJob(n)));
  queue.SetFailure(SampleJob(1).path, "Network down");
  UploadJob edited = SampleJob(4);  // the edit chose another file
  ASSERT_TRUE(queue.Replace(SampleJob(1).path, edited));
  EXPECT_FALSE(queue.itemExist(SampleJob(1).path));
  EXPECT_EQ(queue.AtRow(1)->path, SampleJob(4).path);
  EXPECT_EQ(queue.RowOf(SampleJob(4).path), 1);
  EXPECT_EQ(queue.item(3)->path, SampleJob(4).path);
  EXPECT_EQ(queue.AtRow(1)->live, JobState::Waiting);
  EXPECT_EQ(queue.AtRow(1)->errorText, "Network down");

  // Another queued job's path, or an unknown job, is refused and changes nothing.
  EXPECT_FALSE(queue.Replace(SampleJob(4).path, SampleJob(2)));
  EXPECT_FALSE(queue.Replace(SampleJob(9).path, SampleJob(8)));
  EXPECT_EQ(queue.Count(), 3);
  EXPECT_EQ(queue.RowOf(SampleJob(2).path), 2);
}

// A view follows the store through its signals; a wrong range or a missing signal would show
// stale rows or crash the view.
TEST(UploadQueueTest, SignalsNameTheRowsThatChange) {
  UploadQueue queue;
  QStringList events;
  QObject::connect(&queue, &UploadQueue::rowsAdded, [&](int first, int last) {
    events << QString("added %1-%2").arg(first).arg(last);
  });
  QObject::connect(&queue, &UploadQueue::rowsRemoved, [&](int first, int last) {
    events << QString("removed %1-%2").arg(first).arg(last);
  });
  int fileChanges = 0;
  QObject::connect(&queue, &UploadQueue::queueChanged, [&] { ++fileChanges; });

  std::vector<UploadJob> batch;
  for (int n = 1; n <= 6; ++n) batch.push_back(SampleJob(n));
  batch.push_back(SampleJob(2));  // twice in one batch: once
  EXPECT_EQ(queue.AddMany(batch), 6);
  EXPECT_EQ(queue.AddMany({SampleJob(1)}), 0);
  queue.RemoveMany({SampleJob(2).path, SampleJob(3).path, SampleJob(5).path, "/none"});
  EXPECT_EQ(events, QStringList({"added 0-5", "removed 4-4", "removed 1-2"}));
  EXPECT_EQ(fileChanges, 2);
  EXPECT_EQ(queue.RowOf(SampleJob(6).path), 3);

  // Time stamps and error texts are not kept in the file; a state is.
  queue.StampTime(SampleJob(1).path, JobTime::UploadBegin);
  queue.SetErrorText(SampleJob(1).path, "x");
  EXPECT_EQ(fileChanges, 2);
  queue.SetState(SampleJob(1).path, JobState::Finished);
  EXPECT_EQ(fileChanges, 3);
  EXPECT_FALSE(queue.SetState("/none", JobState::Failed));
}

TEST(UploadQueueTest, NextWaitingFollowsTheRowsNotTheCollection) {
  UploadQueue queue;
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(queue.Add(SampleJob(n)));
  queue.SetState(SampleJob(1).path, JobState::Failed);
  UploadJob edited = SampleJob(2);
  edited.title = "Edited";
  ASSERT_TRUE(queue.Replace(edited.path, edited));  // last in the collection, row 2
  EXPECT_EQ(queue.NextWaiting(), SampleJob(2).path);
  queue.SwapRows(2, 3);
  EXPECT_EQ(queue.NextWaiting(), SampleJob(3).path);
  queue.SetState(SampleJob(3).path, JobState::Transfering);
  queue.SetState(SampleJob(2).path, JobState::Canceled);
  EXPECT_TRUE(queue.NextWaiting().isEmpty());
  EXPECT_TRUE(queue.AnyInState(JobState::Transfering));
  EXPECT_FALSE(queue.AnyInState(JobState::Waiting));
}

TEST(UploadQueueTest, StateTextsReadBackToTheirStates) {
  const char* texts[] = {"Waiting", "Transfering", "Editing", "Finished", "Failed", "Canceled"};
  for (size_t i = 0; i < std::size(texts); ++i) {
    const auto state = static_cast<JobState>(i);
    EXPECT_EQ(StateText(state), QLatin1String(texts[i]));
    EXPECT_EQ(StateFromText(QString(texts[i])), state);
  }
  EXPECT_FALSE(StateFromText(u"waiting").has_value());
  EXPECT_FALSE(StateFromText(u"Transferring").has_value());
  EXPECT_FALSE(StateFromText(u"").has_value());
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

  // An edit replaces the job, which goes to the end of the collection.
  UploadJob edited = *queue.item(1);
  edited.title = "Edited";
  ASSERT_TRUE(queue.Replace(edited.path, edited));
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
