#pragma once

#include <QByteArray>

namespace kqmavo2 {

// Percent-encodes the bytes a form login must not carry raw: the reserved characters
// "<>%\^[]`+$,@:;/!#?=& and every byte below 33 or above 122, as "%" and two upper-case hex
// digits. Letters, digits and '()*-._ pass unchanged.
QByteArray UrlEncode(const QByteArray& text);

}  // namespace kqmavo2
