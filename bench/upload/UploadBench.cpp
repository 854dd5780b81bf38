// Measures block uploads of `mavo putfile` against the reference server on loopback.
//
//   upload_bench [--rounds N] [--only throughput|memory] [--work DIR]
//
// Throughput: a 256 MiB zip archive sent by `mavo putfile` (512 KiB blocks, one request each)
// against curl posting the same file once, streamed, to the same server's /sink route. Goal:
// mavo reaches at least 0.8 of curl's throughput. Each round runs both; wall time is the
// measure, and the processor time of the client and of the server is printed beside it, because
// on a busy machine the wall time is mostly the wait for a processor. Two references run in each
// round: bare_putfile, the same requests from plain sockets (the uploader's own cost is what
// mavo loses against it), and curl posting the same bytes cut into blocks to /sink (the cost of
// the request pattern without storing).
//
// Memory: peak resident size of `mavo putfile` for a 16 MiB and a 1 GiB archive. Goal: less
// than 4 MiB apart (the upload holds one block buffer, nothing grows with the file).
//
// Needs zip and curl on PATH; the archives are made in a temporary folder (about 3 GiB for both
// parts) and removed afterwards.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kThroughputBytes = 256 * kMiB;
constexpr qint64 kSmallBytes = 16 * kMiB;
constexpr qint64 kLargeBytes = 1024 * kMiB;
constexpr double kThroughputGoal = 0.8;
constexpr long kMemoryGoalKiB = 4 * 1024;
constexpr char kAccount[] = "bench";
constexpr char kFolderId[] = "2";
// Every upload replaces this content, so the server's data folder does not grow with the rounds.
constexpr char kContentId[] = "500";

struct Run {
  bool ok = false;
  double seconds = 0;
  double cpuSeconds = 0;  // user + system of the child
  long maxRssKiB = 0;
  QByteArray output;
};

double Seconds(const timeval& value) { return double(value.tv_sec) + double(value.tv_usec) / 1e6; }

// Runs a program to its end with standard output and error in files, and takes its resource use
// from wait4: the child's own processor time and peak resident size.
Run RunMeasured(const QStringList& arguments, const QString& outputFile) {
  std::vector<QByteArray> storage;
  for (const QString& argument : arguments) storage.push_back(argument.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const QByteArray outPath = QFile::encodeName(outputFile);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Run run;
  QElapsedTimer timer;
  timer.start();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = double(timer.nsecsElapsed()) / 1e9;
  run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.maxRssKiB = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  QFile out(outputFile);
  if (out.open(QIODevice::ReadOnly)) run.output = out.readAll();
  return run;
}

// A stored (uncompressed) zip archive around `payloadBytes` random bytes, as the upload package
// of a lecture would be.
bool MakeArchive(const QString& folder, const QString& name, qint64 payloadBytes) {
  const QString payload = QDir(folder).filePath(name + QStringLiteral(".bin"));
  {
    QFile file(payload);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray chunk(static_cast<qsizetype>(kMiB), Qt::Uninitialized);
    for (qint64 done = 0; done < payloadBytes; done += chunk.size()) {
      QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(chunk.data()),
                                            chunk.size() / 4);
      if (file.write(chunk) != chunk.size()) return false;
    }
  }
  const QString archive = QDir(folder).filePath(name);
  const Run zipped = RunMeasured({QStringLiteral("zip"), QStringLiteral("-0"), QStringLiteral("-q"),
                                  QStringLiteral("-j"), archive, payload},
                                 QDir(folder).filePath(QStringLiteral("zip.out")));
  QFile::remove(payload);
  return zipped.ok;
}

class Server {
 public:
  ~Server() { Stop(); }

