#pragma once

#include <QString>

namespace cf::desktop {

// Marks one process as the owner of something (the running window, a queue file) with a lock on
// a file. The lock belongs to the open file, so the kernel drops it however its owner ends: no
// lock is ever stale, and a new owner needs no guess about a dead process. Asking whether it is
// held takes nothing, so a process that only looks never makes the owner's own attempt fail.
class OwnerLock {
 public:
  explicit OwnerLock(QString path);
  ~OwnerLock();
  OwnerLock(const OwnerLock&) = delete;
  OwnerLock& operator=(const OwnerLock&) = delete;

  // Takes the lock without waiting; false when another holder has it or the file cannot be
  // made. Taking it again while held is true.
  bool TryLock();
  bool IsLocked() const { return fd_ >= 0; }
  // Lets go and removes the file.
  void Unlock();

  // Whether anyone holds the lock on `path`, another lock of this process included.
  static bool IsHeld(const QString& path);

 private:
  QString path_;
  int fd_ = -1;
};

}  // namespace cf::desktop
