#pragma once

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

// Parses a file; false (and an empty document) when it is missing or not well-formed.
bool LoadXmlFile(const QString& path, pugi::xml_document* doc);

// The document's text without indentation, as it would be saved.
QByteArray XmlText(const pugi::xml_document& doc);

// Removes vertical tabs and tabs, and puts CR LF between every ">" directly followed by "<".
QByteArray BreakXmlLines(const QByteArray& xml);

// Saves the document with the line breaks above, replacing the file atomically.
bool SaveXmlWithLineBreaks(const pugi::xml_document& doc, const QString& path);

// Writes `bytes` beside `path` and renames it over, so a crash never leaves a half-written file.
// `ownerOnly` creates the file with mode 0600 (files that hold passwords).
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, bool ownerOnly = false);

// Small DOM helpers shared by the queue file, the package writers and the server replies. Names
// are element names; a dotted path such as "quota.total" walks child elements from the document
// element down.

// Text of the node's first child element `name`; "" when there is none.
QString ChildText(const pugi::xml_node& node, const QString& name);
// Sets the text of the node's first child element `name`. A missing element is never created:
// false, and nothing changes.
bool SetChildText(const pugi::xml_node& node, const QString& name, const QString& text);
// The element at `path` below the document element; an empty node when any part is missing.
pugi::xml_node FindByPath(const pugi::xml_document& doc, const QString& path);
// Text of the element at `path`, or `fallback` when there is none.
QString ValueByPath(const pugi::xml_document& doc, const QString& path,
                    const QString& fallback = {});
// Appends a child element with an optional empty attribute and optional text; returns it.
pugi::xml_node AppendElement(const pugi::xml_node& parent, const QString& name,
                             const QString& text, const QString& attributeName = {});
// Parses text (UTF-8); false and an empty document when it is not well-formed.
bool LoadXmlText(const QByteArray& text, pugi::xml_document* doc);
