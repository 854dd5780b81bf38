#include "app/services/PasswordDigest.h"

#include "app/services/MessageService.h"
#include "platform/codepage/CodePage.h"

#include <QCryptographicHash>

QString HashString(const QString& text, int algorithmId) {
  QCryptographicHash::Algorithm algorithm;
  switch (algorithmId) {
    case kCalgMd5:
      algorithm = QCryptographicHash::Md5;
      break;
    case kCalgSha1:
      algorithm = QCryptographicHash::Sha1;
      break;
    default:
      ShowMessage(QStringLiteral("Failed to hash string!"));
      return {};
  }
  const QByteArray digest = QCryptographicHash::hash(cf::codepage::ToAnsi(text), algorithm);
  return QString::fromLatin1(digest.toHex().toUpper());
}

QString PasswordDigest(const QString& password) {
  const QString first = HashString(password.trimmed(), kCalgMd5).toLower();
  if (first.isEmpty()) return {};
  return HashString(first, kCalgMd5).toLower();
}
