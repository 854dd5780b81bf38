#include "upload_control/src/RequestDeadlines.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

namespace kqmavo2 {
namespace {

constexpr double kLongestSeconds = 7 * 24 * 3600;

// The setting in milliseconds, or `fallback` when it is missing or not a sensible length.
int Milliseconds(const QSettings& settings, const char* key, int fallback) {
  const QVariant stored = settings.value(QStringLiteral("clipFerry/") + QLatin1String(key));
  if (!stored.isValid()) return fallback;
  bool ok = false;
  const double seconds = stored.toString().trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > kLongestSeconds) return fallback;
  return std::max(1, static_cast<int>(std::lround(seconds * 1000)));
}

}  // namespace

RequestDeadlines RequestDeadlines::Load() {
  RequestDeadlines loaded;
  const QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  loaded.blockMs = Milliseconds(settings, "blockDeadlineSeconds", kDefaultBlockMs);
  loaded.requestMs = Milliseconds(settings, "requestDeadlineSeconds", kDefaultRequestMs);
  const QString reuse =
      settings.value(QStringLiteral("clipFerry/reuseConnections")).toString().trimmed().toLower();
  loaded.reuseConnections = !(reuse == QLatin1String("0") || reuse == QLatin1String("false") ||
                              reuse == QLatin1String("no") || reuse == QLatin1String("off"));
  return loaded;
}

}  // namespace kqmavo2
