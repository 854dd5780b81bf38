#pragma once

#include <QString>

// Algorithm identifiers the digest accepts.
inline constexpr int kCalgMd5 = 0x8003;
inline constexpr int kCalgSha1 = 0x8004;

// Digest of the text's bytes in the narrow code page, as upper-case hexadecimal. An unknown
// algorithm shows "Failed to hash string!" and gives the empty text.
QString HashString(const QString& text, int algorithmId);

// What is sent in place of the password when the server asks for a digest: the lower-case MD5 of
// the lower-case MD5 of the trimmed password. Empty when hashing failed.
QString PasswordDigest(const QString& password);
