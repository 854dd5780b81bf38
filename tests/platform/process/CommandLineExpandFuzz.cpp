// Wildcard expansion over folders of hostile names: the input is a list of file names, one a line.
// Whatever they hold, no expanded name may reach a program as an option, and every name passed
// must name the file it came from; a name that cannot be passed must stop the start instead.

#include "platform/process/CommandLine.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kMaxNames = 16;

bool IsUtf8(const QByteArray& bytes) { return QString::fromUtf8(bytes).toUtf8() == bytes; }

// Byte-wise, since a listing through QDir leaves out the very names this is about.
void EmptyFolder(const QByteArray& folder) {
  DIR* dir = ::opendir(folder.constData());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    if (name != "." && name != "..") ::unlink((folder + '/' + name).constData());
  }
  ::closedir(dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir root;
  if (!root.isValid()) return 0;
  // QTemporaryDir cannot remove the names this makes; empty the folder before it tries.
  static const bool cleanup = std::atexit([] { EmptyFolder(QFile::encodeName(root.path())); }) == 0;
  (void)cleanup;
  EmptyFolder(QFile::encodeName(root.path()));

  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  bool anyUnpassable = false;
  int made = 0;
  for (const QByteArray& name : input.split('\n')) {
    if (made == kMaxNames) break;
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/') ||
        name.contains('\0') || name.size() > 200) {
      continue;
    }
    const QByteArray path = QFile::encodeName(root.path()) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0600);
    if (fd < 0) continue;
    ::close(fd);
    ++made;
    if (!IsUtf8(name)) anyUnpassable = true;
  }

  auto arguments = CommandLine::Split(QStringLiteral(R"(zip -0 -r -q "x.zip" * -? ?*)"));
  arguments.removeFirst();
  QString error;
  const QStringList expanded = CommandLine::Expand(arguments, root.path(), &error);
  if (anyUnpassable != !error.isEmpty()) __builtin_trap();
  for (qsizetype i = 4; i < expanded.size(); ++i) {
    const QString& argument = expanded[i];
    // A pattern that matched nothing stays as written.
    if (argument == QLatin1String("-?") || argument == QLatin1String("*") ||
        argument == QLatin1String("?*")) {
      continue;
    }
    if (argument.startsWith(QLatin1Char('-'))) __builtin_trap();
    // Joined by hand: QDir::filePath takes a name that starts with ":" for a resource path.
    if (error.isEmpty() && !QFile::exists(root.path() + QLatin1Char('/') + argument)) {
      __builtin_trap();
    }
  }
  return 0;
}
