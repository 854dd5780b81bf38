#include "app/cli/FoldersCommand.h"

#include "app/cli/CliCommands.h"
#include "app/cli/CliOptions.h"
#include "app/cli/ServerLogin.h"
#include "app/dialogs/CFolderTree.h"
#include "app/dialogs/FolderReply.h"
#include "app/services/modConfig.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

constexpr char kUsage[] =
    "usage: clipferry-cli folders --url URL --account A [--password P | --password-file FILE]\n"
    "         [--json]\n";

int Folders(const QStringList& arguments) {
  CliOptions options;
  QString why;
  if (CliOptions::Parse(arguments,
                        {QStringLiteral("--url"), QStringLiteral("--account"),
                         QStringLiteral("--password"), QStringLiteral("--password-file")},
                        {QStringLiteral("--json")}, &options, &why)) {
    why = !options.positional.isEmpty()
              ? QStringLiteral("unexpected argument \"%1\"").arg(options.positional.first())
              : options.Missing({QStringLiteral("--url"), QStringLiteral("--account")});
  }
  if (!why.isEmpty()) {
    std::fprintf(stderr, "clipferry-cli folders: %s\n%s", qPrintable(why), kUsage);
    return CliCommands::kUsageError;
  }
  QString password;
  if (!ReadPassword(options.values, &password, &why)) {
    std::fprintf(stderr, "clipferry-cli folders: %s\n", qPrintable(why));
    return CliCommands::kUsageError;
  }
  FolderReply reply;
  bool sentDigest = true;
  if (!LogInToServer(NormalizeServerAddress(options.value(QStringLiteral("--url"))),
                     options.value(QStringLiteral("--account")).trimmed(), password, &reply,
                     &sentDigest)) {
    return 1;
  }
  CFolderTree tree;
  tree.setAdID(reply.caps().adID);
  if (!tree.LoadFolderList(reply.root())) return 1;
  const bool json = options.flags.contains(QStringLiteral("--json"));
  // Position 1 is the tree's root, which is no folder of the server.
  for (int position = 2; position <= tree.Count(); ++position) {
    const CFolderNode* node = tree.At(position);
    const QString path = CFolderTree::PathNames(node).join(QLatin1Char('/'));
    QByteArray line;
    if (json) {
      line = QJsonDocument(QJsonObject{{QStringLiteral("id"), node->ID},
                                       {QStringLiteral("path"), path},
                                       {QStringLiteral("uploadable"), node->Uploadable}})
                 .toJson(QJsonDocument::Compact);
    } else {
      line = QStringList{QString::number(node->ID), path,
                         node->Uploadable ? QStringLiteral("uploadable") : QStringLiteral("-")}
                 .join(QLatin1Char('\t'))
                 .toLocal8Bit();
    }
    std::printf("%s\n", line.constData());
  }
  return 0;
}

}  // namespace

void RegisterFoldersCommand(CliCommands& commands) {
  commands.Register(QStringLiteral("folders"), QStringLiteral("folders --url U --account A"),
                    QStringLiteral("print the account's folders: id, path, uploadable "
                                   "([--password P | --password-file F] [--json])"),
                    Folders);
}
