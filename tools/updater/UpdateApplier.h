#pragma once

#include <QString>
#include <QStringList>

// Lays the downloaded patches of an update folder onto the program folder. The versions come
// from verList.txt, oldest first; each version's patch.zip is checked and unpacked into one
// staging tree (a later patch wins over an earlier one), and only when all of them unpacked
// cleanly are the files copied over, each one replaced atomically. A failure while copying puts
// back every file already replaced, so the program folder is either patched whole or unchanged.
class UpdateApplier {
 public:
  UpdateApplier(QString updateFolder, QString programFolder);

  // False with ErrorText() set when nothing was changed (or every change was undone).
  bool Apply();

  QString ErrorText() const { return error_; }
  // Program-folder-relative paths of the files written by the last Apply.
  QStringList AppliedFiles() const { return applied_; }

 private:
  bool Stage(const QString& staging);
  bool StagePatch(const QString& ver, const QString& staging);
  bool CopyOnto(const QString& staging);
  void RollBack(const QString& backups);
  bool Fail(const QString& text);

  QString updateFolder_;
  QString programFolder_;
  QString error_;
  QStringList applied_;
  QStringList created_;  // files that did not exist before
};
