#pragma once

#include "platform/com/Guid.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace cf::com {

// What a control module writes about its one control class when it registers itself.
struct ControlClassInfo {
  CLSID clsid;
  QString description;               // "mavo2 Class"
  QString progId;                    // "Kqmavo2.mavo2.1"
  QString versionIndependentProgId;  // "Kqmavo2.mavo2"
  QString className;                 // "mavo2", the coclass name inside the type library
  Guid typeLibId;
  QString typeLibName;     // "KQMAVO2Lib"
  QString typeLibHelp;     // "kqmavo2 1.0 Type Library"
  QString typeLibVersion;  // "1.0"
  QString modulePath;      // absolute path of the module file
  int bitmapResource = 101;
  QString miscStatus = QStringLiteral("0");
  QString miscStatusContent = QStringLiteral("131473");
};

// The per-user class registry: a tree of keys, each with an optional default value and named
// values, stored as one XML file under the user's config folder. Key paths are written with
// "/" ("CLSID/{...}/InprocServer32"). Every change is written through a lock and a rename, so
// two processes registering at once cannot tear the file.
class ClassRegistry {
 public:
  // The file of the current user: <config>/Quillbox5/classes.xml.
  static QString DefaultPath();

  explicit ClassRegistry(QString filePath = DefaultPath());
  ~ClassRegistry();
  ClassRegistry(const ClassRegistry&) = delete;
  ClassRegistry& operator=(const ClassRegistry&) = delete;

  // Reads the file; a missing file is an empty registry. An unreadable or damaged file is
  // set aside as "<file>.bad" and reported; the registry then starts empty.
  bool Load(QString* error = nullptr);
  bool Save(QString* error = nullptr);

  // Applies `edit` to the freshly loaded file and writes it back, all under the file lock.
  template <typename Edit>
  bool Update(Edit edit, QString* error = nullptr) {
    if (!Lock(error)) return false;
    bool ok = Load(error);
    if (ok) {
      edit(*this);
      ok = Save(error);
    }
    Unlock();
    return ok;
  }

  void CreateKey(const QString& keyPath);
  // Sets the default value (empty `name`) or a named value, creating the key as needed.
  void SetValue(const QString& keyPath, const QString& value, const QString& name = {});
  bool RemoveKey(const QString& keyPath);
  bool HasKey(const QString& keyPath) const;
  std::optional<QString> Value(const QString& keyPath, const QString& name = {}) const;
  QStringList SubKeys(const QString& keyPath) const;

  // Writes and removes the entries of a control class, as its module's registration does.
  void WriteControlClass(const ControlClassInfo& info);
  void RemoveControlClass(const ControlClassInfo& info);

  // Finds the class named by a ProgID ("Kqmavo2.mavo2", following CurVer, or
  // "Kqmavo2.mavo2.1"), a library class name ("KQMAVO2LibCtl.mavo2") or a CLSID text.
  std::optional<CLSID> ResolveClass(const QString& name) const;
  // The registered module file of a class, empty when none.
  QString ModulePath(const CLSID& clsid) const;
  bool IsControl(const CLSID& clsid) const;

  const QString& FilePath() const { return filePath_; }

 private:
  bool Lock(QString* error);
  void Unlock();

  struct Document;
  QString filePath_;
  std::unique_ptr<Document> document_;
};

}  // namespace cf::com
