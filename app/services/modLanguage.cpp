#include "app/services/modLanguage.h"

#include "app/services/ProgramFolder.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <cstring>
#include <memory>
#include <pugixml.hpp>

namespace {

QMutex resMutex;
std::unique_ptr<pugi::xml_document> resDocument;
// The language file in use; empty for the program folder's res.xml.
QString resLanguage;

QString ResFileName(const QString& language) {
  return language.isEmpty() ? QStringLiteral("res.xml")
                            : QStringLiteral("res.%1.xml").arg(language);
}

const pugi::xml_document& ResDocument() {
  if (!resDocument) {
    resDocument = std::make_unique<pugi::xml_document>();
    // A file that fails to load leaves an empty document; every lookup then falls back to its
    // default. Comments and processing instructions are kept: they end a search.
    const QByteArray path = JoinPath(ProgramFolder(), ResFileName(resLanguage)).toLocal8Bit();
    if (!resDocument->load_file(path.constData(),
                                pugi::parse_default | pugi::parse_comments | pugi::parse_pi)) {
      resDocument->reset();
    }
  }
  return *resDocument;
}

// Walks the children of `parent` for the first element whose `name` attribute equals `name`.
// A node that is not an element ends the walk, as the file's layout allows only elements here.
pugi::xml_node FindNamed(const pugi::xml_node& parent, const char* name) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) return {};
    if (std::strcmp(child.attribute("name").value(), name) == 0) return child;
  }
  return {};
}

}  // namespace

QString GetResString(const QString& section, const QString& key, const QString& fallback) {
  QMutexLocker lock(&resMutex);
  const pugi::xml_node root = ResDocument().document_element();
  if (!root) return fallback;
  const QByteArray sectionName = section.toUtf8();
  const pugi::xml_node sectionNode = FindNamed(root, sectionName.constData());
  if (!sectionNode) return fallback;
  const QByteArray keyName = key.toUtf8();
  const pugi::xml_node entry = FindNamed(sectionNode, keyName.constData());
  if (!entry) return fallback;
  QString text = QString::fromUtf8(entry.text().get());
  text.replace(QLatin1String("\\n"), QLatin1String("\r\n"));
  return text;
}

void ReloadResStrings() {
  QMutexLocker lock(&resMutex);
  resDocument.reset();
}

const QStringList& InterfaceLanguages() {
  static const QStringList languages = {QStringLiteral("en"), QStringLiteral("zh_TW")};
  return languages;
}

QString ChooseLanguage(const QString& setting, const QLocale& system) {
  if (InterfaceLanguages().contains(setting)) return setting;
  if (system.language() != QLocale::Chinese) return {};
  // The script decides when it is named; otherwise the places that write Traditional Chinese.
  const QLocale::Script script = system.script();
  const QLocale::Territory place = system.territory();
  const bool traditional =
      script == QLocale::TraditionalHanScript ||
      (script != QLocale::SimplifiedHanScript &&
       (place == QLocale::Taiwan || place == QLocale::HongKong || place == QLocale::Macau));
  return traditional ? QStringLiteral("zh_TW") : QString();
}

void UseLanguage(const QString& language) {
  QMutexLocker lock(&resMutex);
  // A language whose file is missing falls back to res.xml rather than to no texts at all.
  const bool present = InterfaceLanguages().contains(language) &&
                       QFileInfo::exists(JoinPath(ProgramFolder(), ResFileName(language)));
  resLanguage = present ? language : QString();
  resDocument.reset();
}

QString LanguageInUse() {
  QMutexLocker lock(&resMutex);
  return resLanguage;
}
