#pragma once

#include "platform/desktop/OwnerLock.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace cf {

class UploadQueue;

// Keeps the queue file current: every change of the queue is written atomically within
// kDelayMs, so a crash loses at most that much. Changes that come in a burst (a batch add, a
// long removal) share one write, so adding n jobs costs a handful of saves, not n.
//
// The saver also holds the queue file's lock while it runs: a second writer (another
// clipferry-cli) can see that the file has an owner instead of overwriting its jobs.
// Taking the lock, it deletes the kept work that no job of the queue owns.
class QueueAutoSave : public QObject {
  Q_OBJECT

 public:
  static constexpr int kDelayMs = 250;

  QueueAutoSave(UploadQueue& queue, const QString& filePath, QObject* parent = nullptr);
  ~QueueAutoSave() override;

  // Off: changes are not written (the user chose not to keep the queue). Turning it on writes
  // the queue as it stands.
  void setEnabled(bool enabled);
  bool enabled() const { return m_enabled; }

  // Writes a pending change now. False when the write failed.
  bool Flush();

  // Whether a live owner (another process, or another saver here) holds the queue file
  // `filePath`.
  static bool HeldElsewhere(const QString& filePath);

 signals:
  void saveFailed(const QString& filePath);

 private:
  void Changed();

  UploadQueue& m_queue;
  QString m_filePath;
  QTimer m_timer;
  bool m_pending = false;
  bool m_enabled = true;
  cf::desktop::OwnerLock m_lock;
};

}  // namespace cf
