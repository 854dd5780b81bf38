#include "tools/updater/UpdateApplier.h"

#include "app/services/ProgramFolder.h"
#include "app/services/modGlobal.h"
#include "app/updater/ArchiveGuard.h"
#include "app/updater/modUpdate.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <filesystem>

#include <pugixml.hpp>

namespace {

constexpr int kUnzipTimeoutMs = 10 * 60 * 1000;
constexpr const char* kStagingName = "staging";
constexpr const char* kBackupName = "backup";
constexpr const char* kNewSuffix = ".kqnew";

// Whether `path` lies inside `root`, both resolved through any links that exist.
bool ResolvesInside(const QString& root, const QString& path) {
  QString existing = path;
  while (!QFileInfo::exists(existing)) existing = QFileInfo(existing).absolutePath();
  const QString resolved = QFileInfo(existing).canonicalFilePath();
  const QString base = QFileInfo(root).canonicalFilePath();
  return !resolved.isEmpty() && !base.isEmpty() &&
         (resolved == base || resolved.startsWith(base + QLatin1Char('/')));
}

bool ReplaceAtomically(const QString& source, const QString& target, QString* error) {
  const QString fresh = target + QLatin1String(kNewSuffix);
  QFile::remove(fresh);
  if (!QFile::copy(source, fresh)) {
    *error = QStringLiteral("Cannot write %1.").arg(fresh);
    return false;
  }
  std::error_code failure;
  std::filesystem::rename(fresh.toStdString(), target.toStdString(), failure);
  if (failure) {
    QFile::remove(fresh);
    *error = QStringLiteral("Cannot replace %1: %2")
                 .arg(target, QString::fromStdString(failure.message()));
    return false;
  }
  return true;
}

// The digest the saved version list gives for a version's patch; empty when none.
QString ListedSha256(const QString& updateFolder, const QString& ver) {
  pugi::xml_document doc;
  const QString path = JoinPath(updateFolder, QString::fromLatin1(kVerListXmlName));
  if (!doc.load_file(path.toLocal8Bit().constData())) return {};
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

bool UpdateApplier::Apply() {
  applied_.clear();
  created_.clear();
  error_.clear();
  if (!QFileInfo(programFolder_).isDir()) {
    return Fail(QStringLiteral("The program folder %1 does not exist.").arg(programFolder_));
  }
  const QString staging = JoinPath(updateFolder_, QString::fromLatin1(kStagingName));
  const QString backups = JoinPath(updateFolder_, QString::fromLatin1(kBackupName));
  if (RecreateFolder(staging) != 0 || RecreateFolder(backups) != 0) {
    return Fail(QStringLiteral("Cannot prepare the folders of %1.").arg(updateFolder_));
  }
  if (!Stage(staging)) return false;
  if (!CopyOnto(staging)) {
    RollBack(backups);
    return false;
  }
  return true;
}

bool UpdateApplier::Stage(const QString& staging) {
  QStringList versions;
  if (!ReadVersionLines(JoinPath(updateFolder_, QString::fromLatin1(kVerListTxtName)), &versions)) {
    return Fail(QStringLiteral("The list of versions to apply cannot be read."));
  }
  if (versions.isEmpty()) return Fail(QStringLiteral("There are no versions to apply."));
  for (const QString& ver : std::as_const(versions)) {
    if (!StagePatch(ver, staging)) return false;
  }
  QString problem;
  if (!ArchiveGuard::HoldsOnlyPlainFiles(staging, &problem)) return Fail(problem);
  return true;
}

bool UpdateApplier::StagePatch(const QString& ver, const QString& staging) {
  // The version names a folder of the update folder; only a plain number may.
  if (!IsPlainVersion(ver)) return Fail(QStringLiteral("Refused version name: %1").arg(ver));
  const QString patch = JoinPath(JoinPath(updateFolder_, ver), QString::fromLatin1(kPatchName));
  if (!QFileInfo(patch).isFile())
    return Fail(QStringLiteral("The patch of v.%1 is missing.").arg(ver));
  const QString expected = ListedSha256(updateFolder_, ver);
  QString actual;
  if (!expected.isEmpty() && (!FileSha256(patch, &actual) || actual != expected)) {
    return Fail(QStringLiteral("The patch of v.%1 does not match the update list.").arg(ver));
  }
  QString problem;
  if (!ArchiveGuard::CheckEntries(patch, &problem)) return Fail(problem);
  QProcess unzip;
  unzip.setProgram(ArchiveGuard::UnzipProgram());
  unzip.setArguments(
      {QStringLiteral("-o"), QStringLiteral("-q"), patch, QStringLiteral("-d"), staging});
  unzip.setStandardInputFile(QProcess::nullDevice());
  unzip.setProcessChannelMode(QProcess::MergedChannels);
  unzip.start();
  if (!unzip.waitForFinished(kUnzipTimeoutMs) || unzip.exitStatus() != QProcess::NormalExit ||
      unzip.exitCode() != 0) {
    unzip.kill();
    return Fail(QStringLiteral("The patch of v.%1 could not be unpacked: %2")
                    .arg(ver, QString::fromLocal8Bit(unzip.readAll()).trimmed()));
  }
  return true;
}

bool UpdateApplier::CopyOnto(const QString& staging) {
  const QDir from(staging);
  const QString backups = JoinPath(updateFolder_, QString::fromLatin1(kBackupName));
  QStringList sources;
  QDirIterator it(staging, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) sources.append(it.next());
  // A fixed order makes a failed update fail the same way every time.
  sources.sort();
  for (const QString& source : std::as_const(sources)) {
    const QString relative = from.relativeFilePath(source);
    const QString target = QDir::cleanPath(JoinPath(programFolder_, relative));
    if (relative.startsWith(QLatin1String("..")) ||
        !ResolvesInside(programFolder_, QFileInfo(target).absolutePath())) {
      return Fail(QStringLiteral("Refused to write outside the program folder: %1").arg(relative));
    }
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
      return Fail(QStringLiteral("Cannot create the folder of %1.").arg(target));
    }
    const QFileInfo existing(target);
    if (existing.isSymLink() || existing.isDir()) {
      return Fail(QStringLiteral("Refused to replace %1: it is not a plain file.").arg(target));
    }
    if (existing.exists()) {
      const QString backup = JoinPath(backups, relative);
      QDir().mkpath(QFileInfo(backup).absolutePath());
      if (!QFile::copy(target, backup)) {
        return Fail(QStringLiteral("Cannot keep a copy of %1 before replacing it.").arg(target));
      }
    } else {
      created_.append(relative);
    }
    QString problem;
    if (!ReplaceAtomically(source, target, &problem)) {
      created_.removeAll(relative);
      return Fail(problem);
    }
    applied_.append(relative);
  }
  if (applied_.isEmpty()) return Fail(QStringLiteral("The patches hold no files."));
  return true;
}

void UpdateApplier::RollBack(const QString& backups) {
  QString ignored;
  for (const QString& relative : std::as_const(applied_)) {
    const QString target = JoinPath(programFolder_, relative);
    if (created_.contains(relative)) {
      QFile::remove(target);
    } else {
      ReplaceAtomically(JoinPath(backups, relative), target, &ignored);
    }
  }
  applied_.clear();
}