  bool Start(const QString& program, const QString& folder) {
    const QString seed = QDir(folder).filePath(QStringLiteral("seed.xml"));
    QFile seedFile(seed);
    if (!seedFile.open(QIODevice::WriteOnly)) return false;
    // No quota: the rounds replace one content and the 1 GiB archive must fit.
    seedFile.write(
        "<kqserver><account name=\"bench\" password=\"bench\" digest=\"0\">"
        "<folder id=\"2\" pid=\"0\" name=\"Bench\" uploadable=\"1\"/>"
        "<content id=\"500\" folder=\"2\" overwrite=\"1\" size=\"0\"/>"
        "</account></kqserver>");
    seedFile.close();
    int out[2];
    if (pipe(out) != 0) return false;
    const QByteArray programPath = QFile::encodeName(program);
    const QByteArray data = QFile::encodeName(QDir(folder).filePath(QStringLiteral("data")));
    const QByteArray seedPath = QFile::encodeName(seed);
    const char* argv[] = {programPath.constData(), "--listen", "127.0.0.1:0",        "--data",
                          data.constData(),        "--seed",   seedPath.constData(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int spawned =
        posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
      close(out[0]);
      pid_ = 0;
      return false;
    }
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const std::string prefix = "listening on ";
    if (line.rfind(prefix, 0) != 0) return false;
    base_ = QStringLiteral("http://") + QString::fromStdString(line.substr(prefix.size()));
    return true;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

  // Processor seconds the server has used so far.
  double CpuSeconds() const {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid_));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
  }

  QString Url(const char* path) const { return base_ + QLatin1String(path); }
  QString Port() const { return base_.section(QLatin1Char(':'), -1); }

 private:
  pid_t pid_ = 0;
  QString base_;
};

struct Measured {
  Run run;
  double serverCpu = 0;
};

Measured MeasureWithServer(const Server& server, const QStringList& arguments,
                           const QString& outputFile) {
  const double before = server.CpuSeconds();
  Measured measured;
  measured.run = RunMeasured(arguments, outputFile);
  measured.serverCpu = server.CpuSeconds() - before;
  return measured;
}

QStringList MavoPutFile(const QString& mavo, const Server& server, const QString& archive) {
  return {mavo,
          QStringLiteral("putfile"),
          server.Url("/mavo/putFile/"),
          QLatin1String(kAccount),
          QLatin1String(kAccount),
          QLatin1String(kFolderId),
          QLatin1String(kContentId),
          archive};
}

QStringList BarePutFile(const Server& server, const QString& archive) {
  return {QStringLiteral(CLIPFERRY_BARE_PUTFILE),
          server.Port(),
          QLatin1String(kAccount),
          QLatin1String(kAccount),
          QLatin1String(kFolderId),
          QLatin1String(kContentId),
          archive};
}

