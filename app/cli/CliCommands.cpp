#include "app/cli/CliCommands.h"

#include "app/services/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

void CliCommands::Register(const QString& name, const QString& usage, const QString& summary,
                           Handler handler) {
  commands_.push_back({name, usage, summary, std::move(handler)});
}

void CliCommands::PrintUsage() const {
  std::fprintf(stderr, "usage: clipferry-cli [--program-folder DIR] COMMAND [ARGUMENTS]\n\n");
  for (const Command& command : commands_) {
    std::fprintf(stderr, "  %-40s %s\n", qPrintable(command.usage), qPrintable(command.summary));
  }
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
  if (rest.isEmpty() || rest.first() == QLatin1String("--help") ||
      rest.first() == QLatin1String("-h") || rest.first() == QLatin1String("help")) {
    PrintUsage();
    return rest.isEmpty() ? kUsageError : 0;
  }
  const QString name = rest.takeFirst();
  for (const Command& command : commands_) {
    if (command.name == name) return command.handler(rest);
  }
  std::fprintf(stderr, "clipferry-cli: unknown command \"%s\"\n\n", qPrintable(name));
  PrintUsage();
  return kUsageError;
}
