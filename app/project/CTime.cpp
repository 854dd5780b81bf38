#include "app/project/CTime.h"

#include <QStringList>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace cf {

namespace {

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60 * kMsPerSecond;
constexpr int64_t kMsPerHour = 60 * kMsPerMinute;

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

double CTime::LeadingNumber(QStringView text) {
  qsizetype i = 0;
  while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t') ||
                             text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n'))) {
    ++i;
  }
  std::string number;
  if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    number += static_cast<char>(text[i].unicode());
    ++i;
  }
  bool digits = false;
  while (i < text.size() && IsDigit(text[i])) {
    number += static_cast<char>(text[i++].unicode());
    digits = true;
  }
  if (i < text.size() && text[i] == QLatin1Char('.')) {
    number += '.';
    ++i;
    while (i < text.size() && IsDigit(text[i])) {
      number += static_cast<char>(text[i++].unicode());
      digits = true;
    }
  }
  if (!digits) return 0;
  // An exponent counts only when digits follow it, as "1e" is the number 1 and a letter.
  if (i + 1 < text.size() && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
    qsizetype j = i + 1;
    std::string exponent = "e";
    if (text[j] == QLatin1Char('-') || text[j] == QLatin1Char('+')) {
      exponent += static_cast<char>(text[j++].unicode());
    }
    const qsizetype firstDigit = j;
    while (j < text.size() && IsDigit(text[j])) exponent += static_cast<char>(text[j++].unicode());
    if (j > firstDigit) number += exponent;
  }
  const char* begin = number.data();
  if (*begin == '+') ++begin;
  double value = 0;
  const auto result = std::from_chars(begin, number.data() + number.size(), value);
  if (result.ec != std::errc()) {
    // Only an out-of-range exponent gets here; its sign is what matters to the caller.
    return number.find("e-") != std::string::npos ? 0.0
           : number[0] == '-'                     ? -std::numeric_limits<double>::infinity()
                                                  : std::numeric_limits<double>::infinity();
  }
  return value;
}

int32_t CTime::GetSecond(const QString& TimeString, bool* ok) {
  if (ok) *ok = false;
  const QStringList parts = TimeString.split(QLatin1Char(':'));
  if (parts.size() < 2) return 0;
  double value = 0;
  if (parts.size() == 3) {
    value = LeadingNumber(parts[0]) * kMsPerHour + LeadingNumber(parts[1]) * kMsPerMinute +
            LeadingNumber(parts[2]) * kMsPerSecond;
  } else {
    value = LeadingNumber(parts[0]) * kMsPerMinute + LeadingNumber(parts[1]) * kMsPerSecond;
  }
  // nearbyint rounds halves to the even neighbour in the default rounding mode.
  const double rounded = std::nearbyint(value);
  if (!std::isfinite(rounded) || rounded > std::numeric_limits<int32_t>::max() ||
      rounded < std::numeric_limits<int32_t>::min()) {
    return 0;
  }
  if (ok) *ok = true;
  return static_cast<int32_t>(rounded);
}

QString CTime::GetString(int32_t ms, const QString& precision) {
  if (ms == -1) return QStringLiteral("-");
  int64_t total = ms;
  QString sign;
  if (total < 0) {
    sign = QStringLiteral("-");
    total = -total;
  }
  // Whole milliseconds throughout, so long recordings keep their last digits and a rounded
  // "59.6" seconds becomes the next minute rather than "60".
  const bool withFraction = total % kMsPerSecond != 0 && precision != QLatin1String("sec");
  if (!withFraction) total = (total + kMsPerSecond / 2) / kMsPerSecond * kMsPerSecond;
  const int64_t hours = total / kMsPerHour;
  const int64_t minutes = (total / kMsPerMinute) % 60;
  const int64_t rest = total % kMsPerMinute;
  QString seconds = QStringLiteral("%1").arg(rest / kMsPerSecond, 2, 10, QLatin1Char('0'));
  if (withFraction) {
    seconds += QStringLiteral(".%1").arg(rest % kMsPerSecond, 3, 10, QLatin1Char('0'));
  }
  QString text = QStringLiteral("%1:").arg(minutes, 2, 10, QLatin1Char('0')) + seconds;
  if (hours > 0) text = QString::number(hours) + QLatin1Char(':') + text;
  return sign + text;
}

}  // namespace cf
