// Speed, time left and the run's figures, driven by a clock the test moves.

#include "app/queue/RunProgress.h"
#include "app/queue/TransferRate.h"
#include "app/queue/UploadQueue.h"
#include "tests/app/queue/QueueTestJobs.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using cf::JobRun;

constexpr qint64 kMiB = 1024 * 1024;

struct Sample {
  qint64 ms;
  qint64 bytes;
};

TEST(TransferRate, AveragesTheLastTenSecondsAndForgetsARestart) {
  std::vector<Sample> steady;
  for (qint64 s = 0; s <= 20; ++s) steady.push_back({s * 1000, s * kMiB});
  // 1 MiB/s for 10 s, then 3 MiB/s for 10 s: only the newer pace counts.
  std::vector<Sample> faster;
  for (qint64 s = 0; s <= 10; ++s) faster.push_back({s * 1000, s * kMiB});
  for (qint64 s = 1; s <= 10; ++s) faster.push_back({10000 + s * 1000, 10 * kMiB + s * 3 * kMiB});
  // Blocks land every 1.5 s: the window's edge falls between samples.
  std::vector<Sample> uneven;
  for (qint64 i = 0; i <= 12; ++i) uneven.push_back({i * 1500, i * kMiB / 2});
  const struct {
    const char* name;
    std::vector<Sample> samples;
    qint64 total;
    double speed;
    qint64 secondsLeft;
  } cases[] = {
      {"nothing yet", {}, 100 * kMiB, 0, -1},
      {"one sample", {{0, kMiB}}, 100 * kMiB, 0, -1},
      {"under a second", {{0, 0}, {400, kMiB}, {900, 2 * kMiB}}, 100 * kMiB, 0, -1},
      {"steady", steady, 100 * kMiB, double(kMiB), 80},
      {"faster of late", faster, 100 * kMiB, 3.0 * kMiB, 20},
      {"uneven blocks", uneven, 12 * kMiB, kMiB / 3.0, 18},
      {"stalled", {{0, kMiB}, {12000, kMiB}}, 2 * kMiB, 0, -1},
      {"left rounds up", {{0, 0}, {2000, 3 * kMiB}}, 4 * kMiB, 1.5 * kMiB, 1},
      {"all sent", {{0, 0}, {2000, 4 * kMiB}}, 4 * kMiB, 2.0 * kMiB, 0},
      // Started over from block 0: the bytes before say nothing about the new pace.
      {"restart",
       {{0, 0}, {5000, 50 * kMiB}, {6000, 0}, {8000, 4 * kMiB}},
       10 * kMiB,
       2.0 * kMiB,
       3},
  };
  for (const auto& c : cases) {
    cf::TransferRate rate;
    for (const Sample& s : c.samples) rate.Add(s.ms, s.bytes);
    EXPECT_NEAR(rate.BytesPerSecond(), c.speed, 1.0) << c.name;
    EXPECT_EQ(rate.SecondsLeft(c.total), c.secondsLeft) << c.name;
  }
}

