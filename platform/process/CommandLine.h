#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A command line is one string, as callers assemble it: the program, then its arguments, split
// the way console programs of the original platform split them. What that platform left to each
// program's start-up code (wildcard expansion) and to process creation (finding the program) is
// done here too, so the same command lines run unchanged.
class CommandLine {
 public:
  struct Argument {
    QString text;
    // An unquoted "*" or "?" was seen: the argument is a pattern to expand.
    bool isPattern = false;
  };

  // The program and its arguments, ready to start.
  struct Launch {
    QString program;  // absolute path of an existing executable
    QStringList arguments;
  };

  enum class Wrap {
    Always,      // in quotes even when nothing needs them
    WhenNeeded,  // bare when it splits back unchanged without them (no blanks, quotes, wildcards)
  };

  // Quotes one argument so that Split gives it back unchanged: wrapped in quotes, with quotes
  // inside and the backslashes before them escaped. File names here may hold quotes, which must
  // never end a quoted path early and turn the rest of a name into options.
  static QString Quote(const QString& argument, Wrap wrap = Wrap::Always);

  // Why `path` cannot be put into a command line and reach the program as the same file, or empty
  // when it can. Refused: empty, relative paths (a name may start with "-" and read as an option),
  // NUL characters (the program would see a shorter name), text that was not valid UTF-8 on disk
  // (its bytes are lost, so it names another file) and, for the program itself (`program`), a
  // quote, which the program name's rules cannot carry.
  static QString UnpassableReason(const QString& path, bool program = false);

  // Splits a command line. The first element is the program name: it ends at the first blank
  // unless it is quoted, and backslashes in it are plain characters. The rest follow the usual
  // rules: blanks separate, quotes group, 2n backslashes before a quote give n backslashes and
  // a grouping quote, 2n+1 give n backslashes and a literal quote, and a doubled quote inside a
  // quoted part gives one literal quote.
  static QList<Argument> Split(const QString& commandLine);

  // Expands the pattern arguments against `folder`: the last path component may hold "*" and
  // "?"; matches are sorted and keep the folder part as written. A pattern that matches nothing
  // stays as it is. A match that would start with "-" is given as "./name", so no file name ever
  // reaches a program as an option. A matching name that cannot be passed (its bytes on disk are
  // not valid UTF-8) sets `error`: leaving it out would drop a file without a word.
  static QStringList Expand(const QList<Argument>& arguments, const QString& folder,
                            QString* error = nullptr);

  // Finds the program file for a name. A name with a folder is used as given (relative to
  // `workingFolder`); a bare name is looked up in `programFolder` first, then on PATH. A trailing
  // ".exe" is dropped when no file of that name exists. Empty when nothing executable is found.
  static QString ResolveProgram(const QString& name, const QString& programFolder,
                                const QString& workingFolder);

  // Everything above in one step. An unquoted program path holding blanks is tried at each blank
  // from the left, and the first prefix that names a program wins, as process creation did for
  // unquoted paths like /opt/Clip Ferry/ffmpeg. False with `error` set when nothing is found.
  static bool Prepare(const QString& commandLine, const QString& programFolder,
                      const QString& workingFolder, Launch* launch, QString* error);
};
