#include "app/queue/UploadJob.h"

namespace cf {
namespace {

constexpr char kDateFormat[] = "yyyy-MM-ddTHH:mm:ss";
constexpr char kProjectExtension[] = "kqp";

constexpr QLatin1String kStateTexts[] = {
    QLatin1String("Waiting"),  QLatin1String("Transfering"), QLatin1String("Editing"),
    QLatin1String("Finished"), QLatin1String("Failed"),      QLatin1String("Canceled"),
};

}  // namespace

QLatin1String StateText(JobState state) { return kStateTexts[static_cast<size_t>(state)]; }

std::optional<JobState> StateFromText(QStringView text) {
  for (size_t i = 0; i < std::size(kStateTexts); ++i) {
    if (text == kStateTexts[i]) return static_cast<JobState>(i);
  }
  return std::nullopt;
}

QString UploadJob::timeText(JobTime which) const {
  const QTime& time = times[static_cast<size_t>(which)];
  return time.isValid() ? time.toString(QStringLiteral("hh:mm:ss")) : QString();
}

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
