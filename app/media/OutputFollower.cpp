#include "app/media/OutputFollower.h"

#include "app/media/RunContext.h"
#include "app/services/modGlobal.h"

#include <QRegularExpression>

#include <cmath>

namespace {

const QString kTimeMarker = QStringLiteral("time=");
const QString kFrameMarker = QStringLiteral("frame=");
const QString kDecodeError = QStringLiteral("Error while decoding stream");
const QString kResampleError =
    QStringLiteral("Resampling with input channels greater than 2 unsupported");

// The number a text starts with ("62.50" -> 62.5, "N/A" -> 0), as a lenient reader takes it.
double LeadingNumber(const QString& text) {
  static const QRegularExpression number(QStringLiteral("^\\s*[-+]?(\\d+\\.?\\d*|\\.\\d+)"));
  const QRegularExpressionMatch match = number.match(text);
  return match.hasMatch() ? match.captured(0).trimmed().toDouble() : 0.0;
}

bool IsNumber(const QString& text, double* value) {
  bool ok = false;
  *value = text.trimmed().toDouble(&ok);
  return ok && std::isfinite(*value);
}

double RoundTo(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::nearbyint(value * scale) / scale;
}

}  // namespace

OutputFollower::Verdict OutputFollower::Follow(const QString& chunk, double elapsedSeconds) {
  Verdict verdict = Verdict::Continue;
  if (context_.parseProgress) {
    FollowProgress(chunk, elapsedSeconds);
    double lastTime = 0;
    // A broken frame near the very end costs nothing visible; earlier it would ruin the video.
    if (IsNumber(context_.lastTimeText, &lastTime) &&
        lastTime < context_.totalSeconds - kDecodeErrorMarginSeconds &&
        chunk.contains(kDecodeError)) {
      verdict = Verdict::DecodeError;
    }
  }
  if (verdict == Verdict::Continue && chunk.contains(kResampleError)) {
    verdict = Verdict::ResampleError;
  }
  AppendOutput(chunk);
  return verdict;
}

void OutputFollower::FollowProgress(const QString& chunk, double elapsedSeconds) {
  const qsizetype at = chunk.lastIndexOf(kTimeMarker);
  if (at < 0) return;
  const qsizetype valueStart = at + kTimeMarker.size();
  const qsizetype blank = chunk.indexOf(QLatin1Char(' '), valueStart);
  // The value may continue in the next chunk; keep the last complete one.
  if (blank < 0) return;
  context_.lastTimeText = chunk.mid(valueStart, blank - valueStart);

  double percent = 0;
  if (context_.totalSeconds > 0) {
    percent = RoundTo(LeadingNumber(context_.lastTimeText) * 100.0 / context_.totalSeconds, 1);
  }
  // The last status line of a pass may run a frame past the source's length; the first pass
  // must not show more than its half.
  if (percent > 100) percent = 100;
  if (context_.passNumber == 1) {
    percent = percent / 100.0 * 50.0;
  } else if (context_.passNumber == 2) {
    percent = percent / 100.0 * 50.0 + 50.0;
  }
  if (percent > 100) percent = 100;
  if (percent > 0) {
    const double elapsed = RoundTo(elapsedSeconds, 2);
    const qint64 remainingSeconds = RoundHalfEven(elapsed * 100.0 / percent - elapsed);
    const qint64 remainingMinutes = RoundHalfEven(remainingSeconds / 60.0);
    context_.remainingText =
        remainingMinutes == 0 ? QStringLiteral("<1") : QString::number(remainingMinutes);
  }
  context_.percent = percent;
  context_.progressText = context_.labelText + QLatin1Char(' ') + context_.durationText +
                          QStringLiteral(" (remains ") + context_.remainingText +
                          QStringLiteral(" mins, ") + QString::number(percent) +
                          QStringLiteral("%)");
  context_.PublishProgress();
}

void OutputFollower::AppendOutput(const QString& chunk) {
  // Every status line starts on a line of its own in the box, however the converter ended the
  // previous one.
  QString rest = chunk;
  QString& text = context_.outputText;
  for (qsizetype at = rest.indexOf(kFrameMarker); at >= 0; at = rest.indexOf(kFrameMarker)) {
    text += rest.left(at) + QStringLiteral("\r\n") + kFrameMarker;
    rest = rest.mid(at + kFrameMarker.size());
  }
  const int limit = qMax(0, context_.outputLimit);
  if (text.size() > limit) text = text.right(limit);
  text += rest;
  context_.PublishOutput();
}
