#include "app/queue/KeptWork.h"

#include "app/queue/UploadPackage.h"
#include "app/queue/UploadQueue.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modGlobal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

namespace cf {
namespace {

constexpr char kRootName[] = "kept";
constexpr char kWorkName[] = "work";
constexpr char kArchiveFolderName[] = "archive";
constexpr char kStampName[] = "stamp";
constexpr char kOwnerName[] = "program-folder";
constexpr int kHashDigits = 12;
constexpr int kMaxBaseLength = 40;

// The hash that makes a kept folder's name unique: the job's key is its path.
QString PathHash(const QString& sourcePath) {
  return QString::fromLatin1(
      QCryptographicHash::hash(sourcePath.trimmed().toUtf8(), QCryptographicHash::Sha1)
          .toHex()
          .left(kHashDigits));
}

// The source's base name with everything but letters, digits, '-' and '_' made '_', so that no
// name can climb out of the root, hide itself or read as an option.
QString SafeBaseName(const QString& sourcePath) {
  QString base = QFileInfo(sourcePath.trimmed()).completeBaseName().left(kMaxBaseLength);
  for (QChar& c : base) {
    if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_')) {
      c = QLatin1Char('_');
    }
  }
  if (base.isEmpty() || base.startsWith(QLatin1Char('-'))) base.prepend(QLatin1Char('_'));
  return base;
}

bool IsKeptName(const QString& name) {
  static const QRegularExpression pattern(QStringLiteral("^.+-[0-9a-f]{%1}$").arg(kHashDigits));
  return pattern.match(name).hasMatch();
}

// The root of a program folder: its readable name and the hash of its path.
QString RootName(const QString& programFolder) {
  return SafeBaseName(programFolder) + QLatin1Char('-') + PathHash(programFolder);
}

// Notes in the root which program folder it serves, so that its work can go once that folder
// is gone for good.
void NoteOwner(const QString& root, const QString& programFolder) {
  const QString path = QDir(root).filePath(QLatin1String(kOwnerName));
  if (QFileInfo::exists(path)) return;
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly)) {
    file.write(programFolder.toUtf8());
    file.commit();
  }
}

// A root left by a program folder that was deleted: it names that folder, its own name fits
// the folder, the folder does not exist and the folder around it does. A copy of the program
// on a drive that is not mounted now keeps its work.
bool IsVanishedRoot(const QFileInfo& root) {
  if (root.isSymLink() || !root.isDir()) return false;
  QFile owner(QDir(root.absoluteFilePath()).filePath(QLatin1String(kOwnerName)));
  if (!owner.open(QIODevice::ReadOnly)) return false;
  const QString folder = QString::fromUtf8(owner.read(4096));
  if (folder.isEmpty() || !QDir::isAbsolutePath(folder) || RootName(folder) != root.fileName()) {
    return false;
  }
  const QFileInfo program(folder);
  return !program.exists() && !program.isSymLink() && QFileInfo(program.absolutePath()).isDir();
}

QString SourceText(const UploadJob& job) {
  const QFileInfo source(job.path);
  return QStringLiteral("%1 %2").arg(source.size()).arg(source.lastModified().toSecsSinceEpoch());
}

}  // namespace

QString KeptWork::Root() {
  // One root per program folder: each has its own queue file, and the sweep of one must not take
  // the work of another's jobs (a build beside an installed program, say).
  const QString program = ProgramFolder();
  QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  // Never a folder relative to wherever the program was started.
  if (data.isEmpty()) data = QDir::tempPath();
  return QDir(data).filePath(QStringLiteral("clipferry/") + QLatin1String(kRootName) +
                             QLatin1Char('/') + RootName(program));
}

QString KeptWork::FolderFor(const QString& sourcePath) {
  return QDir(Root()).filePath(SafeBaseName(sourcePath) + QLatin1Char('-') + PathHash(sourcePath));
}

void KeptWork::Discard(const QString& sourcePath) { DeleteFolder(FolderFor(sourcePath)); }

void KeptWork::Sweep(const UploadQueue& queue) {
  const QDir root(Root());
  // The roots of program folders deleted since go whole.
  for (const QFileInfo& other :
       QFileInfo(root.absolutePath())
           .dir()
           .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
    if (other.fileName() != root.dirName() && IsVanishedRoot(other)) {
      DeleteFolder(other.absoluteFilePath());
    }
  }
  if (!root.exists()) return;
  NoteOwner(root.absolutePath(), ProgramFolder());
  QSet<QString> owned;
  for (int row = 1; row <= queue.RowCount(); ++row) {
    const UploadJob* job = queue.AtRow(row);
    if (job->live != JobState::Finished) owned.insert(QFileInfo(FolderFor(job->path)).fileName());
  }
  for (const QFileInfo& entry : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (entry.isSymLink() || !IsKeptName(entry.fileName()) || owned.contains(entry.fileName())) {
      continue;
    }
    DeleteFolder(entry.absoluteFilePath());
  }
}

