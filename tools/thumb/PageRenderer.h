#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// Renders the file of a project's link item as a slide: a picture is fitted onto the page, an
// HTML or text page is laid out at the page's width; the page is then scaled to the slide size.
class PageRenderer {
 public:
  enum class Kind { Image, Html, Text };

  static constexpr int kMaxSide = 4096;
  static constexpr qint64 kMaxPageBytes = 8 * 1024 * 1024;
  static constexpr qint64 kMaxImageBytes = 64 * 1024 * 1024;

  // By the file name's extension; anything that is neither a picture nor HTML is read as text.
  static Kind KindOf(const QString& path);

  // False with `error` when the file cannot be read or is not what its name says.
  static bool Render(const QString& source, const QSize& page, const QSize& slide, QImage* out,
                     QString* error);
};
