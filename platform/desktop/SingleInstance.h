#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QString>

#include <memory>

namespace cf::desktop {

// One running copy per window title: a lock file and a local server named after the full title
// in the user's runtime folder. A second copy finds the lock held and the server answering.
class SingleInstance {
 public:
  explicit SingleInstance(const QString& windowTitle);
  ~SingleInstance();

  // Takes the title for this process; false when another live copy holds it.
  bool Acquire();
  // True when another process holds the title now (without taking it).
  static bool IsRunning(const QString& windowTitle);

 private:
  static QString KeyFor(const QString& windowTitle);

  QString key_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace cf::desktop
