#include "app/cli/CliCommands.h"

#include "app/queue/ProgramIdentity.h"
#include "app/services/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

void CliCommands::Register(const QString& name, const QString& usage, const QString& summary,
                           Handler handler) {
  commands_.push_back({name, usage, summary, std::move(handler)});
}

void CliCommands::PrintUsage(std::FILE* to) const {
  std::fprintf(to, "usage: clipferry-cli [--program-folder DIR] COMMAND [ARGUMENTS]\n");
  std::fprintf(to, "       clipferry-cli --version | --help | COMMAND --help\n\n");
  for (const Command& command : commands_) {
    std::fprintf(to, "  %-40s %s\n", qPrintable(command.usage), qPrintable(command.summary));
  }
}

bool CliCommands::AsksForHelp(const QStringList& arguments) {
  for (const QString& argument : arguments) {
    if (argument == QLatin1String("--")) return false;
    if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) return true;
  }
  return false;
}

int CliCommands::Run(const QStringList& arguments) const {
  QStringList rest;
  QString programFolder;
  bool optionsEnded = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (!optionsEnded && argument == QLatin1String("--")) {
      optionsEnded = true;
      rest.append(argument);
    } else if (!optionsEnded && argument == QLatin1String("--program-folder")) {
      if (i + 1 >= arguments.size()) {
        std::fprintf(stderr, "clipferry-cli: --program-folder needs a folder\n");
        return kUsageError;
      }
      programFolder = arguments[++i];
    } else if (!optionsEnded && argument.startsWith(QLatin1String("--program-folder="))) {
      programFolder = argument.section(QLatin1Char('='), 1);
    } else {
      rest.append(argument);
    }
  }
  if (!programFolder.isEmpty()) {
    if (!QFileInfo(programFolder).isDir()) {
      std::fprintf(stderr, "clipferry-cli: no such folder: %s\n", qPrintable(programFolder));
      return kUsageError;
    }
    SetProgramFolder(QDir(programFolder).absolutePath());
  }
  if (rest.isEmpty()) {
    PrintUsage(stderr);
    return kUsageError;
  }
  // Asked for, help is the answer and goes to standard output.
  if (rest.first() == QLatin1String("--help") || rest.first() == QLatin1String("-h") ||
      rest.first() == QLatin1String("help")) {
    PrintUsage(stdout);
    return 0;
  }
  if (rest.first() == QLatin1String("--version")) {
    std::printf("clipferry-cli %s\n", qPrintable(ProgramIdentity::Version()));
    return 0;
  }
  const QString name = rest.takeFirst();
  for (const Command& command : commands_) {
    if (command.name != name) continue;
    if (AsksForHelp(rest)) {
      std::printf("usage: clipferry-cli %s\n  %s\n", qPrintable(command.usage),
                  qPrintable(command.summary));
      return 0;
    }
    return command.handler(rest);
  }
  std::fprintf(stderr, "clipferry-cli: unknown command \"%s\"\n\n", qPrintable(name));
  PrintUsage(stderr);
  return kUsageError;
}
