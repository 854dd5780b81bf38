// clipferry-cli: the engine without windows, for unattended use and checks from a shell.

#include "app/cli/AddCommand.h"
#include "app/cli/CliCommands.h"
#include "app/cli/FoldersCommand.h"
#include "app/cli/ListCommand.h"
#include "app/cli/ProbeCommand.h"
#include "app/cli/QueueEditCommands.h"
#include "app/cli/RetryCommand.h"
#include "app/cli/RunCommand.h"
#include "app/cli/ServerCommand.h"
#include "app/services/MessageService.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
  // The upload control needs a widget to live on; it is never shown, so no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quillbox5"));
  QApplication::setApplicationName(QStringLiteral("clipFerry"));
  // Questions get the answer that changes nothing; what would have been shown is printed.
  SetMessageHandler([](const MessageRequest& request) {
    const QString text = request.title.isEmpty()
                             ? request.text
                             : request.title + QStringLiteral(": ") + request.text;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    switch (request.buttons) {
      case MsgButtons::Ok:
        return MsgAnswer::Ok;
      case MsgButtons::YesNo:
        return MsgAnswer::No;
      case MsgButtons::YesNoCancel:
        return MsgAnswer::Cancel;
    }
    return MsgAnswer::Ok;
  });

  CliCommands commands;
  RegisterProbeCommand(commands);
  RegisterAddCommand(commands);
  RegisterListCommand(commands);
  RegisterQueueEditCommands(commands);
  RegisterFoldersCommand(commands);
  RegisterRunCommand(commands);
  RegisterRetryCommand(commands);
  RegisterServerCommand(commands);

  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  return commands.Run(arguments);
}
