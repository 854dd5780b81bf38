#pragma once

#include <QString>

// The per-user settings store of the program (application "Quillbox5", section "clipFerry").
// Remembered server data is stored encoded: "&H" and the upper-case hexadecimal of the value's
// UTF-16LE bytes; other values are stored as they stand.
inline constexpr const char* kSettingsSection = "clipFerry";
// How long, in minutes in all, an upload whose link failed waits for the server (plain value).
inline constexpr const char* kUploadRetryMinutesKey = "uploadRetryMinutes";

// Reads a value: shorter than 3 characters gives the default, "&H..." is decoded, anything else is
// returned as stored. A malformed encoding gives the default.
QString ReadSetting(const QString& section, const QString& key, const QString& fallback);

// Stores the value encoded ("" for an empty value).
void WriteSetting(const QString& section, const QString& key, const QString& value);

// Plain values ("1"/"0" flags, paths, dates).
QString ReadPlainSetting(const QString& section, const QString& key, const QString& fallback);
void WritePlainSetting(const QString& section, const QString& key, const QString& value);

// The encoding alone, for callers and tests that need the stored form.
QString EncodeSettingValue(const QString& value);
bool DecodeSettingValue(const QString& stored, QString* value);
