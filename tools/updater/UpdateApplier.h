#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Lays the downloaded patches of an update folder onto the program folder. The versions come
// from verList.txt, oldest first. Every patch.zip is checked (digest, entry names, no links)
// before anything is written; each is then unpacked into its own empty folder, and only when all
// of them unpacked cleanly are the files copied over (a later patch wins over an earlier one),
// each one replaced atomically and never through a link. A failure while copying puts back every
// file already replaced, so the program folder is either patched whole or unchanged.
class UpdateApplier {
 public:
  UpdateApplier(QString updateFolder, QString programFolder);

  // False with ErrorText() set when nothing was changed (or every change was undone).
  bool Apply();

  QString ErrorText() const { return error_; }
  // Program-folder-relative paths of the files written by the last Apply.
  QStringList AppliedFiles() const { return applied_; }

 private:
  bool CheckPatch(const QString& ver);
  bool StagePatch(const QString& ver, const QString& staging);
  bool Collect(const QString& staging, const QStringList& versions);
  bool CopyOnto(const QString& backups);
  void RollBack(const QString& backups);
  bool Fail(const QString& text);
  QString PatchPath(const QString& ver) const;

  QString updateFolder_;
  QString programFolder_;
  QString error_;
  QMap<QString, QString> files_;  // program-folder-relative path -> staged file
  QStringList applied_;
  QStringList created_;         // files that did not exist before
  QStringList createdFolders_;  // folders made for them, outermost first
};
