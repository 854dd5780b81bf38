#pragma once

#include <QString>

#include <cstdint>

namespace cf {

// The time texts a project stores its duration in: "mm:ss" or "h:mm:ss", the seconds possibly
// with a fraction ("02:03.500", "1:02:03").
class CTime {
 public:
  // Milliseconds of a time text, despite the name. Each part is read leniently (leading blanks
  // skipped, the longest numeric prefix, no digits counts as 0); three parts are hours, minutes
  // and seconds, otherwise the first two are minutes and seconds. False in `ok` (and 0) when the
  // text has no ":" or the result does not fit in 32 bits.
  static int32_t GetSecond(const QString& TimeString, bool* ok = nullptr);

  // The time text of `ms`: "-" for -1; seconds with three decimals when they have a fraction and
  // `precision` is not "sec", otherwise whole seconds (rounded, carrying into the minutes).
  static QString GetString(int32_t ms, const QString& precision);

  // The leading number of a text read the lenient way; 0 when it has no digits.
  static double LeadingNumber(QStringView text);
};

}  // namespace cf
