// Measures what the front end and the captured runner cost on a real conversion: a 60-second
// 640x360 clip encoded in two passes (a) as the conversion runs it, through RunCaptured and the
// front end, and (b) straight on /usr/bin/ffmpeg with the translated options. Goal: (a) at most
// 5 % slower than (b).
//
//   converter_bench [ROUNDS]

#include "app/media/ProcessRunner.h"
#include "app/media/RunContext.h"
#include "app/services/ProgramFolder.h"
#include "tools/converter/ConverterOptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kClipSeconds = 60;
constexpr double kGoal = 1.05;

QString PassCommand(const QString& converter, const QString& source, const QString& output,
                    int pass) {
  return converter + QStringLiteral(" -y -i \"") + source +
         QStringLiteral(
             "\" -map_chapters -1:0 -acodec libfaac -ac 2 -ab 64k -ar 44100 -vcodec libx264 "
             "-threads 1 "
             "-vsync 1 -s 640x360 -aspect 640:360 -b 500k -r 30 -g 60 -level 30 -coder 1 -flags "
             "+loop "
             "-cmp +chroma -partitions +parti4x4+parti8x8+partp8x8+partb8x8 -me_method umh -subq 7 "
             "-me_range 16 -i_qfactor 0.71 -b_strategy 2 -qcomp 0.6 -qmin 10 -qmax 51 -qdiff 4 -bf "
             "1 "
             "-refs 1 -directpred 1 -trellis 2 -flags2 +bpyramid+mixed_refs+wpred+fastpskip+mbtree "
             "-wpredp 2 -pass ") +
         QString::number(pass) + QStringLiteral(" -passlogfile log \"") + output +
         QStringLiteral("\"");
}

// The same pass, translated once and run straight on the installed converter.
QStringList DirectArguments(const QString& source, const QString& output, int pass) {
  const QString line =
      PassCommand(QStringLiteral("ffmpeg"), QStringLiteral("SRC"), QStringLiteral("OUT"), pass);
  std::vector<std::string> old;
  for (const QString& piece : line.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1)) {
    QString value = piece;
    value.remove(QLatin1Char('"'));
    if (value == QLatin1String("SRC")) value = source;
    if (value == QLatin1String("OUT")) value = output;
    old.push_back(value.toStdString());
  }
  std::vector<std::string> modern;
  std::string error;
  ConverterOptions::Translate(old, &modern, &error);
  QStringList arguments;
  for (const std::string& arg : modern) arguments.append(QString::fromStdString(arg));
  return arguments;
}

bool RunDirect(const QStringList& arguments, const QString& folder) {
  QProcess process;
  process.setWorkingDirectory(folder);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(QStringLiteral("/usr/bin/ffmpeg"), arguments);
  if (!process.waitForStarted(-1)) return false;
  while (process.state() != QProcess::NotRunning) {
    process.waitForReadyRead(-1);
    process.readAll();  // read as the runner does, so the pipe never fills
  }
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Processor time used by finished children (and their reaped children) so far, in milliseconds;
// unlike the wall clock it does not depend on what else the machine is doing.
qint64 ChildrenCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  const QString programFolder =
      qEnvironmentVariable("CLIPFERRY_PROGRAM_DIR", QStringLiteral(CLIPFERRY_BUILD_PROGRAM_DIR));
  SetProgramFolder(programFolder);
  QTemporaryDir folder;
  const QString source = folder.filePath(QStringLiteral("source.mp4"));
  QProcess make;
  make.start(QStringLiteral("/usr/bin/ffmpeg"),
             {"-hide_banner",
              "-loglevel",
              "error",
              "-y",
              "-f",
              "lavfi",
              "-i",
              QStringLiteral("testsrc2=size=640x360:rate=30:duration=%1").arg(kClipSeconds),
              "-f",
              "lavfi",
              "-i",
              QStringLiteral("sine=duration=%1").arg(kClipSeconds),
              "-pix_fmt",
              "yuv420p",
              "-c:v",
              "libx264",
              "-preset",
              "veryfast",
              "-c:a",
              "aac",
              source});
  if (!make.waitForFinished(-1) || make.exitCode() != 0) {
    std::fprintf(stderr, "cannot make the source clip\n");
    return 2;
  }

  qint64 throughRunner = 0;
  qint64 direct = 0;
  qint64 runnerCpu = 0;
  qint64 directCpu = 0;
  for (int round = 0; round < rounds; ++round) {
    // Alternate the order so that caches and clocks favour neither side.
    for (const bool runnerFirst : {round % 2 == 0, round % 2 != 0}) {
      QElapsedTimer clock;
      clock.start();
      const qint64 cpuBefore = ChildrenCpuMs();
      if (runnerFirst) {
        RunContext context;
        context.parseProgress = true;
        context.totalSeconds = kClipSeconds;
        context.workingFolder = folder.path();
        for (const short pass : {1, 2}) {
          context.passNumber = pass;
          RunCaptured(PassCommand(JoinPath(programFolder, QStringLiteral("ffmpeg")), source,
                                  folder.filePath(QStringLiteral("runner.mp4")), pass),
                      false, context);
        }
        if (context.stepResult != 1 || context.percent != 100) {
          std::fprintf(stderr, "the encode through the runner failed:\n%s\n",
                       qPrintable(context.outputText));
          return 2;
        }
        throughRunner += clock.elapsed();
        runnerCpu += ChildrenCpuMs() - cpuBefore;
      } else {
        for (const int pass : {1, 2}) {
          if (!RunDirect(
                  DirectArguments(source, folder.filePath(QStringLiteral("direct.mp4")), pass),
                  folder.path())) {
            std::fprintf(stderr, "the direct encode failed\n");
            return 2;
          }
        }
        direct += clock.elapsed();
        directCpu += ChildrenCpuMs() - cpuBefore;
      }
    }
  }
  const double ratio = static_cast<double>(throughRunner) / static_cast<double>(direct);
  std::printf("two-pass encode of %d s 640x360, %d round(s)\n", kClipSeconds, rounds);
  std::printf("  through RunCaptured and the front end: %8.2f s (processor %8.2f s)\n",
              throughRunner / 1000.0 / rounds, runnerCpu / 1000.0 / rounds);
  std::printf("  straight on /usr/bin/ffmpeg:           %8.2f s (processor %8.2f s)\n",
              direct / 1000.0 / rounds, directCpu / 1000.0 / rounds);
  std::printf("  ratio %.3f (goal at most %.2f): %s\n", ratio, kGoal,
              ratio <= kGoal ? "met" : "missed");
  return ratio <= kGoal ? 0 : 1;
}
