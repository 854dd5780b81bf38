#include "app/cli/ServerCommand.h"

#include "app/cli/CliCommands.h"
#include "app/services/SettingsStore.h"
#include "app/services/modConfig.h"

#include <cstdio>

namespace {

// Longer than any host name and port; the address is stored in the settings file as it stands.
constexpr int kMaxAddressLength = 300;

int SetServer(const QStringList& arguments) {
  if (arguments.size() != 1 || arguments.first().trimmed().isEmpty() ||
      arguments.first().size() > kMaxAddressLength) {
    std::fprintf(stderr, "usage: clipferry-cli set-server HOST[:PORT]\n");
    return CliCommands::kUsageError;
  }
  const QString address = NormalizeServerAddress(arguments.first());
  if (address.contains(QLatin1Char('/')) || address.contains(QLatin1Char(' '))) {
    std::fprintf(stderr,
                 "clipferry-cli: \"%s\" is not a server address: a host name and a port only\n",
                 qPrintable(arguments.first()));
    return CliCommands::kUsageError;
  }
  WriteSetting(QString::fromLatin1(kSettingsSection), QStringLiteral("serverIP"), address);
  std::printf("serverIP=%s\n", address.toLocal8Bit().constData());
  return 0;
}

}  // namespace

void RegisterServerCommand(CliCommands& commands) {
  commands.Register(QStringLiteral("set-server"), QStringLiteral("set-server HOST[:PORT]"),
                    QStringLiteral("remember the server address the add dialogs start from"),
                    SetServer);
}
