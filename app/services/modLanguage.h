#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

// Looks up a localized text in the program folder's res.xml: the entry `key` of the section
// `section`, with every two-character "\n" turned into CR LF. Returns `fallback` when the file,
// the section or the key is missing; never fails towards the caller.
QString GetResString(const QString& section, const QString& key, const QString& fallback = {});

// res.xml is read once per process; tests that swap the file call this to read it again.
void ReloadResStrings();

// The interface languages every build ships, each as res.LANGUAGE.xml beside res.xml.
const QStringList& InterfaceLanguages();
// The language to show: the user's setting when it names one, else Traditional Chinese for a
// system locale that writes it (Taiwan, Hong Kong, Macau, or the Hant script), else none, which
// means the program folder's res.xml.
QString ChooseLanguage(const QString& setting, const QLocale& system);
// Reads the texts from res.LANGUAGE.xml from now on; an empty or unknown language, or one whose
// file is missing, reads res.xml.
void UseLanguage(const QString& language);
// The language chosen by UseLanguage; empty while res.xml is read.
QString LanguageInUse();
