#include "app/media/VideoProbe.h"

#include "app/media/ProcessRunner.h"
#include "app/media/RunContext.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"
#include "platform/process/CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <limits>

namespace {

const QString kSection = QStringLiteral("frmAdd");

// The probe reads the whole input description, which can be long for files with many tags; the
// output box's short tail would cut it off.
constexpr int kProbeOutputLimit = 1 << 20;

QString Text(const char* key, const char* fallback) {
  return GetResString(kSection, QString::fromLatin1(key), QString::fromLatin1(fallback));
}

bool Fail(QString* failureText, const QString& text) {
  if (failureText != nullptr) *failureText = text;
  return false;
}

// A whole number written as a plain decimal that fits the fields; anything else is not a size.
bool ToInt(const QString& text, int* value) {
  bool ok = false;
  const double number = text.toDouble(&ok);
  if (!ok || !std::isfinite(number)) return false;
  const double rounded = std::nearbyint(number);
  if (std::fabs(rounded) > std::numeric_limits<int>::max()) return false;
  *value = static_cast<int>(rounded);
  return true;
}

// The number a text starts with, 0 when it starts with none ("4" of "4", "3" of "3]").
int LeadingInt(const QString& text) {
  static const QRegularExpression number(QStringLiteral("^\\s*[-+]?\\d+(\\.\\d*)?"));
  const QRegularExpressionMatch match = number.match(text);
  int value = 0;
  if (match.hasMatch()) ToInt(match.captured(0).trimmed(), &value);
  return value;
}

// From `from` to the end of its line; converters end lines with LF or CR LF.
QString LineFrom(const QString& text, qsizetype from) {
  const qsizetype end = text.indexOf(QLatin1Char('\n'), from);
  QString line = end < 0 ? text.mid(from) : text.mid(from, end - from);
  if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  return line;
}

bool ReadFrameSize(const QString& line, int* width, int* height) {
  // Only text between two blanks is a token: the first piece is "Video:" itself and the text
  // after the last blank is never looked at.
  const QStringList pieces = line.split(QLatin1Char(' '));
  for (qsizetype i = 1; i + 1 < pieces.size(); ++i) {
    QString token = pieces[i];
    token.remove(QLatin1Char(','));
    const QStringList parts = token.split(QLatin1Char('x'));
    if (parts.size() != 2) continue;
    int w = 0;
    int h = 0;
    ToInt(parts[0], &w);
    ToInt(parts[1], &h);
    if (w >= 1 && h >= 1) {
      *width = w;
      *height = h;
      return true;
    }
  }
  return false;
}

}  // namespace

int CountVideoStreams(const QString& output) {
  const qsizetype outputAt = output.indexOf(QStringLiteral("Output #"));
  const QString input = outputAt >= 0 ? output.left(outputAt) : output;
  static const QRegularExpression streamNumber(QStringLiteral("^\\d+(\\.\\d*)?"));
  const QString marker = QStringLiteral("Stream #");
  QSet<QString> numbers;
  for (qsizetype at = input.indexOf(marker); at >= 0; at = input.indexOf(marker, at + 1)) {
    const QString line = LineFrom(input, at);
    if (!line.contains(QStringLiteral("Video:"))) continue;
    const QRegularExpressionMatch match = streamNumber.match(line.mid(marker.size()));
    // Compared as written, so that streams 0.1 and 0.10 stay two streams.
    if (match.hasMatch()) numbers.insert(match.captured(0));
  }
  return static_cast<int>(numbers.size());
}

