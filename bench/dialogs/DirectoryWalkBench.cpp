// Walking a large tree without probing: 100,000 files in 100 folders, 1,000 of which match.
// The goal is well under two seconds per walk, event processing included.

#include "app/dialogs/modDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 1000;
constexpr int kMatchEvery = 100;

void BM_WalkLargeTree(benchmark::State& state) {
  int argc = 0;
  QCoreApplication app(argc, nullptr);
  QTemporaryDir root;
  for (int f = 0; f < kFolders; ++f) {
    const QString folder = root.filePath(QStringLiteral("d%1").arg(f));
    QDir().mkpath(folder);
    for (int i = 0; i < kFilesPerFolder; ++i) {
      const QString name = i % kMatchEvery == 0 ? QStringLiteral("clip%1.mp4").arg(i)
                                                : QStringLiteral("page%1.html").arg(i);
      QFile file(folder + QLatin1Char('/') + name);
      file.open(QIODevice::WriteOnly);
    }
  }
  const QString patterns = QStringLiteral(
      "*.kqp;*.wmv;*.mp4;*.m4v;*.mpg;*.mpeg;*.avi;*.m2ts;*.m2t;*.mts;*.flv;*.mov;*.mkv;*.3gp");
  modDirectory walker;
  int64_t matches = 0;
  for (auto _ : state) {
    walker.Walk(root.path(), patterns, [&matches](const QString&) { ++matches; });
  }
  state.counters["matches"] = static_cast<double>(walker.matches().size());
  benchmark::DoNotOptimize(matches);
}
BENCHMARK(BM_WalkLargeTree)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
