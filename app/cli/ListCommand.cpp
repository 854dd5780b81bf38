#include "app/cli/ListCommand.h"

#include "app/cli/CliCommands.h"
#include "app/queue/QueueFile.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/services/ProgramFolder.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

int List(const QStringList& arguments) {
  const bool json = arguments == QStringList{QStringLiteral("--json")};
  if (!arguments.isEmpty() && !json) {
    std::fprintf(stderr, "clipferry-cli list: unexpected argument \"%s\"\n",
                 qPrintable(arguments.first()));
    std::fprintf(stderr, "usage: clipferry-cli list [--json]\n");
    return CliCommands::kUsageError;
  }
  cf::UploadQueue queue;
  const QString path = cf::QueueFile::PathIn(ProgramFolder());
  QString aside;
  const cf::QueueFile::LoadResult result = cf::QueueFile::Load(path, queue, &aside);
  if (result == cf::QueueFile::LoadResult::Unreadable) {
    std::fprintf(stderr, "clipferry-cli: cannot read %s\n", qPrintable(path));
    return 1;
  }
  if (result == cf::QueueFile::LoadResult::Discarded) {
    std::fprintf(stderr, "clipferry-cli: %s was not a queue file and has been removed\n",
                 qPrintable(path));
    return 1;
  }
  if (result == cf::QueueFile::LoadResult::SetAside) {
    std::fprintf(stderr, "clipferry-cli: %s could not be read; it was kept as %s\n",
                 qPrintable(path), qPrintable(aside));
    return 1;
  }
  for (int i = 1; i <= queue.Count(); ++i) {
    const cf::UploadJob* job = queue.item(i);
    if (json) {
      const QJsonObject fields{
          {QStringLiteral("number"), i},
          {QStringLiteral("state"), cf::StateText(job->live)},
          {QStringLiteral("kind"), cf::QueueGridModel::KindText(job->fileName)},
          {QStringLiteral("title"), job->title},
          {QStringLiteral("server"), job->Url},
          {QStringLiteral("folder"), job->folderName},
          {QStringLiteral("folderId"), job->folderID},
          {QStringLiteral("path"), job->path},
          {QStringLiteral("error"), job->errorText}};
      std::printf("%s\n", QJsonDocument(fields).toJson(QJsonDocument::Compact).constData());
      continue;
    }
    const QString line = QStringList{QString::number(i),
                                     cf::StateText(job->live),
                                     cf::QueueGridModel::KindText(job->fileName),
                                     job->title,
                                     job->Url,
                                     job->folderName,
                                     job->path}
                             .join(QLatin1Char('\t'));
    std::printf("%s\n", line.toLocal8Bit().constData());
  }
  return 0;
}

}  // namespace

void RegisterListCommand(CliCommands& commands) {
  commands.Register(QStringLiteral("list"), QStringLiteral("list [--json]"),
                    QStringLiteral("print the queued jobs: number, state, kind, title, server, "
                                   "folder, path (--json: an object a line)"),
                    List);
}
