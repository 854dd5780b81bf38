#include "app/media/ProcessRunner.h"

#include "app/media/OutputFollower.h"
#include "app/media/RunContext.h"
#include "app/media/RunLog.h"
#include "app/services/ProgramFolder.h"
#include "platform/codepage/CodePage.h"
#include "platform/process/ChildProcess.h"
#include "platform/process/CommandLine.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <unistd.h>

namespace {

// How often a wait looks at the cancel flags; well inside the second a user waits after Stop.
constexpr int kCancelPollMs = 50;

// Splits a byte stream into text without cutting a multi-byte character in two: an incomplete
// UTF-8 sequence at the end of a chunk waits for the next one.
class ChunkDecoder {
 public:
  ChunkDecoder()
      : utf8_(cf::codepage::ActiveCodePage().compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) ==
              0) {}

  QString Decode(const QByteArray& bytes, bool last) {
    QByteArray data = pending_ + bytes;
    pending_.clear();
    if (utf8_ && !last) {
      const qsizetype keep = IncompleteTail(data);
      pending_ = data.right(keep);
      data.chop(keep);
    }
    return cf::codepage::FromAnsi(data);
  }

 private:
  static qsizetype IncompleteTail(const QByteArray& data) {
    const qsizetype size = data.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
      const auto byte = static_cast<unsigned char>(data[size - back]);
      if ((byte & 0xC0) == 0x80) continue;  // continuation byte: look further back
      int needed = 1;
      if ((byte & 0xE0) == 0xC0)
        needed = 2;
      else if ((byte & 0xF0) == 0xE0)
        needed = 3;
      else if ((byte & 0xF8) == 0xF0)
        needed = 4;
      return needed > back ? back : 0;
    }
    return 0;
  }

  bool utf8_;
  QByteArray pending_;
};

// Waits in a nested event loop until `done` says so, checking `cancel` every few milliseconds.
template <typename Done>
void WaitFor(QEventLoop& loop, const Done& done) {
  QTimer poll;
  poll.setInterval(kCancelPollMs);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start();
  if (!done()) loop.exec();
}

void EndChild(ChildProcess& child) {
  child.Terminate();
  QEventLoop loop;
  QObject::connect(&child, &ChildProcess::finished, &loop, &QEventLoop::quit);
  WaitFor(loop, [&] { return !child.IsRunning(); });
}

class CapturedRun {
 public:
  CapturedRun(bool keepDosOutput, RunContext& context)
      : keepDosOutput_(keepDosOutput), context_(context), follower_(context) {}

  QString Run(const QString& commandLine) {
    ChildProcess child;
    ChildProcess::Options options;
    options.programFolder = ProgramFolder();
    options.workingFolder = context_.workingFolder;
    options.output = ChildProcess::Output::Captured;
    options.belowNormalPriority = context_.belowNormalPriority;
    context_.outputText.clear();
    if (!child.Start(commandLine, options)) {
      qWarning("RunCaptured: %s", qPrintable(child.ErrorText()));
      // The caller's step fails with this text; no box from here.
      context_.stepResult = 0;
      context_.errorText = QStringLiteral("CreateProcess failed");
      Finish();
      return context_.outputText;
    }
    context_.processId = child.ProcessId();
    context_.remainingText = QStringLiteral("--");
    clock_.start();

    QEventLoop loop;
    QObject::connect(&child, &ChildProcess::outputReady, &loop, [&] { Drain(child, false); });
    QObject::connect(&child, &ChildProcess::finished, &loop, [&] {
      Drain(child, true);
      loop.quit();
    });
    WaitFor(loop, [&] {
      if (context_.cancel.cancelled()) stopped_ = true;
      return stopped_ || !child.IsRunning();
    });

    if (stopped_) {
      EndChild(child);
      return context_.outputText;
    }
    Drain(child, true);
    Finish();
    return context_.outputText;
  }

 private:
  void Drain(ChildProcess& child, bool last) {
    while (!stopped_ && child.BytesAvailable() > 0) {
      const QByteArray bytes = child.Read(kChunkBytes);
      if (bytes.isEmpty()) break;
      Follow(bytes, last && child.BytesAvailable() == 0);
    }
    if (last && !stopped_) Follow({}, true);
  }

