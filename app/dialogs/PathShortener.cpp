#include "app/dialogs/PathShortener.h"

#include <QStringList>

QString PathShortener::contractStr(const QString& srcStr, int maxLen, const Measure& measure) {
  if (measure(srcStr) <= maxLen) return srcStr;
  const QChar separator = QLatin1Char(kSeparator);
  QStringList parts = srcStr.split(separator);
  if (parts.size() <= 2) return srcStr;
  QString rebuilt = srcStr;
  for (qsizetype i = 1; i < parts.size() - 1; ++i) {
    parts[i] = i == 1 ? QStringLiteral("...") : QString();
    rebuilt = parts.first();
    for (qsizetype j = 1; j < parts.size(); ++j) {
      if (!parts[j].isEmpty()) rebuilt += separator + parts[j];
    }
    if (measure(rebuilt) <= maxLen) break;
  }
  return rebuilt;
}
