#include "platform/com/Guid.h"

namespace cf::com {

Guid Guid::FromString(const QString& text, bool* ok) {
  const QByteArray latin = text.trimmed().toLatin1();
  return Parse(std::string_view(latin.constData(), static_cast<std::size_t>(latin.size())), ok);
}

QString Guid::ToString() const {
  QString text = QStringLiteral("{%1-%2-%3-%4%5-")
                     .arg(data1, 8, 16, QLatin1Char('0'))
                     .arg(data2, 4, 16, QLatin1Char('0'))
                     .arg(data3, 4, 16, QLatin1Char('0'))
                     .arg(data4[0], 2, 16, QLatin1Char('0'))
                     .arg(data4[1], 2, 16, QLatin1Char('0'));
  for (std::size_t i = 2; i < 8; ++i)
    text += QStringLiteral("%1").arg(data4[i], 2, 16, QLatin1Char('0'));
  return text.toUpper() + QLatin1Char('}');
}

}  // namespace cf::com
