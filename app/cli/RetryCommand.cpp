#include "app/cli/RetryCommand.h"

#include "app/cli/CliCommands.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueFile.h"
#include "app/queue/UploadQueue.h"
#include "app/services/ProgramFolder.h"
#include "platform/desktop/SingleInstance.h"

#include <QFileInfo>

#include <cstdio>

namespace {

constexpr char kUsage[] = "usage: clipferry-cli retry PATH | --all-failed\n";

void Fail(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

// Prints what became of each job; the exit code is 1 when a named job was not put back.
int Report(const QByteArray& answer, bool allFailed) {
  int retried = 0;
  int refused = 0;
  for (const QByteArray& line : answer.split('\n')) {
    const QString path = QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    if (line.startsWith("retried ")) {
      std::printf("%s\n", path.toLocal8Bit().constData());
      ++retried;
    } else if (line.startsWith("unknown ")) {
      Fail(QStringLiteral("clipferry-cli retry: no job of the queue has the path ") + path);
      ++refused;
    } else if (line.startsWith("not-failed ")) {
      Fail(QStringLiteral("clipferry-cli retry: the job has not failed: ") + path);
      ++refused;
    }
  }
  std::fflush(stdout);
  if (allFailed && retried == 0) std::printf("no failed job in the queue\n");
  return refused > 0 ? 1 : 0;
}

int Retry(const QStringList& arguments) {
  QStringList paths;
  bool allFailed = false;
  bool optionsEnded = false;
  for (const QString& argument : arguments) {
    if (!optionsEnded && argument == QLatin1String("--")) {
      optionsEnded = true;
    } else if (!optionsEnded && argument == QLatin1String("--all-failed")) {
      allFailed = true;
    } else if (!optionsEnded && argument.startsWith(QLatin1String("--"))) {
      std::fprintf(stderr, "%s", kUsage);
      return CliCommands::kUsageError;
    } else {
      paths << QFileInfo(argument).absoluteFilePath();
    }
  }
  if (allFailed == !paths.isEmpty() || paths.size() > 1) {
    std::fprintf(stderr, "%s", kUsage);
    return CliCommands::kUsageError;
  }

  // A running window owns the queue file and would write over a change made behind its back.
  const QString title = ProgramIdentity::InstanceName();
  if (cf::desktop::SingleInstance::IsRunning(title)) {
    QByteArray answer;
    if (!cf::desktop::SingleInstance::Send(title, cf::QueueCommands::RetryMessage(paths),
                                           &answer)) {
      Fail(
          QStringLiteral("clipferry-cli retry: clipFerry is running but did not answer; "
                         "press Retry in the window."));
      return 1;
    }
    return Report(answer, allFailed);
  }
  const QString queuePath = cf::QueueFile::PathIn(ProgramFolder());
  if (cf::QueueAutoSave::HeldElsewhere(queuePath)) {
    Fail(QStringLiteral("clipferry-cli retry: the queue is being run by another clipferry-cli."));
    return 1;
  }
  cf::UploadQueue queue;
  const cf::QueueFile::LoadResult loaded = cf::QueueFile::Load(queuePath, queue);
  if (loaded != cf::QueueFile::LoadResult::Loaded && loaded != cf::QueueFile::LoadResult::Missing) {
    Fail(QStringLiteral("clipferry-cli retry: cannot read ") + queuePath);
    return 1;
  }
  cf::QueueCommands commands(queue);
  const cf::RetryOutcome outcome = commands.retry(paths);
  if (outcome.retried > 0 && !cf::QueueFile::Save(queuePath, queue)) {
    Fail(QStringLiteral("clipferry-cli retry: cannot write ") + queuePath);
    return 1;
  }
  return Report(outcome.answer, allFailed);
}

}  // namespace

void RegisterRetryCommand(CliCommands& commands) {
  commands.Register(QStringLiteral("retry"), QStringLiteral("retry PATH | --all-failed"),
                    QStringLiteral("put a failed job, or every failed job, back to waiting"),
                    Retry);
}