TEST(TransferRate, TextsOfTheStatusLine) {
  const QString lead = QStringLiteral("Uploading data to the server ...");
  const struct {
    cf::UploadFigures figures;
    QString lead;
    const char* text;
  } cases[] = {
      {{56, 412 * kMiB, 735 * kMiB, 9.8 * kMiB, 33},
       lead,
       "Uploading data to the server ... 56% (412 of 735 MB, 9.8 MB/s, about 33 s left)"},
      {{50, 3584 * 1024, 7 * kMiB + kMiB / 5, 512 * 1024, 8},
       lead,
       "Uploading data to the server ... 50% (3.5 of 7.2 MB, 512 KB/s, about 8 s left)"},
      {{10, 300 * 1024, 600 * 1024, 40 * 1024, 8},
       QString(),
       "10% (300 of 600 KB, 40 KB/s, about 8 s left)"},
      {{25, 3 * 1024 * kMiB / 2, 6 * 1024 * kMiB, 25.4 * kMiB, 185},
       QString(),
       "25% (1.5 of 6.0 GB, 25 MB/s, about 3 min left)"},
      {{1, 30 * kMiB, 900 * kMiB, 0.2 * kMiB, 3900 + 29},
       lead,
       "Uploading data to the server ... 1% (30 of 900 MB, 205 KB/s, about 1 h 5 min left)"},
      {{3, 20 * kMiB, 735 * kMiB, 0, -1},
       lead,
       "Uploading data to the server ... 3% (20 of 735 MB)"},
      // A place marker in the lead stays as it is.
      {{5, kMiB, 20 * kMiB, 0, -1},
       QStringLiteral("to 10.0.0.1 %2 ..."),
       "to 10.0.0.1 %2 ... 5% (1 of 20 MB)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cf::UploadProgressText(c.lead, c.figures), QString::fromUtf8(c.text));
  }
}

class RunProgressTest : public ::testing::Test {
 protected:
  RunProgressTest() {
    for (int n = 1; n <= 3; ++n) {
      queue_.Add(cf::testing::SampleJob(n));
      paths_ << cf::testing::SampleJob(n).path;
    }
  }
  void Start(int job) {
    queue_.SetState(paths_[job], cf::JobState::Transfering);
    progress_.OnPhase(paths_[job], JobRun::Phase::CheckingSource);
  }
  void Finish(int job) {
    progress_.OnPhase(paths_[job], JobRun::Phase::Done);
    queue_.SetState(paths_[job], cf::JobState::Finished);
  }
  void Upload(int job, qint64 ms, int percent, qint64 archive) {
    now_ = ms;
    progress_.OnProgress(paths_[job], JobRun::Phase::Uploading, percent, 100,
                         archive * percent / 100);
  }

  cf::UploadQueue queue_;
  QStringList paths_;
  qint64 now_ = 0;
  cf::RunProgress progress_{queue_, [this] { return now_; }};
};

TEST_F(RunProgressTest, CountsTheJobsAndTheOverallPercentOfARun) {
  for (const QString& path : paths_) queue_.SetState(path, cf::JobState::Waiting);
  progress_.OnRunning(true);
  Start(0);
  EXPECT_EQ(progress_.jobNumber(), 1);
  EXPECT_EQ(progress_.jobCount(), 3);
  EXPECT_EQ(progress_.overallPercent(), 0);
  // A converted job: conversion is its first half, the upload its second.
  progress_.OnPhase(paths_[0], JobRun::Phase::Converting);
  progress_.OnProgress(paths_[0], JobRun::Phase::Converting, 60, 100, 0);
  EXPECT_EQ(progress_.overallPercent(), 10);
  progress_.OnPhase(paths_[0], JobRun::Phase::Uploading);
  Upload(0, 0, 60, 100 * kMiB);
  EXPECT_EQ(progress_.overallPercent(), 26);
  Finish(0);
  EXPECT_EQ(progress_.overallPercent(), 33);

  // A job that is not converted counts its upload whole.
  Start(1);
  progress_.OnPhase(paths_[1], JobRun::Phase::Uploading);
  Upload(1, 0, 50, 10 * kMiB);
  EXPECT_EQ(progress_.jobNumber(), 2);
  EXPECT_EQ(progress_.overallPercent(), 50);
  // A job removed meanwhile leaves the count.
  queue_.Remove(paths_[2]);
  EXPECT_EQ(progress_.jobCount(), 2);
  EXPECT_EQ(progress_.overallPercent(), 75);

  progress_.OnRunning(false);
  EXPECT_FALSE(progress_.running());
  EXPECT_EQ(progress_.overallPercent(), 0);
}

TEST_F(RunProgressTest, TheUploadsStatusLineGetsItsFigures) {
  const QString status = QStringLiteral("Uploading data to the server ...");
  progress_.OnRunning(true);
  Start(0);
  progress_.OnPhase(paths_[0], JobRun::Phase::Uploading);
  // Before any byte is acknowledged the line stays as it came.
  Upload(0, 0, 0, 735 * kMiB);
  EXPECT_FALSE(progress_.uploading());
  EXPECT_EQ(progress_.StatusText(status + QStringLiteral(" 0%")), status + QStringLiteral(" 0%"));

  Upload(0, 500, 2, 735 * kMiB);
  EXPECT_EQ(progress_.StatusText(status + QStringLiteral(" 2%")),
            status + QStringLiteral(" 2% (15 of 735 MB)"));
  for (int second = 1; second <= 12; ++second)
    Upload(0, 500 + second * 1000, 2 + second * 4, 735 * kMiB);
  const cf::UploadFigures& figures = progress_.figures();
  EXPECT_EQ(figures.percent, 50);
  EXPECT_EQ(figures.total, 735 * kMiB);
  EXPECT_NEAR(figures.bytesPerSecond, 735 * kMiB * 0.04, 1024);
  EXPECT_EQ(progress_.StatusText(status + QStringLiteral(" 50%")),
            status + QStringLiteral(" 50% (368 of 735 MB, 29 MB/s, about 13 s left)"));
  // Other texts of the phase pass unchanged.
  EXPECT_EQ(progress_.StatusText(QStringLiteral("Updating ...")), QStringLiteral("Updating ..."));

  // The next upload starts without the last one's speed.
  Finish(0);
  Start(1);
  progress_.OnPhase(paths_[1], JobRun::Phase::Uploading);
  Upload(1, 20000, 10, 10 * kMiB);
  EXPECT_EQ(progress_.figures().bytesPerSecond, 0);
  EXPECT_EQ(progress_.StatusText(status + QStringLiteral(" 10%")),
            status + QStringLiteral(" 10% (1 of 10 MB)"));

  // Half of the archive is sent, a quarter acknowledged: the line's percent follows the bytes.
  progress_.OnProgress(paths_[1], JobRun::Phase::Uploading, 50, 100, 1 * kMiB, 4 * kMiB);
  EXPECT_EQ(progress_.figures().percent, 25);
  EXPECT_EQ(progress_.StatusText(status + QStringLiteral(" 50%")),
            status + QStringLiteral(" 25% (1.0 of 4.0 MB)"));
}

}  // namespace
