#include "app/queue/TransferRate.h"

#include "app/services/modLanguage.h"

#include <cmath>

namespace cf {
namespace {

constexpr double kKiB = 1024.0;
constexpr double kMiB = kKiB * 1024.0;
constexpr double kGiB = kMiB * 1024.0;

// One decimal below ten units, whole units above: enough to see it move, not to flicker.
QString Amount(double value) {
  return value < 10 ? QString::number(value, 'f', 1) : QString::number(std::llround(value));
}

}  // namespace

void TransferRate::Add(qint64 ms, qint64 bytes) {
  if (!samples_.empty() && (bytes < samples_.back().bytes || ms < samples_.back().ms)) Reset();
  samples_.push_back({ms, bytes});
  // Keep one sample at or beyond the window's start, so the average spans the whole window.
  while (samples_.size() > 2 && samples_[1].ms <= ms - kWindowMs) samples_.pop_front();
}

double TransferRate::BytesPerSecond() const {
  if (samples_.size() < 2) return 0;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const qint64 span = last.ms - first.ms;
  if (span < kMinSpanMs) return 0;
  return static_cast<double>(last.bytes - first.bytes) * 1000.0 / static_cast<double>(span);
}

qint64 TransferRate::SecondsLeft(qint64 total) const {
  const double speed = BytesPerSecond();
  if (speed <= 0) return -1;
  const qint64 left = samples_.empty() ? total : total - samples_.back().bytes;
  if (left <= 0) return 0;
  return static_cast<qint64>(std::ceil(static_cast<double>(left) / speed));
}

std::pair<QString, QString> SizeTexts(qint64 bytes, qint64 total) {
  const double unit = total >= kGiB ? kGiB : total >= kMiB ? kMiB : kKiB;
  const char* name = total >= kGiB ? " GB" : total >= kMiB ? " MB" : " KB";
  const double whole = static_cast<double>(total) / unit;
  // The part is written as precisely as the whole, so "3.5 of 7.2" never reads "4 of 7.2".
  const QString part = whole < 10
                           ? QString::number(static_cast<double>(bytes) / unit, 'f', 1)
                           : QString::number(std::llround(static_cast<double>(bytes) / unit));
  return {part, Amount(whole) + QLatin1String(name)};
}

QString SpeedText(double bytesPerSecond) {
  if (bytesPerSecond >= kMiB) return Amount(bytesPerSecond / kMiB) + QStringLiteral(" MB/s");
  return QString::number(std::llround(bytesPerSecond / kKiB)) + QStringLiteral(" KB/s");
}

QString DurationText(qint64 seconds) {
  if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
  // Minutes are rounded: "about 4 min" needs no seconds.
  const qint64 minutes = (seconds + 30) / 60;
  if (minutes < 60) return QStringLiteral("%1 min").arg(minutes);
  return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString UploadProgressText(const QString& lead, const UploadFigures& figures) {
  const QString section = QStringLiteral("frmUpload");
  const auto [part, whole] = SizeTexts(figures.bytes, figures.total);
  const QString percent = QString::number(figures.percent);
  // One arg() call each, so nothing in the lead is taken for a place marker.
  if (figures.bytesPerSecond > 0 && figures.secondsLeft >= 0) {
    return GetResString(section, QStringLiteral("msgUploadProgress"),
                        QStringLiteral("%1 %2% (%3 of %4, %5, about %6 left)"))
        .arg(lead, percent, part, whole, SpeedText(figures.bytesPerSecond),
             DurationText(figures.secondsLeft))
        .trimmed();
  }
  return GetResString(section, QStringLiteral("msgUploadProgressStart"),
                      QStringLiteral("%1 %2% (%3 of %4)"))
      .arg(lead, percent, part, whole)
      .trimmed();
}

}  // namespace cf
