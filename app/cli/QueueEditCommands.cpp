#include "app/cli/QueueEditCommands.h"

#include "app/cli/CliCommands.h"
#include "app/cli/CliOptions.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueFile.h"
#include "app/queue/QueueRequests.h"
#include "app/queue/UploadQueue.h"
#include "app/services/ProgramFolder.h"
#include "platform/desktop/SingleInstance.h"

#include <QFileInfo>

#include <cstdio>

namespace {

void Fail(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

// Sends the request to the running window, or applies it to the queue file when none runs.
// Returns false (after saying why) when neither took it.
bool Apply(const char* name, const QByteArray& request, cf::QueueRequestResult* result) {
  const QString title = ProgramIdentity::InstanceName();
  if (cf::desktop::SingleInstance::IsRunning(title)) {
    if (!cf::desktop::SingleInstance::Send(title, request, &result->answer) ||
        result->answer.isEmpty()) {
      Fail(QStringLiteral("clipferry-cli %1: clipFerry is running but did not take the request; "
                          "try again or use the window.")
               .arg(QLatin1String(name)));
      return false;
    }
    result->removed = static_cast<int>(result->answer.count("removed "));
    return true;
  }
  const QString path = cf::QueueFile::PathIn(ProgramFolder());
  if (cf::QueueAutoSave::HeldElsewhere(path)) {
    Fail(QStringLiteral("clipferry-cli %1: the queue is being run by another clipferry-cli; try "
                        "again when it has finished.")
             .arg(QLatin1String(name)));
    return false;
  }
  cf::UploadQueue queue;
  QString aside;
  switch (cf::QueueFile::Load(path, queue, &aside)) {
    case cf::QueueFile::LoadResult::Unreadable:
      Fail(QStringLiteral("clipferry-cli %1: cannot read %2").arg(QLatin1String(name), path));
      return false;
    case cf::QueueFile::LoadResult::SetAside:
      Fail(QStringLiteral("clipferry-cli %1: the queue file could not be read; it was kept as %2")
               .arg(QLatin1String(name), aside));
      return false;
    default:
      break;
  }
  cf::QueueCommands commands(queue);
  *result = cf::AnswerQueueRequest(commands, queue, request);
  if (result->removed > 0 && !cf::QueueFile::Save(path, queue)) {
    Fail(QStringLiteral("clipferry-cli %1: cannot write %2").arg(QLatin1String(name), path));
    return false;
  }
  return true;
}

int Remove(const QStringList& arguments) {
  CliOptions options;
  QString why;
  if (CliOptions::Parse(arguments, {}, {}, &options, &why) && options.positional.size() != 1) {
    why = QStringLiteral("one path is taken");
  }
  if (!why.isEmpty()) {
    std::fprintf(stderr, "clipferry-cli remove: %s\nusage: clipferry-cli remove [--] PATH\n",
                 qPrintable(why));
    return CliCommands::kUsageError;
  }
  const QString path = QFileInfo(options.positional.first()).absoluteFilePath();
  cf::QueueRequestResult result;
  if (!Apply("remove", cf::RemoveRequest(path), &result)) {
    return 1;
  }
  std::printf("%s", result.answer.constData());
  return result.removed > 0 ? 0 : 1;
}

int Clear(const QStringList& arguments) {
  if (!arguments.isEmpty()) {
    std::fprintf(stderr, "usage: clipferry-cli clear\n");
    return CliCommands::kUsageError;
  }
  cf::QueueRequestResult result;
  if (!Apply("clear", cf::ClearRequest(), &result)) return 1;
  std::printf("%s", result.answer.constData());
  return 0;
}

}  // namespace

void RegisterQueueEditCommands(CliCommands& commands) {
  commands.Register(QStringLiteral("remove"), QStringLiteral("remove PATH"),
                    QStringLiteral("take a job out of the queue (not while it is being sent)"),
                    Remove);
  commands.Register(QStringLiteral("clear"), QStringLiteral("clear"),
                    QStringLiteral("take every job out of the queue but one being sent"), Clear);
}
