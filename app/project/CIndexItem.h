#pragma once

#include <QString>

namespace cf {

// One recorded item of a project's index: a recorded segment with its position in the recording,
// or a link item (position "-1") that points to a page stored in the project folder.
struct CIndexItem {
  QString title;
  QString pos;  // milliseconds as decimal text; kLinkItemPos for a link item
  QString RecDate;
  QString Url;     // the page of a link item, relative to the project folder
  QString PosEnd;  // empty when read from a file
  QString length;  // empty when read from a file
  bool Selected = false;

  static constexpr const char* kLinkItemPos = "-1";

  bool isLinkItem() const { return pos == QLatin1String(kLinkItemPos); }
};

}  // namespace cf
