#pragma once

#include <QString>

#include <functional>

// Fits a long path into a label by dropping folders from the front: the first folder becomes
// "...", later ones vanish one by one, until the text fits. The root part and the file name are
// always kept, and a path of only those two parts is never touched.
class PathShortener {
 public:
  using Measure = std::function<int(const QString& text)>;

  static constexpr char kSeparator = '/';

  // `measure` gives the width the label would need for a text; `maxLen` is the label's width.
  static QString contractStr(const QString& srcStr, int maxLen, const Measure& measure);
};
