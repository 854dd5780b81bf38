#include "app/queue/UploadJob.h"

namespace cf {
namespace {

constexpr char kDateFormat[] = "yyyy-MM-ddTHH:mm:ss";
constexpr char kProjectExtension[] = "kqp";

}  // namespace

QString UploadJob::dstFileName() const {
  if (dstPostfix.isEmpty()) return QStringLiteral("video.mp4");
  return QStringLiteral("video_") + dstPostfix + QStringLiteral(".mp4");
}

bool UploadJob::IsProjectFileName(const QString& fileName) {
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  return QStringView(fileName).mid(dot + 1) == QLatin1String(kProjectExtension);
}

QString UploadJob::FormatDateLastModified(const QDateTime& time) {
  return time.toLocalTime().toString(QLatin1String(kDateFormat));
}

QDateTime UploadJob::ParseDateLastModified(const QString& text) {
  // fromString reads the text as local time, which is how it was written.
  return QDateTime::fromString(text.trimmed(), QLatin1String(kDateFormat));
}

}  // namespace cf
