#pragma once

#include "platform/desktop/OwnerLock.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QString>

#include <functional>
#include <memory>

namespace cf::desktop {

// One running copy per name: a lock file and a local server named after a digest of the name in
// the user's runtime folder. A second copy finds the lock held and the server answering.
// Other processes of the same user can hand the running copy a message through the server and
// get its answer back (the command-line tool passes it the jobs it adds).
class SingleInstance {
 public:
  explicit SingleInstance(const QString& name);
  ~SingleInstance();

  // Takes the name for this process; false when another live copy holds it.
  bool Acquire();
  // True when another copy holds the name now (without taking anything).
  static bool IsRunning(const QString& name);

  // Answers the messages of other processes, on this thread's event loop. Without a handler a
  // message gets an empty answer.
  using Handler = std::function<QByteArray(const QByteArray& message)>;
  void SetHandler(Handler handler) { handler_ = std::move(handler); }

  // Sends one message to the copy holding the name and waits up to `timeoutMs` for its answer.
  // False when no copy answers.
  static bool Send(const QString& name, const QByteArray& message, QByteArray* answer,
                   int timeoutMs = 10000);
  // Largest message either side accepts.
  static constexpr qint64 kMaxMessageBytes = 16 * 1024 * 1024;

 private:
  static QString KeyFor(const QString& name);

  QString key_;
  std::unique_ptr<OwnerLock> lock_;
  void Serve(QLocalSocket* client);

  std::unique_ptr<QLocalServer> server_;
  Handler handler_;
};

}  // namespace cf::desktop
