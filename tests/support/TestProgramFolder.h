#pragma once

#include "app/services/ProgramFolder.h"
#include "app/services/modLanguage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A private copy of the program folder for one test: the built resources are copied in, and the
// program's lookups (res.xml, project.xml, templates) go there until the object is destroyed.
class TestProgramFolder {
 public:
  TestProgramFolder() {
    const QByteArray built = qgetenv("CLIPFERRY_PROGRAM_DIR");
    if (!built.isEmpty()) {
      const QDir source(QString::fromLocal8Bit(built));
      for (const QString& name : source.entryList(QDir::Files)) {
        if (name.endsWith(QLatin1String(".xml")) || name.endsWith(QLatin1String(".kqp"))) {
          QFile::copy(source.filePath(name), dir_.filePath(name));
        }
      }
    }
    SetProgramFolder(dir_.path());
    ReloadResStrings();
  }
  ~TestProgramFolder() {
    SetProgramFolder(QString());
    ReloadResStrings();
  }
  TestProgramFolder(const TestProgramFolder&) = delete;
  TestProgramFolder& operator=(const TestProgramFolder&) = delete;

  QString path() const { return dir_.path(); }
  QString filePath(const QString& name) const { return dir_.filePath(name); }

  bool write(const QString& name, const QByteArray& bytes) const {
    QFile file(dir_.filePath(name));
    if (!file.open(QIODevice::WriteOnly)) return false;
    return file.write(bytes) == bytes.size();
  }
  QByteArray read(const QString& name) const {
    QFile file(dir_.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

 private:
  QTemporaryDir dir_;
};
