#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// A command's arguments split into options with a value ("--url U" or "--url=U"), flags
// ("--json") and the rest, in order. A lone "--" ends the options.
struct CliOptions {
  QStringList positional;
  QHash<QString, QString> values;
  QSet<QString> flags;

  bool has(const QString& name) const { return values.contains(name) || flags.contains(name); }
  QString value(const QString& name) const { return values.value(name); }
  // "--x is required" for the first of these options that was not given; empty when all were.
  QString Missing(const QStringList& required) const;

  // False with `error` naming the option that is unknown or lacks its value.
  static bool Parse(const QStringList& arguments, const QStringList& valued,
                    const QStringList& flagNames, CliOptions* options, QString* error);
};

// The password of a login, so that it need not stand on a command line other users can read:
// --password P, else the first line of --password-file FILE, else $CLIPFERRY_PASSWORD. False
// with `error` when none gives one or the file cannot be read.
bool ReadPassword(const QHash<QString, QString>& values, QString* password, QString* error);
