#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <vector>

// The sub-commands of clipferry-cli. Each subsystem that offers one registers it in main.cpp;
// the options every command shares are read here before the command sees its arguments.
class CliCommands {
 public:
  // Gets the command's own arguments; returns the process exit status.
  using Handler = std::function<int(const QStringList& arguments)>;

  void Register(const QString& name, const QString& usage, const QString& summary, Handler handler);

  // Runs the command named on the command line (arguments without the program name).
  // Shared option: --program-folder DIR (default: the executable's folder). "--help" and
  // "--version" alone, or "--help" among a command's options, print to standard output and give 0.
  int Run(const QStringList& arguments) const;

  // Exit status for a command line that cannot be understood.
  static constexpr int kUsageError = 2;

 private:
  struct Command {
    QString name;
    QString usage;
    QString summary;
    Handler handler;
  };

  void PrintUsage(std::FILE* to) const;
  // "--help" or "-h" before a "--" that ends the options.
  static bool AsksForHelp(const QStringList& arguments);

  std::vector<Command> commands_;
};