bool ParseProbeOutput(const QString& output, bool quiet, VideoInfo* info, QString* failureText) {
  *info = VideoInfo();
  const auto has = [&](const char* marker, Qt::CaseSensitivity cs) {
    return output.contains(QLatin1String(marker), cs);
  };
  if (has("Unknown format", Qt::CaseInsensitive) ||
      has("does not contain any stream", Qt::CaseInsensitive) ||
      has("Invalid data found when processing input", Qt::CaseSensitive) ||
      has("Error opening filters", Qt::CaseSensitive)) {
    return Fail(failureText, Text("msg_unknownFormat", "Unknown format!"));
  }
  if (has("Error while opening file", Qt::CaseInsensitive)) {
    return Fail(failureText, Text("msg_openFileError", "Open file error!"));
  }
  if (has("no such file", Qt::CaseInsensitive)) {
    return Fail(failureText, Text("msg_noSuchFile", "No such file!"));
  }
  if (CountVideoStreams(output) >= 2) {
    return Fail(failureText, Text("msg_multiStream", "Multi-stream video is not supported!"));
  }

  // Frame information lines mark every progressive frame.
  info->interlaced = output.indexOf(QLatin1String("i:P"), 0, Qt::CaseInsensitive) < 1;

  const QString durationMarker = QStringLiteral("Duration: ");
  const qsizetype durationAt = output.indexOf(durationMarker, 0, Qt::CaseInsensitive);
  if (durationAt < 0 && quiet)
    return Fail(failureText, QStringLiteral("Cannot get video duration!"));
  const QString durationError = Text("msg_durErr", "Cannot retrieve video duration!");
  if (durationAt < 0) return Fail(failureText, durationError);
  const qsizetype textStart = durationAt + durationMarker.size();
  qsizetype durationEnd = output.indexOf(QLatin1Char(','), textStart);
  if (durationEnd < 0) durationEnd = output.size();
  info->durationText = output.mid(textStart, durationEnd - textStart);
  const QStringList parts = info->durationText.split(QLatin1Char(':'));
  bool ok[3] = {false, false, false};
  double hours = 0, minutes = 0, seconds = 0;
  if (parts.size() == 3) {
    hours = parts[0].trimmed().toDouble(&ok[0]);
    minutes = parts[1].trimmed().toDouble(&ok[1]);
    seconds = parts[2].trimmed().toDouble(&ok[2]);
  }
  const double total = hours * 3600 + minutes * 60 + static_cast<double>(RoundHalfEven(seconds));
  if (!ok[0] || !ok[1] || !ok[2] || !std::isfinite(total) || total < 0 ||
      total > std::numeric_limits<int>::max()) {
    return Fail(failureText, durationError);
  }
  info->secDuration = static_cast<int>(RoundHalfEven(total));

  const qsizetype videoAt =
      output.indexOf(QStringLiteral("Video:"), durationEnd, Qt::CaseInsensitive);
  const QString sizeError = QStringLiteral("Cannot get video size!");
  if (videoAt < 0) return Fail(failureText, sizeError);
  info->isWmv3 = output.mid(videoAt + 6, 6) == QLatin1String(" wmv3 ");
  if (!ReadFrameSize(LineFrom(output, videoAt), &info->codedWidth, &info->codedHeight)) {
    return Fail(failureText, sizeError);
  }

  if (info->isWmv3) {
    info->darNum = info->codedWidth;
    info->darDen = info->codedHeight;
  } else {
    const qsizetype darAt =
        output.indexOf(QStringLiteral("DAR "), durationEnd, Qt::CaseInsensitive);
    const qsizetype close = darAt < 0 ? -1 : output.indexOf(QLatin1Char(']'), darAt);
    if (close >= 0) {
      const QStringList ratio = output.mid(darAt + 4, close - darAt - 4).split(QLatin1Char(':'));
      if (ratio.size() >= 2) {
        info->darNum = LeadingInt(ratio[0]);
        info->darDen = LeadingInt(ratio[1]);
      }
    }
  }
  info->displayWidth = info->codedWidth;
  // A ratio with a zero on either side says nothing about the shape; keep the coded height.
  if (info->darNum < 1 || info->darDen < 1) {
    info->displayHeight = info->codedHeight;
  } else {
    info->displayHeight = static_cast<int>(
        NearestEven(static_cast<double>(info->codedWidth) * info->darDen / info->darNum));
  }
  return true;
}

bool ProbeVideo(const QString& path, bool quiet, VideoInfo* info, QString* failureText) {
  *info = VideoInfo();
  if (failureText != nullptr) failureText->clear();
  const QString picture =
      UniqueTempPath(QDir::tempPath(), QStringLiteral("bmp"), QStringLiteral("vu_"));
  if (picture.isEmpty()) {
    const QString text =
        QStringLiteral("The temporary folder %1 cannot be used.").arg(QDir::tempPath());
    return Fail(failureText, text);
  }
  // A relative name is made absolute ("-x.mp4" must not read as an option); a path the converter
  // would receive as another file is refused, not probed.
  const QString source =
      path.isEmpty() || !QDir::isRelativePath(path) ? path : QFileInfo(path).absoluteFilePath();
  const QString unpassable = CommandLine::UnpassableReason(source);
  if (!unpassable.isEmpty()) {
    DeleteFileForce(picture);
    return Fail(failureText, unpassable);
  }
  RunContext context;
  context.outputLimit = kProbeOutputLimit;
  const QString command = CommandLine::Quote(JoinPath(ProgramFolder(), QStringLiteral("ffmpeg"))) +
                          QStringLiteral(" -y -vf showinfo -i ") + CommandLine::Quote(source) +
                          QStringLiteral(" -f image2 -ss 0.1 ") + CommandLine::Quote(picture);
  const QString output = RunCaptured(command, false, context);
  DeleteFileForce(picture);

  if (quiet && output.isEmpty()) return false;
  QString failure;
  if (ParseProbeOutput(output, quiet, info, &failure)) return true;
  return Fail(failureText, failure);
}
