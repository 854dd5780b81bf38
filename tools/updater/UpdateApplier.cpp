#include "tools/updater/UpdateApplier.h"

#include "app/services/ProgramFolder.h"
#include "app/updater/ArchiveGuard.h"
#include "app/updater/modUpdate.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <pugixml.hpp>

namespace {

constexpr int kUnzipTimeoutMs = 10 * 60 * 1000;
constexpr const char* kStagingName = "staging";
constexpr const char* kBackupName = "backup";
constexpr const char* kNewSuffix = ".kqnew";
constexpr size_t kCopyChunk = 1 << 16;

QString ErrnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// A file descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(-1); }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Opens the folder that holds `relative` below the program folder one component at a time, never
// following a link, so nothing reached here can lie outside the program folder. Missing folders
// are made when `created` is given (their relative paths appended, outermost first).
bool OpenParent(const QString& root, const QString& relative, QStringList* created,
                Descriptor* parent, QByteArray* name, QString* error) {
  const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  if (parts.isEmpty()) {
    *error = QStringLiteral("Refused an empty file name.");
    return false;
  }
  parent->Reset(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent->valid()) {
    *error = QStringLiteral("Cannot open %1: %2").arg(root, ErrnoText());
    return false;
  }
  QString walked;
  for (int i = 0; i + 1 < parts.size(); ++i) {
    const QByteArray part = QFile::encodeName(parts.at(i));
    walked += (walked.isEmpty() ? QString() : QStringLiteral("/")) + parts.at(i);
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(parent->get(), part.constData(), kFlags);
    if (next < 0 && errno == ENOENT && created != nullptr) {
      if (::mkdirat(parent->get(), part.constData(), 0755) != 0) {
        *error = QStringLiteral("Cannot create the folder %1: %2").arg(walked, ErrnoText());
        return false;
      }
      created->append(walked);
      next = ::openat(parent->get(), part.constData(), kFlags);
    }
    if (next < 0) {
      *error =
          (errno == ELOOP || errno == ENOTDIR)
              ? QStringLiteral("Refused to write through %1: it is not a plain folder.").arg(walked)
              : QStringLiteral("Cannot open the folder %1: %2").arg(walked, ErrnoText());
      return false;
    }
    parent->Reset(next);
  }
  *name = QFile::encodeName(parts.last());
  return true;
}

bool CopyDescriptor(int from, int to) {
  QByteArray buffer(static_cast<qsizetype>(kCopyChunk), Qt::Uninitialized);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), kCopyChunk);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer.constData() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