QString KeptWork::ConversionKey(const UploadJob& job, const QString& videoType, bool sendSource) {
  return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8x%9 %10 %11 %12")
      .arg(job.dstCvtType)
      .arg(job.dstResType)
      .arg(job.dstPostfix)
      .arg(job.customBps)
      .arg(job.bInterlaced ? 1 : 0)
      .arg(job.vBitRate, job.aBitRate)
      .arg(job.videoWidth)
      .arg(job.videoHeight)
      .arg(job.secDuration)
      .arg(videoType)
      .arg(sendSource ? 1 : 0);
}

QString KeptWork::PackingKey(const UploadJob& job, const QString& conversionKey) {
  // Hashed: titles may hold line breaks, which the stamp's lines cannot.
  const QByteArray described =
      (conversionKey + QChar(0) + job.title + QChar(0) + job.Author + QChar(0) + job.fileName)
          .toUtf8();
  return QString::fromLatin1(QCryptographicHash::hash(described, QCryptographicHash::Sha1).toHex());
}

Outcome KeptWork::Open(const UploadJob& job) {
  folder_ = FolderFor(job.path);
  archiveFolder_ = QDir(folder_).filePath(QLatin1String(kArchiveFolderName));
  workFolder_ = job.isProject() ? QString() : QDir(folder_).filePath(QLatin1String(kWorkName));
  stamp_ = ReadStamp();
  const QString source = SourceText(job);
  if (stamp_.source != source) {
    // Made from another version of the file, or never stamped: nothing in it can be trusted.
    DeleteFolder(folder_);
    stamp_ = Stamp{source, {}, {}};
  }
  const bool made = QDir().mkpath(archiveFolder_) &&
                    (workFolder_.isEmpty() || QDir().mkpath(workFolder_)) && WriteStamp();
  if (made) NoteOwner(Root(), ProgramFolder());
  if (!made) {
    return Outcome::Fail(
        QStringLiteral("Error description: the work folder could not be created."));
  }
  return Outcome::Done();
}

bool KeptWork::ReuseConversion(const QString& conversionKey) {
  // A work folder emptied by hand holds nothing to send, whatever the stamp says.
  if (!stamp_.conversion.isEmpty() && stamp_.conversion == conversionKey &&
      !QDir(workFolder_).isEmpty()) {
    return true;
  }
  stamp_.conversion.clear();
  stamp_.packing.clear();
  WriteStamp();
  RecreateFolder(workFolder_);
  RecreateFolder(archiveFolder_);
  return false;
}

void KeptWork::MarkConverted(const QString& conversionKey) {
  stamp_.conversion = conversionKey;
  stamp_.packing.clear();
  WriteStamp();
}

bool KeptWork::ReuseArchive(const QString& packingKey) const {
  return !stamp_.packing.isEmpty() && stamp_.packing == packingKey &&
         QFileInfo(QDir(archiveFolder_).filePath(QLatin1String(UploadPackage::kArchiveName)))
             .isFile();
}

void KeptWork::MarkPacked(const QString& packingKey) {
  stamp_.packing = packingKey;
  WriteStamp();
}

void KeptWork::ForgetArchive() {
  stamp_.packing.clear();
  WriteStamp();
}

KeptWork::Stamp KeptWork::ReadStamp() const {
  Stamp stamp;
  QFile file(QDir(folder_).filePath(QLatin1String(kStampName)));
  if (!file.open(QIODevice::ReadOnly)) return stamp;
  const QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split(QLatin1Char('\n'));
  for (const QString& line : lines) {
    const QString value = line.section(QLatin1Char('='), 1);
    if (line.startsWith(QLatin1String("source="))) stamp.source = value;
    if (line.startsWith(QLatin1String("converted="))) stamp.conversion = value;
    if (line.startsWith(QLatin1String("packed="))) stamp.packing = value;
  }
  return stamp;
}

// Written whole or not at all: a stamp names only steps that completed.
bool KeptWork::WriteStamp() const {
  QSaveFile file(QDir(folder_).filePath(QLatin1String(kStampName)));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QString text = QStringLiteral("source=%1\nconverted=%2\npacked=%3\n")
                           .arg(stamp_.source, stamp_.conversion, stamp_.packing);
  file.write(text.toUtf8());
  return file.commit();
}

}  // namespace cf
