#include "platform/desktop/OwnerLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace cf::desktop {
namespace {

struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

int OpenLockFile(const QByteArray& path, int flags) {
  int fd;
  do {
    fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

OwnerLock::OwnerLock(QString path) : path_(std::move(path)) {}

OwnerLock::~OwnerLock() { Unlock(); }

bool OwnerLock::TryLock() {
  if (fd_ >= 0) return true;
  const QByteArray path = QFile::encodeName(path_);
  // An owner that lets go removes the file; a lock taken on the file it just removed would be
  // nobody's business, so the file locked must still be the one the path names.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int fd = OpenLockFile(path, O_RDWR | O_CREAT);
    if (fd < 0) return false;
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      ::close(fd);
      return false;
    }
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
      fd_ = fd;
      return true;
    }
    ::close(fd);
  }
  return false;
}

void OwnerLock::Unlock() {
  if (fd_ < 0) return;
  // Removed while still held, so nobody locks the name between the two steps.
  ::unlink(QFile::encodeName(path_).constData());
  ::close(fd_);
  fd_ = -1;
}

bool OwnerLock::IsHeld(const QString& path) {
  const int fd = OpenLockFile(QFile::encodeName(path), O_RDONLY);
  if (fd < 0) return false;
  struct flock lock = WholeFile(F_WRLCK);
  const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

}  // namespace cf::desktop
