#include "app/queue/VersionReply.h"

#include "app/services/XmlFile.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

#include <QStringList>

namespace cf {

namespace {

// Pictures larger than this on a side are no slides; a server asking for them is ignored.
constexpr int kMaxSlideSide = 8192;

QString Res(const QString& key) { return GetResString(QStringLiteral("frmUpload"), key); }

// A server number; false when the text is not a decimal integer.
bool ParseNumber(const QString& text, qint64* value) {
  bool ok = false;
  *value = text.trimmed().toLongLong(&ok);
  return ok;
}

}  // namespace

QString VersionReply::ServerErrorText() { return Res(QStringLiteral("mavoError")); }

QString VersionReply::ResultErrorText(const QString& code, bool prefixVersion) {
  const QString localized = Res(QStringLiteral("msg_") + code);
  if (prefixVersion) {
    return QStringLiteral("GetVersion: ") +
           (localized.isEmpty() ? ServerErrorText() + QStringLiteral(" (") + code + QLatin1Char(')')
                                : localized);
  }
  return localized.isEmpty() ? ServerErrorText() + QStringLiteral(": ") + code : localized;
}

Outcome VersionReply::Accept(const QString& response) {
  if (!LoadXmlText(response.toUtf8(), &doc_)) {
    // An answer that is no document at all must not read as the server's permission.
    return Outcome::Fail(QStringLiteral("GetVersion: Parse XML error!"));
  }
  const QString errInfo = Value("errInfo");
  if (errInfo.isEmpty()) return Outcome::Done();
  if (Value("showInfo") == QLatin1String("1")) {
    return Outcome::Fail(QStringLiteral("GetVersion: ") + errInfo);
  }
  return Outcome::Fail(ResultErrorText(errInfo, true));
}

QString VersionReply::Value(const char* path) const {
  return ValueByPath(doc_, QString::fromLatin1(path));
}

Outcome VersionReply::CheckFolderQuota(const QString& folder) const {
  constexpr double kBytesPerMegabyte = 1048576.0;
  return CheckQuota(RoundHalfEven(static_cast<double>(GetFolderSize(folder)) / kBytesPerMegabyte));
}

Outcome VersionReply::CheckQuota(qint64 required) const {
  if (!FindByPath(doc_, QStringLiteral("quota.total")) ||
      !FindByPath(doc_, QStringLiteral("quota.free")) ||
      !FindByPath(doc_, QStringLiteral("quota.maxsize"))) {
    return Outcome::Done();
  }
  const QString totalText = Value("quota.total");
  const QString freeText = Value("quota.free");
  const QString maxText = Value("quota.maxsize");
  qint64 total = 0, free = 0, maxsize = 0;
  if (!ParseNumber(totalText, &total) || !ParseNumber(freeText, &free) ||
      !ParseNumber(maxText, &maxsize)) {
    return Outcome::Fail(QStringLiteral("GetVersion: ") + ServerErrorText() +
                         QStringLiteral(" (quota)"));
  }
  if (maxsize < required) {
    return Outcome::Fail(QStringLiteral("Exceed the maximum upload size!, maxsize=") +
                         maxText.trimmed() + QStringLiteral("MB, required=") +
                         QString::number(required) + QStringLiteral("MB"));
  }
  if (free < required) {
    return Outcome::Fail(QStringLiteral("No enough space to upload data, total=") +
                         totalText.trimmed() + QStringLiteral("MB, free=") + freeText.trimmed() +
                         QStringLiteral("MB, required=") + QString::number(required) +
                         QStringLiteral("MB"));
  }
  return Outcome::Done();
}

Outcome VersionReply::RefuseTarget(const QString& overwrite) {
  const QString localized = Res(QStringLiteral("msg_folder") + overwrite);
  return Outcome::Fail(
      QStringLiteral("GetVersion: ") +
      (localized.isEmpty() ? ServerErrorText() + QStringLiteral(" (") + overwrite + QLatin1Char(')')
                           : localized));
}

bool VersionReply::SlideSize(int* width, int* height) const {
  const QStringList parts = Value("slidesize").split(QLatin1Char('x'));
  if (parts.size() != 2) return false;
  const int w = parts[0].toInt();
  const int h = parts[1].toInt();
  if (w <= 0 || h <= 0 || w > kMaxSlideSide || h > kMaxSlideSide) return false;
  *width = w;
  *height = h;
  return true;
}

}  // namespace cf
