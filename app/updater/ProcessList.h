#pragma once

#include <QString>

// The processes of this machine, from /proc.
class ProcessList {
 public:
  // True when another process runs a program of this name (letter case and ".exe" ignored).
  static bool IsRunning(const QString& programName);
  // True when another process runs exactly this executable file.
  static bool IsRunningFrom(const QString& executablePath);

  // The name a process is known by: its executable's file name, else its first argument's.
  static QString NameOf(qint64 pid);
  // Lower case without ".exe", so "kqUpdater.EXE" and "kqupdater" are one name.
  static QString ComparableName(const QString& name);
};
