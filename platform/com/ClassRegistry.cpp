#include "platform/com/ClassRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <pugixml.hpp>

#include <sstream>

namespace cf::com {
namespace {

constexpr char kRootName[] = "classes";
constexpr char kKeyName[] = "key";
constexpr char kValueName[] = "value";
// A bounded file: the registry holds a handful of classes, so anything larger is not ours.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

QStringList SplitPath(const QString& keyPath) {
  return keyPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

std::string Utf8(const QString& text) { return text.toStdString(); }

pugi::xml_node FindChildKey(pugi::xml_node parent, const QString& name) {
  // Key names compare without letter case, as the registry's do.
  for (pugi::xml_node child : parent.children(kKeyName)) {
    if (QString::fromUtf8(child.attribute("name").value()).compare(name, Qt::CaseInsensitive) ==
        0) {
      return child;
    }
  }
  return {};
}

}  // namespace

struct ClassRegistry::Document {
  pugi::xml_document xml;
  std::unique_ptr<QLockFile> lock;

  pugi::xml_node Root() {
    pugi::xml_node root = xml.child(kRootName);
    if (!root) root = xml.append_child(kRootName);
    return root;
  }
  pugi::xml_node Find(const QString& keyPath) const {
    pugi::xml_node node = xml.child(kRootName);
    for (const QString& part : SplitPath(keyPath)) {
      if (!node) return {};
      node = FindChildKey(node, part);
    }
    return node;
  }
  pugi::xml_node FindOrCreate(const QString& keyPath) {
    pugi::xml_node node = Root();
    for (const QString& part : SplitPath(keyPath)) {
      pugi::xml_node child = FindChildKey(node, part);
      if (!child) {
        child = node.append_child(kKeyName);
        child.append_attribute("name").set_value(Utf8(part).c_str());
      }
      node = child;
    }
    return node;
  }
};

QString ClassRegistry::DefaultPath() {
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return QDir(config).filePath(QStringLiteral("Quillbox5/classes.xml"));
}

ClassRegistry::ClassRegistry(QString filePath)
    : filePath_(std::move(filePath)), document_(std::make_unique<Document>()) {}

ClassRegistry::~ClassRegistry() = default;

bool ClassRegistry::Load(QString* error) {
  document_->xml.reset();
  QFile file(filePath_);
  if (!file.exists()) return true;
  QString problem;
  if (!file.open(QIODevice::ReadOnly)) {
    problem =
        QStringLiteral("cannot read the class registry %1: %2").arg(filePath_, file.errorString());
  } else if (file.size() > kMaxFileBytes) {
    problem = QStringLiteral("the class registry %1 is too large").arg(filePath_);
  } else {
    const QByteArray bytes = file.readAll();
    const pugi::xml_parse_result parsed =
        document_->xml.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    if (!parsed || !document_->xml.child(kRootName)) {
      problem = QStringLiteral("the class registry %1 is damaged (%2)")
                    .arg(filePath_, QString::fromUtf8(parsed.description()));
    }
  }
  file.close();
  if (problem.isEmpty()) return true;
  // Registrations can always be written again; keep the damaged file for inspection.
  document_->xml.reset();
  const QString aside = filePath_ + QStringLiteral(".bad");
  QFile::remove(aside);
  QFile::rename(filePath_, aside);
  if (error != nullptr) *error = problem;
  return false;
}

bool ClassRegistry::Save(QString* error) {
  if (!QDir().mkpath(QFileInfo(filePath_).absolutePath())) {
    if (error != nullptr) *error = QStringLiteral("cannot create the folder of %1").arg(filePath_);
    return false;
  }
  document_->Root();
  std::ostringstream out;
  document_->xml.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  const std::string text = out.str();
  QSaveFile file(filePath_);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !file.commit()) {
    if (error != nullptr) {
      *error = QStringLiteral("cannot write the class registry %1: %2")
                   .arg(filePath_, file.errorString());
    }
    return false;
  }
  return true;
}

bool ClassRegistry::Lock(QString* error) {
  QDir().mkpath(QFileInfo(filePath_).absolutePath());
  document_->lock = std::make_unique<QLockFile>(filePath_ + QStringLiteral(".lock"));
  if (!document_->lock->tryLock(10000)) {
    if (error != nullptr) *error = QStringLiteral("the class registry %1 is locked").arg(filePath_);
    document_->lock.reset();
    return false;
  }
  return true;
}

void ClassRegistry::Unlock() { document_->lock.reset(); }

void ClassRegistry::CreateKey(const QString& keyPath) { document_->FindOrCreate(keyPath); }

void ClassRegistry::SetValue(const QString& keyPath, const QString& value, const QString& name) {
  pugi::xml_node key = document_->FindOrCreate(keyPath);
  if (name.isEmpty()) {
    pugi::xml_attribute attribute = key.attribute("default");
    if (!attribute) attribute = key.append_attribute("default");
    attribute.set_value(Utf8(value).c_str());
    return;
  }
  for (pugi::xml_node existing : key.children(kValueName)) {
    if (QString::fromUtf8(existing.attribute("name").value()).compare(name, Qt::CaseInsensitive) ==
        0) {
      existing.text().set(Utf8(value).c_str());
      return;
    }
  }
  pugi::xml_node added = key.prepend_child(kValueName);
  added.append_attribute("name").set_value(Utf8(name).c_str());
  added.text().set(Utf8(value).c_str());
}

bool ClassRegistry::RemoveKey(const QString& keyPath) {
  pugi::xml_node key = document_->Find(keyPath);
  if (!key || key == document_->xml.child(kRootName)) return false;
  return key.parent().remove_child(key);
}

bool ClassRegistry::HasKey(const QString& keyPath) const {
  return static_cast<bool>(document_->Find(keyPath));
}

std::optional<QString> ClassRegistry::Value(const QString& keyPath, const QString& name) const {
  pugi::xml_node key = document_->Find(keyPath);
  if (!key) return std::nullopt;
  if (name.isEmpty()) {
    pugi::xml_attribute attribute = key.attribute("default");
    if (!attribute) return std::nullopt;
    return QString::fromUtf8(attribute.value());
  }
  for (pugi::xml_node value : key.children(kValueName)) {
    if (QString::fromUtf8(value.attribute("name").value()).compare(name, Qt::CaseInsensitive) ==
        0) {
      return QString::fromUtf8(value.text().get());
    }
  }
  return std::nullopt;
}

QStringList ClassRegistry::SubKeys(const QString& keyPath) const {
  QStringList names;
  pugi::xml_node key =
      keyPath.isEmpty() ? document_->xml.child(kRootName) : document_->Find(keyPath);
  for (pugi::xml_node child : key.children(kKeyName)) {
    names << QString::fromUtf8(child.attribute("name").value());
  }
  return names;
}

void ClassRegistry::WriteControlClass(const ControlClassInfo& info) {
  const QString clsid = info.clsid.ToString();
  const QString typeLib = info.typeLibId.ToString();

  SetValue(info.progId, info.description);
  SetValue(info.progId + QStringLiteral("/CLSID"), clsid);

  SetValue(info.versionIndependentProgId, info.description);
  SetValue(info.versionIndependentProgId + QStringLiteral("/CLSID"), clsid);
  SetValue(info.versionIndependentProgId + QStringLiteral("/CurVer"), info.progId);

  const QString classKey = QStringLiteral("CLSID/") + clsid;
  SetValue(classKey, info.description);
  SetValue(classKey + QStringLiteral("/ProgID"), info.progId);
  SetValue(classKey + QStringLiteral("/VersionIndependentProgID"), info.versionIndependentProgId);
  CreateKey(classKey + QStringLiteral("/Programmable"));
  CreateKey(classKey + QStringLiteral("/Control"));
  CreateKey(classKey + QStringLiteral("/Insertable"));
  SetValue(classKey + QStringLiteral("/InprocServer32"), info.modulePath);
  SetValue(classKey + QStringLiteral("/InprocServer32"), QStringLiteral("Apartment"),
           QStringLiteral("ThreadingModel"));
  SetValue(classKey + QStringLiteral("/ToolboxBitmap32"),
           QStringLiteral("%1, %2").arg(info.modulePath).arg(info.bitmapResource));
  SetValue(classKey + QStringLiteral("/MiscStatus"), info.miscStatus);
  SetValue(classKey + QStringLiteral("/MiscStatus/1"), info.miscStatusContent);
  SetValue(classKey + QStringLiteral("/TypeLib"), typeLib);
  SetValue(classKey + QStringLiteral("/Version"), info.typeLibVersion);

  // The type library: its name and classes let hosts create a control by "<Library>Ctl.<class>".
  const QString libKey = QStringLiteral("TypeLib/%1/%2").arg(typeLib, info.typeLibVersion);
  SetValue(libKey, info.typeLibHelp);
  SetValue(libKey, info.typeLibName, QStringLiteral("Name"));
  SetValue(libKey + QStringLiteral("/0/linux64"), info.modulePath);
  SetValue(libKey + QStringLiteral("/Classes/") + info.className, clsid);
}

void ClassRegistry::RemoveControlClass(const ControlClassInfo& info) {
  RemoveKey(info.progId);
  RemoveKey(info.versionIndependentProgId);
  RemoveKey(QStringLiteral("CLSID/") + info.clsid.ToString());
  const QString libKey = QStringLiteral("TypeLib/") + info.typeLibId.ToString();
  RemoveKey(libKey + QLatin1Char('/') + info.typeLibVersion);
  if (SubKeys(libKey).isEmpty()) RemoveKey(libKey);
}

std::optional<CLSID> ClassRegistry::ResolveClass(const QString& name) const {
  const QString trimmed = name.trimmed();
  if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('/'))) return std::nullopt;
  bool ok = false;
  const Guid direct = Guid::FromString(trimmed, &ok);
  if (ok) return direct;

  const auto fromProgId = [this](const QString& progId) -> std::optional<CLSID> {
    const auto text = Value(progId + QStringLiteral("/CLSID"));
    if (!text) return std::nullopt;
    bool parsed = false;
    const Guid clsid = Guid::FromString(*text, &parsed);
    if (!parsed) return std::nullopt;
    return clsid;
  };
  if (const auto current = Value(trimmed + QStringLiteral("/CurVer"))) {
    if (const auto clsid = fromProgId(*current)) return clsid;
  }
  if (const auto clsid = fromProgId(trimmed)) return clsid;

  // "<Library>Ctl.<class>": the library's class by name.
  const qsizetype dot = trimmed.lastIndexOf(QLatin1Char('.'));
  if (dot <= 0) return std::nullopt;
  QString library = trimmed.left(dot);
  const QString className = trimmed.mid(dot + 1);
  if (library.endsWith(QStringLiteral("Ctl"), Qt::CaseInsensitive)) library.chop(3);
  for (const QString& libId : SubKeys(QStringLiteral("TypeLib"))) {
    const QString libKey = QStringLiteral("TypeLib/") + libId;
    for (const QString& version : SubKeys(libKey)) {
      const QString versionKey = libKey + QLatin1Char('/') + version;
      const auto libName = Value(versionKey, QStringLiteral("Name"));
      if (!libName || libName->compare(library, Qt::CaseInsensitive) != 0) continue;
      const auto text = Value(versionKey + QStringLiteral("/Classes/") + className);
      if (!text) continue;
      bool parsed = false;
      const Guid clsid = Guid::FromString(*text, &parsed);
      if (parsed) return clsid;
    }
  }
  return std::nullopt;
}

QString ClassRegistry::ModulePath(const CLSID& clsid) const {
  return Value(QStringLiteral("CLSID/%1/InprocServer32").arg(clsid.ToString())).value_or(QString());
}

bool ClassRegistry::IsControl(const CLSID& clsid) const {
  return HasKey(QStringLiteral("CLSID/%1/Control").arg(clsid.ToString()));
}

}  // namespace cf::com