// Writes `source` beside `name` in the open folder and renames it over `name`: a link standing
// at either name is replaced, never written through.
bool ReplaceAt(int folder, const QByteArray& name, const QString& source, QString* error) {
  const Descriptor in(
      ::open(QFile::encodeName(source).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!in.valid() || ::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = QStringLiteral("Cannot read %1.").arg(source);
    return false;
  }
  const QByteArray fresh = name + kNewSuffix;
  ::unlinkat(folder, fresh.constData(), 0);
  const mode_t mode = info.st_mode & 0777;
  Descriptor out(::openat(folder, fresh.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  const bool written = out.valid() && CopyDescriptor(in.get(), out.get()) &&
                       ::fchmod(out.get(), mode) == 0 && ::fsync(out.get()) == 0;
  const int descriptor = out.Release();
  const int closed = descriptor >= 0 ? ::close(descriptor) : -1;
  if (!written || closed != 0) {
    *error = QStringLiteral("Cannot write %1%2.").arg(QFile::decodeName(name), kNewSuffix);
    ::unlinkat(folder, fresh.constData(), 0);
    return false;
  }
  if (::renameat(folder, fresh.constData(), folder, name.constData()) != 0) {
    *error = QStringLiteral("Cannot replace %1: %2").arg(QFile::decodeName(name), ErrnoText());
    ::unlinkat(folder, fresh.constData(), 0);
    return false;
  }
  return true;
}

// The digest the saved version list gives for a version's patch; empty when none.
QString ListedSha256(const QString& updateFolder, const QString& ver) {
  pugi::xml_document doc;
  const QString path = JoinPath(updateFolder, QString::fromLatin1(kVerListXmlName));
  if (!doc.load_file(QFile::encodeName(path).constData())) return {};
  for (const pugi::xml_node item : doc.document_element().child("list").children("item")) {
    if (QString::fromUtf8(item.child("ver").text().get()).trimmed() == ver) {
      return QString::fromUtf8(item.child("sha256").text().get()).trimmed().toLower();
    }
  }
  return {};
}

}  // namespace

UpdateApplier::UpdateApplier(QString updateFolder, QString programFolder)
    : updateFolder_(std::move(updateFolder)), programFolder_(std::move(programFolder)) {}

bool UpdateApplier::Fail(const QString& text) {
  error_ = text;
  return false;
}

QString UpdateApplier::PatchPath(const QString& ver) const {
  return JoinPath(JoinPath(updateFolder_, ver), QString::fromLatin1(kPatchName));
}

bool UpdateApplier::Apply() {
  applied_.clear();
  created_.clear();
  createdFolders_.clear();
  files_.clear();
  error_.clear();
  if (!QFileInfo(programFolder_).isDir()) {
    return Fail(QStringLiteral("The program folder %1 does not exist.").arg(programFolder_));
  }
  QString problem;
  if (!ArchiveGuard::IsOwnFolder(updateFolder_, &problem)) return Fail(problem);
  QStringList versions;
  if (!ReadVersionLines(JoinPath(updateFolder_, QString::fromLatin1(kVerListTxtName)), &versions)) {
    return Fail(QStringLiteral("The list of versions to apply cannot be read."));
  }
  if (versions.isEmpty()) return Fail(QStringLiteral("There are no versions to apply."));
  // Every patch is checked before any is unpacked: one patch's link must not be in place when
  // the next one is unpacked.
  for (const QString& ver : std::as_const(versions)) {
    if (!CheckPatch(ver)) return false;
  }
  const QString staging = JoinPath(updateFolder_, QString::fromLatin1(kStagingName));
  const QString backups = JoinPath(updateFolder_, QString::fromLatin1(kBackupName));
  if (!ArchiveGuard::MakeFreshFolder(staging, &problem) ||
      !ArchiveGuard::MakeFreshFolder(backups, &problem)) {
    return Fail(problem);
  }
  for (const QString& ver : std::as_const(versions)) {
    if (!StagePatch(ver, staging)) return false;
  }
  if (!Collect(staging, versions)) return false;
  if (!CopyOnto(backups)) {
    RollBack(backups);
    return false;
  }
  return true;
}

bool UpdateApplier::CheckPatch(const QString& ver) {
  // The version names a folder of the update folder; only a plain number may.
  if (!IsPlainVersion(ver)) return Fail(QStringLiteral("Refused version name: %1").arg(ver));
  const QString patch = PatchPath(ver);
  const QFileInfo info(patch);
  if (!info.isFile() || info.isSymLink()) {
    return Fail(QStringLiteral("The patch of v.%1 is missing.").arg(ver));
  }
  const QString expected = ListedSha256(updateFolder_, ver);
  QString actual;
  if (!expected.isEmpty() && (!FileSha256(patch, &actual) || actual != expected)) {
    return Fail(QStringLiteral("The patch of v.%1 does not match the update list.").arg(ver));
  }
  QString problem;
  if (!ArchiveGuard::CheckEntries(patch, &problem)) return Fail(problem);
  return true;
}

bool UpdateApplier::StagePatch(const QString& ver, const QString& staging) {
  // Each patch gets a folder of its own, empty, so nothing an earlier patch left can redirect it.
  const QString folder = JoinPath(staging, ver);
  if (::mkdir(QFile::encodeName(folder).constData(), S_IRWXU) != 0) {
    return Fail(QStringLiteral("Cannot create %1: %2").arg(folder, ErrnoText()));
  }
  QProcess unzip;
  unzip.setProgram(ArchiveGuard::UnzipProgram());
  unzip.setArguments({QStringLiteral("-q"), PatchPath(ver), QStringLiteral("-d"), folder});
  unzip.setStandardInputFile(QProcess::nullDevice());
  unzip.setProcessChannelMode(QProcess::MergedChannels);
  unzip.start();
  if (!unzip.waitForFinished(kUnzipTimeoutMs) || unzip.exitStatus() != QProcess::NormalExit ||
      unzip.exitCode() != 0) {
    unzip.kill();
    return Fail(QStringLiteral("The patch of v.%1 could not be unpacked: %2")
                    .arg(ver, QString::fromLocal8Bit(unzip.readAll()).trimmed()));
  }
  QString problem;
  if (!ArchiveGuard::HoldsOnlyPlainFiles(folder, &problem)) return Fail(problem);
  return true;
}

bool UpdateApplier::Collect(const QString& staging, const QStringList& versions) {
  for (const QString& ver : versions) {
    const QString folder = JoinPath(staging, ver);
    const QDir from(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString source = it.next();
      const QString relative = from.relativeFilePath(source);
      if (!ArchiveGuard::IsSafeEntryName(relative)) {
        return Fail(
            QStringLiteral("Refused to write outside the program folder: %1").arg(relative));
      }
      // Oldest first, so the newest patch's file is the one kept.
      files_.insert(relative, source);
    }
  }
  if (files_.isEmpty()) return Fail(QStringLiteral("The patches hold no files."));
  for (auto it = files_.cbegin(); it != files_.cend(); ++it) {
    for (qsizetype slash = it.key().indexOf(QLatin1Char('/')); slash > 0;
         slash = it.key().indexOf(QLatin1Char('/'), slash + 1)) {
      if (files_.contains(it.key().left(slash))) {
        return Fail(QStringLiteral("The patches hold %1 both as a file and as a folder.")
                        .arg(it.key().left(slash)));
      }
    }
  }
  return true;
}

bool UpdateApplier::CopyOnto(const QString& backups) {
  // The map is sorted, so a failed update fails the same way every time.
  for (auto it = files_.cbegin(); it != files_.cend(); ++it) {
    const QString& relative = it.key();
    Descriptor folder;
    QByteArray name;
    QString problem;
    if (!OpenParent(programFolder_, relative, &createdFolders_, &folder, &name, &problem)) {
      return Fail(problem);
    }
    struct stat info {};
    const bool exists = ::fstatat(folder.get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
      return Fail(QStringLiteral("Refused to replace %1: it is not a plain file.")
                      .arg(JoinPath(programFolder_, relative)));
    }
    if (exists) {
      const QString backup = JoinPath(backups, relative);
      QDir().mkpath(QFileInfo(backup).absolutePath());
      const Descriptor in(
          ::openat(folder.get(), name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
      const Descriptor out(::open(QFile::encodeName(backup).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777));
      if (!in.valid() || !out.valid() || !CopyDescriptor(in.get(), out.get())) {
        return Fail(QStringLiteral("Cannot keep a copy of %1 before replacing it.")
                        .arg(JoinPath(programFolder_, relative)));
      }
    } else {
      created_.append(relative);
    }
    if (!ReplaceAt(folder.get(), name, it.value(), &problem)) {
      created_.removeAll(relative);
      return Fail(problem);
    }
    applied_.append(relative);
  }
  return true;
}

void UpdateApplier::RollBack(const QString& backups) {
  QString ignored;
  for (const QString& relative : std::as_const(applied_)) {
    Descriptor folder;
    QByteArray name;
    if (!OpenParent(programFolder_, relative, nullptr, &folder, &name, &ignored)) continue;
    if (created_.contains(relative)) {
      ::unlinkat(folder.get(), name.constData(), 0);
    } else {
      ReplaceAt(folder.get(), name, JoinPath(backups, relative), &ignored);
    }
  }
  // Innermost first; a folder that is not empty stays.
  for (auto it = createdFolders_.crbegin(); it != createdFolders_.crend(); ++it) {
    Descriptor folder;
    QByteArray name;
    if (OpenParent(programFolder_, *it, nullptr, &folder, &name, &ignored)) {
      ::unlinkat(folder.get(), name.constData(), AT_REMOVEDIR);
    }
  }
  applied_.clear();
  createdFolders_.clear();
}
