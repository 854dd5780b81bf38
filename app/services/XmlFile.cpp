#include "app/services/XmlFile.h"

#include <QFile>
#include <QSaveFile>

#include <sstream>

bool LoadXmlFile(const QString& path, pugi::xml_document* doc) {
  doc->reset();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.readAll();
  const pugi::xml_parse_result result =
      doc->load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()));
  if (!result || !doc->document_element()) {
    doc->reset();
    return false;
  }
  return true;
}

QByteArray XmlText(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  const std::string text = out.str();
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray BreakXmlLines(const QByteArray& xml) {
  QByteArray out;
  out.reserve(xml.size() + xml.size() / 8);
  for (qsizetype i = 0; i < xml.size(); ++i) {
    const char c = xml[i];
    if (c == '\t' || c == '\v') continue;
    out.append(c);
    if (c == '>' && i + 1 < xml.size() && xml[i + 1] == '<') out.append("\r\n");
  }
  return out;
}

bool SaveXmlWithLineBreaks(const pugi::xml_document& doc, const QString& path) {
  const QByteArray broken = BreakXmlLines(XmlText(doc));
  // Checked again so that what is saved is always a well-formed document.
  pugi::xml_document reparsed;
  if (!reparsed.load_buffer(
          broken.constData(), static_cast<size_t>(broken.size()),
          pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata)) {
    return false;
  }
  return WriteFileAtomically(path, broken);
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, bool ownerOnly) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (ownerOnly) file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

namespace {

std::string Utf8(const QString& text) { return text.toStdString(); }

}  // namespace

QString ChildText(const pugi::xml_node& node, const QString& name) {
  if (!node) return {};
  const pugi::xml_node child = node.child(Utf8(name).c_str());
  return child ? QString::fromUtf8(child.text().get()) : QString();
}

bool SetChildText(const pugi::xml_node& node, const QString& name, const QString& text) {
  if (!node) return false;
  pugi::xml_node child = node.child(Utf8(name).c_str());
  if (!child) return false;
  return child.text().set(Utf8(text).c_str());
}

pugi::xml_node FindByPath(const pugi::xml_document& doc, const QString& path) {
  pugi::xml_node node = doc.document_element();
  if (!node || path.isEmpty()) return {};
  for (const QString& part : path.split(QLatin1Char('.'))) {
    node = node.child(Utf8(part).c_str());
    if (!node) return {};
  }
  return node;
}

QString ValueByPath(const pugi::xml_document& doc, const QString& path, const QString& fallback) {
  const pugi::xml_node node = FindByPath(doc, path);
  return node ? QString::fromUtf8(node.text().get()) : fallback;
}

pugi::xml_node AppendElement(const pugi::xml_node& parent, const QString& name,
                             const QString& text, const QString& attributeName) {
  pugi::xml_node parentNode = parent;
  if (!parentNode) return {};
  pugi::xml_node element = parentNode.append_child(Utf8(name).c_str());
  if (!element) return {};
  if (!attributeName.isEmpty()) element.append_attribute(Utf8(attributeName).c_str()).set_value("");
  if (!text.isEmpty()) element.text().set(Utf8(text).c_str());
  return element;
}

bool LoadXmlText(const QByteArray& text, pugi::xml_document* doc) {
  doc->reset();
  const pugi::xml_parse_result result =
      doc->load_buffer(text.constData(), static_cast<size_t>(text.size()));
  if (!result || !doc->document_element()) {
    doc->reset();
    return false;
  }
  return true;
}
