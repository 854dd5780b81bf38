#include "platform/process/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <dirent.h>

#include <utility>

namespace {

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

bool IsExecutableFile(const QString& path) {
  const QFileInfo info(path);
  return info.isFile() && info.isExecutable();
}

bool EndsWithExe(const QString& name) {
  return name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive) && name.size() > 4;
}

// Turns a "*"/"?" pattern into an anchored expression; everything else matches literally.
QRegularExpression PatternExpression(const QString& pattern) {
  QString expression;
  for (const QChar c : pattern) {
    if (c == QLatin1Char('*')) {
      expression += QLatin1String(".*");
    } else if (c == QLatin1Char('?')) {
      expression += QLatin1Char('.');
    } else {
      expression += QRegularExpression::escape(QString(c));
    }
  }
  // Names on the original platform matched without regard to letter case.
  return QRegularExpression(
      QRegularExpression::anchoredPattern(expression),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
}

// The first name in `folder` that matches `expression` but cannot be given to a program as text:
// its bytes are not UTF-8, so the folder listing leaves it out and no string names it.
QString UnpassableMatch(const QString& folder, const QRegularExpression& expression) {
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (dir == nullptr) return {};
  QString found;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray raw(entry->d_name);
    if (raw == "." || raw == "..") continue;
    const QString name = QFile::decodeName(raw);
    if (QFile::encodeName(name) != raw && expression.match(name).hasMatch()) {
      found = name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

QStringList ExpandOne(const QString& pattern, const QString& folder, QString* error) {
  const qsizetype slash = pattern.lastIndexOf(QLatin1Char('/'));
  const QString folderPart = slash >= 0 ? pattern.left(slash + 1) : QString();
  const QString namePart = pattern.mid(slash + 1);
  // Only the last component may hold wildcards; a folder part with them is taken literally.
  if (namePart.isEmpty() || folderPart.contains(QLatin1Char('*')) ||
      folderPart.contains(QLatin1Char('?'))) {
    return {pattern};
  }
  QString searchFolder = folderPart.isEmpty() ? folder : folderPart;
  if (QDir::isRelativePath(searchFolder) && !folder.isEmpty()) {
    searchFolder = QDir(folder).filePath(searchFolder);
  }
  if (searchFolder.isEmpty()) searchFolder = QDir::currentPath();
  const QDir dir(searchFolder);
  const QStringList names = dir.entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  const QRegularExpression expression = PatternExpression(namePart);
  QStringList matches;
  for (const QString& name : names) {
    if (!expression.match(name).hasMatch()) continue;
    QString match = folderPart + name;
    // A file named like an option must stay a file name for every program.
    if (match.startsWith(QLatin1Char('-'))) match.prepend(QLatin1String("./"));
    matches.append(match);
  }
  if (error != nullptr && error->isEmpty()) {
    // Leaving such a file out would drop it without a word; the start fails instead.
    const QString unpassable = UnpassableMatch(dir.path(), expression);
    if (!unpassable.isEmpty()) {
      *error = QStringLiteral("A file name in %1 is not valid UTF-8 text and cannot be passed: %2")
                   .arg(dir.path(), unpassable);
    }
  }
  if (matches.isEmpty()) return {pattern};
  return matches;
}

QString ExistingProgram(const QString& path) {
  if (IsExecutableFile(path)) return QFileInfo(path).absoluteFilePath();
  return {};
}

QString LookUpBareName(const QString& name, const QString& programFolder) {
  if (!programFolder.isEmpty()) {
    const QString found = ExistingProgram(QDir(programFolder).filePath(name));
    if (!found.isEmpty()) return found;
  }
  const QStringList paths =
      QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
  for (const QString& folder : paths) {
    const QString found = ExistingProgram(QDir(folder).filePath(name));
    if (!found.isEmpty()) return found;
  }
  return {};
}

}  // namespace

QString CommandLine::Quote(const QString& argument, Wrap wrap) {
  if (wrap == Wrap::WhenNeeded && !argument.isEmpty()) {
    bool plain = true;
    for (const QChar c : argument) {
      if (IsBlank(c) || c == QLatin1Char('"') || c == QLatin1Char('*') || c == QLatin1Char('?')) {
        plain = false;
        break;
      }
    }
    if (plain) return argument;
  }
  QString quoted = QStringLiteral("\"");
  int backslashes = 0;
  for (const QChar c : argument) {
    if (c == QLatin1Char('\\')) {
      ++backslashes;
      continue;
    }
    if (c == QLatin1Char('"')) {
      quoted += QString(backslashes * 2 + 1, QLatin1Char('\\')) + QLatin1Char('"');
    } else {
      quoted += QString(backslashes, QLatin1Char('\\')) + c;
    }
    backslashes = 0;
  }
  quoted += QString(backslashes * 2, QLatin1Char('\\')) + QLatin1Char('"');
  return quoted;
}

QString CommandLine::UnpassableReason(const QString& path, bool program) {
  if (path.isEmpty()) return QStringLiteral("The path is empty.");
  if (path.contains(QChar(0))) return QStringLiteral("The path holds a NUL character: ") + path;
  if (!path.startsWith(QLatin1Char('/'))) {
    return QStringLiteral("The path is not absolute: ") + path;
  }
  if (program && path.contains(QLatin1Char('"'))) {
    return QStringLiteral("A program path cannot hold a quote: ") + path;
  }
  bool lost = !path.isValidUtf16();
  if (!lost && path.contains(QChar::ReplacementCharacter)) {
    // Such a path is only real when it exists, or names a new file in a folder that exists.
    const QFileInfo info(path);
    lost = !info.exists() &&
           (info.fileName().contains(QChar::ReplacementCharacter) || !info.dir().exists());
  }
  if (lost) {
    return QStringLiteral("The path is not valid UTF-8 text; rename it: ") + path;
  }
  return {};
}

QList<CommandLine::Argument> CommandLine::Split(const QString& commandLine) {
  QList<Argument> arguments;
  const qsizetype length = commandLine.size();
  qsizetype i = 0;
  while (i < length && IsBlank(commandLine[i])) ++i;
  if (i >= length) return arguments;

  // The program name: quoted up to the next quote, else up to the first blank.
  Argument program;
  if (commandLine[i] == QLatin1Char('"')) {
    ++i;
    while (i < length && commandLine[i] != QLatin1Char('"')) program.text += commandLine[i++];
    if (i < length) ++i;
  } else {
    while (i < length && !IsBlank(commandLine[i])) program.text += commandLine[i++];
  }
  arguments.append(program);
  while (i < length && IsBlank(commandLine[i])) ++i;

  Argument current;
  bool started = false;
  int quoteCount = 0;  // 0 outside quotes, 1 inside
  int backslashes = 0;
  while (i < length) {
    const QChar c = commandLine[i];
    if (IsBlank(c) && quoteCount == 0) {
      arguments.append(current);
      current = Argument();
      started = false;
      backslashes = 0;
      while (i < length && IsBlank(commandLine[i])) ++i;
      continue;
    }
    started = true;
    if (c == QLatin1Char('\\')) {
      current.text += c;
      ++backslashes;
      ++i;
    } else if (c == QLatin1Char('"')) {
      if (backslashes % 2 == 0) {
        current.text.chop(backslashes / 2);
        ++quoteCount;
      } else {
        current.text.chop(backslashes / 2 + 1);
        current.text += QLatin1Char('"');
      }
      ++i;
      backslashes = 0;
      // A run of quotes: every third one is literal; two in a row close the quoted part.
      while (i < length && commandLine[i] == QLatin1Char('"')) {
        if (++quoteCount == 3) {
          current.text += QLatin1Char('"');
          quoteCount = 0;
        }
        ++i;
      }
      if (quoteCount == 2) quoteCount = 0;
    } else {
      if (quoteCount == 0 && (c == QLatin1Char('*') || c == QLatin1Char('?'))) {
        current.isPattern = true;
      }
      current.text += c;
      backslashes = 0;
      ++i;
    }
  }
  if (started) arguments.append(current);
  return arguments;
}

QStringList CommandLine::Expand(const QList<Argument>& arguments, const QString& folder,
                                QString* error) {
  QStringList expanded;
  for (const Argument& argument : arguments) {
    if (argument.isPattern) {
      expanded += ExpandOne(argument.text, folder, error);
    } else {
      expanded.append(argument.text);
    }
  }
  return expanded;
}

QString CommandLine::ResolveProgram(const QString& name, const QString& programFolder,
                                    const QString& workingFolder) {
  if (name.isEmpty()) return {};
  if (name.contains(QLatin1Char('/'))) {
    QString path = name;
    if (QDir::isRelativePath(path)) {
      path = QDir(workingFolder.isEmpty() ? QDir::currentPath() : workingFolder).filePath(path);
    }
    QString found = ExistingProgram(path);
    if (found.isEmpty() && EndsWithExe(path) && !QFileInfo::exists(path)) {
      found = ExistingProgram(path.chopped(4));
    }
    return found;
  }
  QString found = LookUpBareName(name, programFolder);
  if (found.isEmpty() && EndsWithExe(name)) found = LookUpBareName(name.chopped(4), programFolder);
  return found;
}

bool CommandLine::Prepare(const QString& commandLine, const QString& programFolder,
                          const QString& workingFolder, Launch* launch, QString* error) {
  QList<Argument> arguments = Split(commandLine);
  if (arguments.isEmpty()) {
    if (error != nullptr) *error = QStringLiteral("The command line is empty.");
    return false;
  }
  QString program = ResolveProgram(arguments.first().text, programFolder, workingFolder);

  const QString trimmed = commandLine.trimmed();
  if (program.isEmpty() && !trimmed.startsWith(QLatin1Char('"')) &&
      arguments.first().text.contains(QLatin1Char('/'))) {
    // An unquoted path with blanks: try each longer prefix, then split what follows it.
    for (qsizetype blank = trimmed.indexOf(QLatin1Char(' ')); blank >= 0;
         blank = trimmed.indexOf(QLatin1Char(' '), blank + 1)) {
      const qsizetype end = trimmed.indexOf(QLatin1Char(' '), blank + 1);
      const QString candidate = trimmed.left(end < 0 ? trimmed.size() : end);
      program = ResolveProgram(candidate, programFolder, workingFolder);
      if (!program.isEmpty()) {
        arguments = Split(QStringLiteral("x ") + trimmed.mid(candidate.size()));
        break;
      }
    }
  }
  if (program.isEmpty()) {
    if (error != nullptr) {
      *error = QStringLiteral("Program not found: %1").arg(arguments.first().text);
    }
    return false;
  }
  arguments.removeFirst();
  QString expandError;
  QStringList expanded = Expand(arguments, workingFolder, &expandError);
  if (!expandError.isEmpty()) {
    if (error != nullptr) *error = expandError;
    return false;
  }
  launch->program = program;
  launch->arguments = std::move(expanded);
  return true;
}
