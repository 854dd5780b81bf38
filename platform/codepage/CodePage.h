#pragma once

#include <QByteArray>
#include <QString>

namespace cf::codepage {

// The narrow-character code page the program talks to servers and outside programs in: the
// setting `ansiCodePage` when set (for example "CP950" for a server expecting Big5 account
// names), otherwise the codeset of the user's locale.
QString ActiveCodePage();

// Overrides the code page for this process (tests, command-line tools). Empty restores the default.
void SetCodePage(const QString& name);

// Converts to the active code page. Characters the code page cannot hold become "?", as the
// system's own conversion does; `ok`, when given, tells whether every character fitted.
QByteArray ToAnsi(const QString& text, bool* ok = nullptr);

// Converts from the active code page; undecodable bytes become U+FFFD.
QString FromAnsi(const QByteArray& bytes);

}  // namespace cf::codepage
