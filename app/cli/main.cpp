// clipferry-cli: the engine without windows, for unattended use and checks from a shell.

#include "app/cli/AddCommand.h"
#include "app/cli/CliCommands.h"
#include "app/cli/ListCommand.h"
#include "app/cli/ProbeCommand.h"
#include "app/services/MessageService.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
  // The upload control lives in a window, so the program needs a GUI application even where
  // there is no display: it then draws nowhere.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
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

  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  return commands.Run(arguments);
}