bool UploadStored(const Run& run) {
  return run.ok && run.output.contains(QByteArray("<contentID>") + kContentId + "</contentID>");
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Writes a curl configuration that posts the archive the way the uploader's protocol cuts it: one
// HTTP/1.0 request, on a connection of its own, per 512 KiB block, one after the other, to the
// sink route. The blocks are written to files beside the archive.
bool WriteBlockConfig(const QString& archive, const QString& folder, const Server& server,
                      QString* config) {
  constexpr qint64 kBlock = 512 * 1024;
  QFile in(archive);
  if (!in.open(QIODevice::ReadOnly)) return false;
  QDir dir(folder);
  if (!dir.mkpath(QStringLiteral("blocks"))) return false;
  *config = dir.filePath(QStringLiteral("blocks.curlrc"));
  QFile out(*config);
  if (!out.open(QIODevice::WriteOnly)) return false;
  const QByteArray url = server.Url("/sink").toUtf8();
  for (int index = 0; !in.atEnd(); ++index) {
    const QByteArray bytes = in.read(kBlock);
    const QString name = dir.filePath(QStringLiteral("blocks/%1").arg(index));
    QFile block(name);
    if (!block.open(QIODevice::WriteOnly) || block.write(bytes) != bytes.size()) return false;
    out.write("upload-file = \"" + QFile::encodeName(name) + "\"\nurl = \"" + url +
              "\"\noutput = \"/dev/null\"\n");
  }
  return out.error() == QFileDevice::NoError;
}

bool Throughput(const QString& mavo, const Server& server, const QString& folder, int rounds) {
  const QString archive = QDir(folder).filePath(QStringLiteral("throughput.zip"));
  if (!MakeArchive(folder, QStringLiteral("throughput.zip"), kThroughputBytes)) {
    std::fprintf(stderr, "cannot make the 256 MiB archive (is zip installed?)\n");
    return false;
  }
  const double mib = double(QFile(archive).size()) / double(kMiB);
  const QString out = QDir(folder).filePath(QStringLiteral("run.out"));
  const QStringList curl = {QStringLiteral("curl"),
                            QStringLiteral("-s"),
                            QStringLiteral("-S"),
                            QStringLiteral("-X"),
                            QStringLiteral("POST"),
                            QStringLiteral("-T"),
                            archive,
                            server.Url("/sink")};
  QString blockConfig;
  if (!WriteBlockConfig(archive, folder, server, &blockConfig)) {
    std::fprintf(stderr, "cannot cut the archive into blocks\n");
    return false;
  }
  const QStringList curlBlocks = {QStringLiteral("curl"), QStringLiteral("-s"),
                                  QStringLiteral("-S"),   QStringLiteral("-0"),
                                  QStringLiteral("-K"),   blockConfig};
  // One unmeasured upload first: the first run pays for loading libraries and for the server's
  // first content file.
  const Run warmUp = RunMeasured(MavoPutFile(mavo, server, archive), out);
  if (!UploadStored(warmUp)) {
    std::fprintf(stderr, "mavo putfile failed: %s\n", warmUp.output.right(400).constData());
    return false;
  }
  std::printf("throughput: %.1f MiB archive, %d rounds, load average %.1f\n", mib, rounds,
              LoadAverage());
  std::printf("%6s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n", "round", "curl s", "curl cpu", "srv cpu",
              "mavo s", "mavo cpu", "srv cpu", "bare s", "srv cpu", "blocks s");
  std::vector<double> curlTimes;
  std::vector<double> mavoTimes;
  std::vector<double> bareTimes;
  std::vector<double> blockTimes;
  for (int round = 1; round <= rounds; ++round) {
    const Measured sink = MeasureWithServer(server, curl, out);
    const QByteArray expected = "<bytes>" + QByteArray::number(QFile(archive).size()) + "</bytes>";
    if (!sink.run.ok || !sink.run.output.contains(expected)) {
      std::fprintf(stderr, "curl to /sink failed: %s\n", sink.run.output.constData());
      return false;
    }
    const Measured upload = MeasureWithServer(server, MavoPutFile(mavo, server, archive), out);
    if (!UploadStored(upload.run)) {
      std::fprintf(stderr, "mavo putfile failed: %s\n", upload.run.output.right(400).constData());
      return false;
    }
    const Measured bare = MeasureWithServer(server, BarePutFile(server, archive), out);
    if (!UploadStored(bare.run)) {
      std::fprintf(stderr, "bare_putfile failed: %s\n", bare.run.output.right(400).constData());
      return false;
    }
    const Run blocks = RunMeasured(curlBlocks, out);
    if (!blocks.ok) {
      std::fprintf(stderr, "curl posting blocks to /sink failed: %s\n", blocks.output.constData());
      return false;
    }
    curlTimes.push_back(sink.run.seconds);
    mavoTimes.push_back(upload.run.seconds);
    bareTimes.push_back(bare.run.seconds);
    blockTimes.push_back(blocks.seconds);
    std::printf("%6d %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f\n", round,
                sink.run.seconds, sink.run.cpuSeconds, sink.serverCpu, upload.run.seconds,
                upload.run.cpuSeconds, upload.serverCpu, bare.run.seconds, bare.serverCpu,
                blocks.seconds);
  }
  const double bareMedian = Median(bareTimes);
  const double blockMedian = Median(blockTimes);
  const double curlMedian = Median(curlTimes);
  const double mavoMedian = Median(mavoTimes);
  const double curlBest = *std::min_element(curlTimes.begin(), curlTimes.end());
  const double mavoBest = *std::min_element(mavoTimes.begin(), mavoTimes.end());
  std::printf("median: curl %.3f s (%.0f MiB/s), mavo %.3f s (%.0f MiB/s), ratio %.2f\n",
              curlMedian, mib / curlMedian, mavoMedian, mib / mavoMedian, curlMedian / mavoMedian);
  std::printf("best:   curl %.3f s (%.0f MiB/s), mavo %.3f s (%.0f MiB/s), ratio %.2f\n", curlBest,
              mib / curlBest, mavoBest, mib / mavoBest, curlBest / mavoBest);
  std::printf("goal: mavo at least %.1f of curl's throughput (median): %s\n", kThroughputGoal,
              curlMedian / mavoMedian >= kThroughputGoal ? "met" : "NOT met");
  // The same bytes cut into the protocol's requests, sent by curl and stored nowhere: what the
  // request pattern itself costs on this machine, whoever the client.
  std::printf(
      "blocks: curl posting the %lld blocks to /sink, one HTTP/1.0 request each: median "
      "%.3f s (%.0f MiB/s), %.2f of one post; mavo reaches %.2f of it\n",
      static_cast<long long>((QFile(archive).size() + 512 * 1024 - 1) / (512 * 1024)), blockMedian,
      mib / blockMedian, curlMedian / blockMedian, blockMedian / mavoMedian);
  // The same requests from plain sockets to the same route: what the server's storing costs.
  std::printf(
      "bare: a plain-socket client sending the same requests to /mavo/putFile/: median "
      "%.3f s (%.0f MiB/s), %.2f of one post; mavo reaches %.2f of it\n",
      bareMedian, mib / bareMedian, curlMedian / bareMedian, bareMedian / mavoMedian);
  QFile::remove(archive);
  QDir(QDir(folder).filePath(QStringLiteral("blocks"))).removeRecursively();
  QFile::remove(blockConfig);
  return true;
}

bool Memory(const QString& mavo, const Server& server, const QString& folder) {
  long peak[2] = {0, 0};
  const qint64 sizes[2] = {kSmallBytes, kLargeBytes};
  const QString out = QDir(folder).filePath(QStringLiteral("run.out"));
  for (int i = 0; i < 2; ++i) {
    const QString name = QStringLiteral("memory%1.zip").arg(i);
    if (!MakeArchive(folder, name, sizes[i])) {
      std::fprintf(stderr, "cannot make the %lld MiB archive\n", sizes[i] / kMiB);
      return false;
    }
    const QString archive = QDir(folder).filePath(name);
    // Twice each; the larger peak counts.
    for (int repeat = 0; repeat < 2; ++repeat) {
      const Run run = RunMeasured(MavoPutFile(mavo, server, archive), out);
      if (!UploadStored(run)) {
        std::fprintf(stderr, "mavo putfile failed: %s\n", run.output.right(400).constData());
        return false;
      }
      peak[i] = std::max(peak[i], run.maxRssKiB);
    }
    QFile::remove(archive);
    std::printf("memory: %5lld MiB archive, mavo peak resident %ld KiB\n", sizes[i] / kMiB,
                peak[i]);
  }
  const long apart = std::labs(peak[1] - peak[0]);
  std::printf("memory: %ld KiB apart; goal less than %ld KiB: %s\n", apart, kMemoryGoalKiB,
              apart < kMemoryGoalKiB ? "met" : "NOT met");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int rounds = 5;
  QString only;
  QString work;
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--rounds") && i + 1 < args.size()) {
      rounds = std::max(1, args[++i].toInt());
    } else if (args[i] == QLatin1String("--only") && i + 1 < args.size()) {
      only = args[++i];
    } else if (args[i] == QLatin1String("--work") && i + 1 < args.size()) {
      work = args[++i];
    } else {
      std::fprintf(stderr,
                   "usage: upload_bench [--rounds N] [--only throughput|memory] [--work DIR]\n");
      return 2;
    }
  }
  const QDir programDir(QStringLiteral(CLIPFERRY_BUILD_PROGRAM_DIR));
  const QString mavo = programDir.filePath(QStringLiteral("mavo"));
  const QString kqserver = programDir.filePath(QStringLiteral("kqserver"));
  QTemporaryDir folder(work.isEmpty() ? QDir::temp().filePath(QStringLiteral("upload_bench-XXXXXX"))
                                      : QDir(work).filePath(QStringLiteral("upload_bench-XXXXXX")));
  if (!folder.isValid()) {
    std::fprintf(stderr, "cannot make a work folder\n");
    return 1;
  }
  // mavo registers the control for its user; keep that out of the real home folder.
  const QByteArray home = QFile::encodeName(folder.filePath(QStringLiteral("home")));
  QDir().mkpath(folder.filePath(QStringLiteral("home")));
  setenv("HOME", home.constData(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
  setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
  setenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()).constData(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);

  Server server;
  if (!server.Start(kqserver, folder.path())) {
    std::fprintf(stderr, "cannot start %s\n", qPrintable(kqserver));
    return 1;
  }
  bool ok = true;
  if (only.isEmpty() || only == QLatin1String("throughput"))
    ok = Throughput(mavo, server, folder.path(), rounds) && ok;
  if (only.isEmpty() || only == QLatin1String("memory"))
    ok = Memory(mavo, server, folder.path()) && ok;
  return ok ? 0 : 1;
}
