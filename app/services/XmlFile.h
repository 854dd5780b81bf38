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
