#include "platform/codepage/CodePage.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSettings>

#include <iconv.h>
#include <langinfo.h>
#include <cerrno>

namespace cf::codepage {
namespace {

QMutex overrideMutex;
QString overrideName;

// One iconv conversion of a whole buffer; unconvertible input is replaced and reported.
QByteArray Convert(const char* to, const char* from, const QByteArray& input,
                   const QByteArray& replacement, int unitSize, bool* ok) {
  if (ok != nullptr) *ok = true;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (ok != nullptr) *ok = false;
    return {};
  }
  QByteArray output;
  output.reserve(input.size() * 2 + 16);
  char* in = const_cast<char*>(input.constData());
  size_t inLeft = static_cast<size_t>(input.size());
  char buffer[4096];
  while (inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof(buffer);
    const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
    output.append(buffer, static_cast<qsizetype>(sizeof(buffer) - outLeft));
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: skip one input unit and put the replacement in its place.
    if (ok != nullptr) *ok = false;
    output.append(replacement);
    const size_t skip = std::min(inLeft, static_cast<size_t>(unitSize));
    in += skip;
    inLeft -= skip;
  }
  char* out = buffer;
  size_t outLeft = sizeof(buffer);
  iconv(cd, nullptr, nullptr, &out, &outLeft);
  output.append(buffer, static_cast<qsizetype>(sizeof(buffer) - outLeft));
  iconv_close(cd);
  return output;
}

QByteArray Utf16Bytes(const QString& text) {
  return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

}  // namespace

QString ActiveCodePage() {
  {
    QMutexLocker lock(&overrideMutex);
    if (!overrideName.isEmpty()) return overrideName;
  }
  const QString configured =
      QSettings("Quillbox5", "clipFerry").value("clipFerry/ansiCodePage").toString().trimmed();
  if (!configured.isEmpty()) return configured;
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || *codeset == '\0') return QStringLiteral("UTF-8");
  // The C locale reports plain ASCII; UTF-8 is the sound choice for file names and servers then.
  const QString name = QString::fromLatin1(codeset);
  if (name == QLatin1String("ANSI_X3.4-1968")) return QStringLiteral("UTF-8");
  return name;
}

void SetCodePage(const QString& name) {
  QMutexLocker lock(&overrideMutex);
  overrideName = name;
}

QByteArray ToAnsi(const QString& text, bool* ok) {
  const QByteArray target = ActiveCodePage().toLatin1();
  if (target.compare("UTF-8", Qt::CaseInsensitive) == 0) {
    if (ok != nullptr) *ok = true;
    return text.toUtf8();
  }
  return Convert(target.constData(), "UTF-16LE", Utf16Bytes(text), "?", 2, ok);
}

QString FromAnsi(const QByteArray& bytes) {
  const QByteArray source = ActiveCodePage().toLatin1();
  if (source.compare("UTF-8", Qt::CaseInsensitive) == 0) return QString::fromUtf8(bytes);
  const QByteArray replacement("\xFD\xFF", 2);
  const QByteArray utf16 = Convert("UTF-16LE", source.constData(), bytes, replacement, 1, nullptr);
  return QString(reinterpret_cast<const QChar*>(utf16.constData()), utf16.size() / 2);
}

}  // namespace cf::codepage
