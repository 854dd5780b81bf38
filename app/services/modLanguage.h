#pragma once

#include <QString>

// Looks up a localized text in the program folder's res.xml: the entry `key` of the section
// `section`, with every two-character "\n" turned into CR LF. Returns `fallback` when the file,
// the section or the key is missing; never fails towards the caller.
QString GetResString(const QString& section, const QString& key, const QString& fallback = {});

// res.xml is read once per process; tests that swap the file call this to read it again.
void ReloadResStrings();
