// Saving and loading a queue of 10,000 jobs, as the main window does when it closes and starts.
// Goal: each under 200 ms. Run: build/bench/queue/QueueFileBench
#include "app/queue/QueueFile.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kJobs = 10000;

cf::UploadJob BenchJob(int n) {
  const QString tag = QString::number(n);
  cf::UploadJob job;
  job.fileName = "lecture" + tag + ".mp4";
  job.title = "Week " + tag + ": loops <for> & ranges";
  job.Author = "陳老師";
  job.path = "/home/teacher/videos/term/lecture" + tag + ".mp4";
  job.duration = "0:45:12.40";
  job.secDuration = 2712;
  job.videoWidth = 1280;
  job.videoHeight = 720;
  job.vBitRate = "800k";
  job.aBitRate = "64k";
  job.Url = "video.school.example:8080/mavo";
  job.account = "teacher";
  job.password = "secret";
  job.folderID = "1234";
  job.contentID = "0";
  job.folderName = "Programming 101";
  job.sysVer = "3.1";
  job.dstPostfix = "hd";
  job.srcVideoWidth = 1920;
  job.srcVideoHeight = 1080;
  job.fileSize = 734003200 + n;
  job.dateLastModified = "2026-12-01T08:30:00";
  return job;
}

void Fill(cf::UploadQueue& queue, cf::QueueGridModel& grid) {
  for (int n = 0; n < kJobs; ++n) {
    const cf::UploadJob job = BenchJob(n);
    queue.Add(job);
    grid.addRow(job.fileName, job.title, job.Author, job.path, job.Url, job.folderName);
    // Some finished jobs, so every save looks up rows by path.
    if (n % 10 == 0) grid.setState(job.path, cf::kStateFinished);
  }
}

void BM_SaveQueue(benchmark::State& state) {
  QTemporaryDir folder;
  const QString path = cf::QueueFile::PathIn(folder.path());
  cf::UploadQueue queue;
  cf::QueueGridModel grid;
  Fill(queue, grid);
  for (auto _ : state) {
    // An edit elsewhere leaves the path index to be rebuilt by the save, as after a Remove.
    grid.swapRows(1, 2);
    if (!cf::QueueFile::Save(path, queue, grid)) state.SkipWithError("save failed");
  }
  state.counters["jobs"] = kJobs;
}
BENCHMARK(BM_SaveQueue)->Unit(benchmark::kMillisecond);

void BM_LoadQueue(benchmark::State& state) {
  QTemporaryDir folder;
  const QString path = cf::QueueFile::PathIn(folder.path());
  {
    cf::UploadQueue queue;
    cf::QueueGridModel grid;
    Fill(queue, grid);
    if (!cf::QueueFile::Save(path, queue, grid)) state.SkipWithError("save failed");
  }
  for (auto _ : state) {
    cf::UploadQueue queue;
    cf::QueueGridModel grid;
    if (cf::QueueFile::Load(path, queue, grid) != cf::QueueFile::LoadResult::Loaded) {
      state.SkipWithError("load failed");
    }
    benchmark::DoNotOptimize(queue.Count());
  }
}
BENCHMARK(BM_LoadQueue)->Unit(benchmark::kMillisecond);

// Clear All and a full Remove over a long queue stay linear as well.
void BM_FindEveryRowAfterRemovals(benchmark::State& state) {
  cf::UploadQueue queue;
  cf::QueueGridModel grid;
  Fill(queue, grid);
  for (auto _ : state) {
    grid.deleteRow(1);
    for (int row = 1; row <= grid.rowCount(); ++row)
      benchmark::DoNotOptimize(grid.findRow(grid.pathAt(row)));
    const cf::UploadJob job = BenchJob(kJobs + static_cast<int>(state.iterations()));
    grid.addRow(job.fileName, job.title, job.Author, job.path, job.Url, job.folderName);
  }
}
BENCHMARK(BM_FindEveryRowAfterRemovals)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
