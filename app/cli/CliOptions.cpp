#include "app/cli/CliOptions.h"

#include <QFile>

namespace {

// A password file holds one line; anything larger is not one.
constexpr qint64 kMaxPasswordFileBytes = 4096;

}  // namespace

bool CliOptions::Parse(const QStringList& arguments, const QStringList& valued,
                       const QStringList& flagNames, CliOptions* options, QString* error) {
  bool optionsEnded = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (optionsEnded || !argument.startsWith(QLatin1String("--"))) {
      options->positional.append(argument);
      continue;
    }
    if (argument == QLatin1String("--")) {
      optionsEnded = true;
      continue;
    }
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? argument : argument.left(equals);
    if (flagNames.contains(name) && equals < 0) {
      options->flags.insert(name);
    } else if (!valued.contains(name)) {
      *error = QStringLiteral("unknown option %1").arg(name);
      return false;
    } else if (equals >= 0) {
      options->values.insert(name, argument.mid(equals + 1));
    } else if (i + 1 < arguments.size()) {
      options->values.insert(name, arguments[++i]);
    } else {
      *error = QStringLiteral("%1 needs a value").arg(name);
      return false;
    }
  }
  return true;
}

QString CliOptions::Missing(const QStringList& required) const {
  for (const QString& name : required) {
    if (!has(name)) return name + QStringLiteral(" is required");
  }
  return {};
}

bool ReadPassword(const QHash<QString, QString>& values, QString* password, QString* error) {
  if (values.contains(QStringLiteral("--password"))) {
    *password = values.value(QStringLiteral("--password")).trimmed();
    return true;
  }
  if (values.contains(QStringLiteral("--password-file"))) {
    const QString path = values.value(QStringLiteral("--password-file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPasswordFileBytes) {
      *error = QStringLiteral("--password-file: cannot read \"%1\"").arg(path);
      return false;
    }
    const QByteArray content = file.readAll();
    const qsizetype end = content.indexOf('\n');
    *password = QString::fromUtf8(end < 0 ? content : content.left(end)).trimmed();
    return true;
  }
  if (qEnvironmentVariableIsSet("CLIPFERRY_PASSWORD")) {
    *password = qEnvironmentVariable("CLIPFERRY_PASSWORD").trimmed();
    return true;
  }
  *error =
      QStringLiteral("a password is required: --password, --password-file or CLIPFERRY_PASSWORD");
  return false;
}
