// The queue file under load: saving and loading 10,000 jobs (the window writes the file after
// every change, so a save must be cheap), adding a batch of 1,000 files with the file kept
// current, and the resident memory of a long queue.
// Goals: save and load each under 50 ms; under 2 KiB resident per job at 100,000 jobs.
// Run: build/bench/queue/QueueFileBench; for the memory, QueueFileBench --write-queue 100000 FILE
// then QueueFileBench --resident FILE.
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueFile.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kJobs = 10000;
constexpr int kBatch = 1000;

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

void Fill(cf::UploadQueue& queue, int count) {
  std::vector<cf::UploadJob> jobs;
  jobs.reserve(static_cast<size_t>(count));
  for (int n = 0; n < count; ++n) jobs.push_back(BenchJob(n));
  queue.AddMany(std::move(jobs));
  // Some finished jobs, which every save leaves out.
  for (int n = 0; n < count; n += 10) queue.SetState(BenchJob(n).path, cf::JobState::Finished);
}

void BM_SaveQueue(benchmark::State& state) {
  QTemporaryDir folder;
  const QString path = cf::QueueFile::PathIn(folder.path());
  cf::UploadQueue queue;
  Fill(queue, kJobs);
  for (auto _ : state) {
    // A change of the row order first, as a Remove or Clear All leaves it before the save.
    queue.SwapRows(1, 2);
    if (!cf::QueueFile::Save(path, queue)) state.SkipWithError("save failed");
  }
  state.counters["jobs"] = kJobs;
}
BENCHMARK(BM_SaveQueue)->Unit(benchmark::kMillisecond);

void BM_LoadQueue(benchmark::State& state) {
  QTemporaryDir folder;
  const QString path = cf::QueueFile::PathIn(folder.path());
  {
    cf::UploadQueue queue;
    Fill(queue, kJobs);
    if (!cf::QueueFile::Save(path, queue)) state.SkipWithError("save failed");
  }
  for (auto _ : state) {
    cf::UploadQueue queue;
    cf::QueueGridModel grid(queue);
    if (cf::QueueFile::Load(path, queue) != cf::QueueFile::LoadResult::Loaded) {
      state.SkipWithError("load failed");
    }
    benchmark::DoNotOptimize(grid.rowCount());
  }
}
BENCHMARK(BM_LoadQueue)->Unit(benchmark::kMillisecond);

// A batch of 1,000 files added to a queue of `range(0)` jobs with the file kept current: as the
// batch dialog hands them over (one call), and one by one with the event loop running between
// them (the worst a caller can do). Until the last change is on disk.
void BatchAdd(benchmark::State& state, bool oneByOne) {
  QTemporaryDir folder;
  const QString path = cf::QueueFile::PathIn(folder.path());
  int64_t saves = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QFile::remove(path);
    cf::UploadQueue queue;
    cf::QueueGridModel grid(queue);
    cf::QueueCommands commands(queue);
    Fill(queue, static_cast<int>(state.range(0)));
    cf::QueueAutoSave autoSave(queue, path);
    autoSave.Flush();
    std::vector<cf::UploadJob> batch;
    for (int n = 0; n < kBatch; ++n) batch.push_back(BenchJob(1000000 + n));
    int64_t before = 0;
    QObject::connect(&queue, &cf::UploadQueue::queueChanged, [&] { ++before; });
    state.ResumeTiming();

    if (oneByOne) {
      for (const cf::UploadJob& job : batch) {
        commands.commitAdd(job);
        QCoreApplication::processEvents();
      }
    } else {
      commands.commitBatch(batch);
    }
    if (!autoSave.Flush()) state.SkipWithError("save failed");
    ++saves;
    benchmark::DoNotOptimize(before);
  }
  state.counters["queued"] = static_cast<double>(state.range(0));
}

void BM_BatchAddDialog(benchmark::State& state) { BatchAdd(state, false); }
void BM_BatchAddOneByOne(benchmark::State& state) { BatchAdd(state, true); }
BENCHMARK(BM_BatchAddDialog)->Arg(0)->Arg(kJobs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchAddOneByOne)->Arg(0)->Arg(kJobs)->Unit(benchmark::kMillisecond);

// Clear All and a full Remove over a long queue stay linear as well.
void BM_FindEveryRowAfterRemovals(benchmark::State& state) {
  cf::UploadQueue queue;
  cf::QueueGridModel grid(queue);
  Fill(queue, kJobs);
  for (auto _ : state) {
    queue.Remove(queue.AtRow(1)->path);
    for (int row = 1; row <= grid.rowCount(); ++row)
      benchmark::DoNotOptimize(queue.RowOf(queue.AtRow(row)->path));
    queue.Add(BenchJob(kJobs + static_cast<int>(state.iterations())));
  }
}
BENCHMARK(BM_FindEveryRowAfterRemovals)->Unit(benchmark::kMillisecond);

long ResidentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return -1;
}

int WriteQueue(int count, const QString& path) {
  cf::UploadQueue queue;
  std::vector<cf::UploadJob> jobs;
  for (int n = 0; n < count; ++n) jobs.push_back(BenchJob(n));
  queue.AddMany(std::move(jobs));
  return cf::QueueFile::Save(path, queue) ? 0 : 1;
}

// Loads a queue file, as `clipferry-cli list` does, and reports the resident memory it took per
// job. Run in a process of its own so that nothing else has touched the heap.
int Resident(const QString& path) {
  const long before = ResidentKiB();
  cf::UploadQueue queue;
  cf::QueueGridModel grid(queue);
  if (cf::QueueFile::Load(path, queue) != cf::QueueFile::LoadResult::Loaded) return 1;
  const long after = ResidentKiB();
  std::printf("%d jobs: %ld KiB resident before loading, %ld KiB after: %.0f bytes per job\n",
              queue.Count(), before, after,
              static_cast<double>(after - before) * 1024.0 / queue.Count());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "--write-queue") == 0) {
    return WriteQueue(std::atoi(argv[2]), QString::fromLocal8Bit(argv[3]));
  }
  if (argc == 3 && std::strcmp(argv[1], "--resident") == 0) {
    return Resident(QString::fromLocal8Bit(argv[2]));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