  void Follow(const QByteArray& bytes, bool last) {
    const QString chunk = decoder_.Decode(bytes, last);
    if (chunk.isEmpty() && bytes.isEmpty()) return;
    const double elapsed = static_cast<double>(clock_.elapsed()) / 1000.0;
    const OutputFollower::Verdict verdict = follower_.Follow(chunk, elapsed);
    if (verdict == OutputFollower::Verdict::DecodeError) {
      context_.stepResult = -3;
      stopped_ = true;
    } else if (verdict == OutputFollower::Verdict::ResampleError) {
      context_.stepResult = -8;
      stopped_ = true;
    }
    if (keepDosOutput_ && savedChunks_ < kDosOutputChunks && !bytes.isEmpty()) {
      ++savedChunks_;
      if (!SaveChunk(bytes)) stopped_ = true;
    }
    if (context_.cancel.cancelled()) stopped_ = true;
  }

  bool SaveChunk(const QByteArray& bytes) {
    QFile file(JoinPath(context_.workFolder, QString::fromLatin1(kDosOutputName)));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size()) {
      return true;
    }
    // The conversion step treats this as an unexpected error; the child is ended with the run.
    context_.stepResult = 0;
    context_.errorText =
        QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString());
    return false;
  }

  void Finish() {
    if (context_.logEnabled) RunLog::Append(ProgramFolder(), context_.outputText);
  }

  bool keepDosOutput_;
  RunContext& context_;
  OutputFollower follower_;
  ChunkDecoder decoder_;
  QElapsedTimer clock_;
  int savedChunks_ = 0;
  bool stopped_ = false;
};

}  // namespace

RunResult RunProcess(const QString& commandLine, const RunOptions& options) {
  RunResult result;
  if (options.cancel.cancelled()) {
    result.cancelled = true;
    return result;
  }
  ChildProcess child;
  ChildProcess::Options childOptions;
  childOptions.programFolder = ProgramFolder();
  childOptions.workingFolder = options.workingFolder;
  childOptions.output = ChildProcess::Output::Discarded;
  if (!child.Start(commandLine, childOptions)) {
    qWarning("RunProcess: %s", qPrintable(child.ErrorText()));
    return result;
  }
  result.started = true;
  QEventLoop loop;
  QObject::connect(&child, &ChildProcess::finished, &loop, &QEventLoop::quit);
  WaitFor(loop, [&] { return options.cancel.cancelled() || !child.IsRunning(); });
  if (options.cancel.cancelled()) {
    result.cancelled = true;
    if (child.IsRunning()) EndChild(child);
  }
  return result;
}

bool RunHidden(const QString& commandLine, const QString& workingFolder) {
  RunOptions options;
  options.workingFolder = workingFolder;
  return !RunProcess(commandLine, options).cancelled;
}

QString RunCaptured(const QString& commandLine, bool keepDosOutput, RunContext& context) {
  CapturedRun run(keepDosOutput, context);
  return run.Run(commandLine);
}

bool ShellRun(const QString& file, const QString& parameters, bool wait) {
  const QString program = CommandLine::ResolveProgram(file, ProgramFolder(), {});
  QString launchProgram = program;
  QStringList arguments;
  if (!program.isEmpty()) {
    QList<CommandLine::Argument> split = CommandLine::Split(QStringLiteral("x ") + parameters);
    split.removeFirst();
    arguments = CommandLine::Expand(split, {});
  } else if (QFileInfo(file).isFile()) {
    // Not a program: the desktop opens it with whatever handles its type.
    launchProgram = CommandLine::ResolveProgram(QStringLiteral("xdg-open"), {}, {});
    arguments = {QFileInfo(file).absoluteFilePath()};
  }
  if (launchProgram.isEmpty()) return false;
  QProcess process;
  process.setProgram(launchProgram);
  process.setArguments(arguments);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  if (!wait) return process.startDetached();
  process.setChildProcessModifier([] { ::setsid(); });
  process.start();
  if (!process.waitForStarted(-1)) return false;
  process.waitForFinished(-1);
  return true;
}
