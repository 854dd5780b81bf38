#include "app/queue/RunProgress.h"

#include "app/queue/JobDriver.h"
#include "app/queue/UploadQueue.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace cf {

RunProgress::RunProgress(const UploadQueue& queue, Clock clock, QObject* parent)
    : QObject(parent), queue_(queue), clock_(std::move(clock)) {
  if (!clock_) {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    clock_ = [timer] { return timer->elapsed(); };
  }
}

void RunProgress::Follow(JobDriver& driver) {
  connect(&driver, &JobDriver::runningChanged, this, &RunProgress::OnRunning);
  connect(&driver, &JobDriver::phaseChanged, this, &RunProgress::OnPhase);
  connect(&driver, &JobDriver::progress, this, &RunProgress::OnProgress);
}

void RunProgress::OnRunning(bool running) {
  if (running == running_) return;
  running_ = running;
  if (running) {
    started_ = 0;
    path_.clear();
  }
  uploading_ = false;
  emit changed();
}

void RunProgress::OnPhase(const QString& path, JobRun::Phase phase) {
  if (path != path_) {
    path_ = path;
    ++started_;
    converted_ = false;
    jobFraction_ = 0;
  }
  const bool uploading = phase == JobRun::Phase::Uploading;
  if (uploading && !uploading_) {
    rate_.Reset();
    figures_ = UploadFigures{};
  }
  uploading_ = uploading;
  if (phase == JobRun::Phase::Converting) converted_ = true;
  if (phase == JobRun::Phase::Registering || phase == JobRun::Phase::Done) jobFraction_ = 1;
  emit changed();
}

void RunProgress::OnProgress(const QString&, JobRun::Phase phase, qint64 done, qint64 total,
                             qint64 bytes, qint64 bytesTotal) {
  if (total <= 0) return;
  const double fraction =
      std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
  if (phase == JobRun::Phase::Converting) {
    jobFraction_ = fraction / 2;
  } else if (phase == JobRun::Phase::Uploading) {
    jobFraction_ = converted_ ? 0.5 + fraction / 2 : fraction;
    const int percent = static_cast<int>(fraction * 100);
    // Without the archive's size in the event, the percent gives it.
    if (percent > 0 && bytes > 0) {
      // The event's percent counts what was sent, the bytes what the server took; the line's
      // percent must agree with its byte figures.
      figures_.percent = bytesTotal > 0
                             ? static_cast<int>(std::min(bytes, bytesTotal) * 100 / bytesTotal)
                             : percent;
      figures_.bytes = bytes;
      figures_.total = bytesTotal > 0 ? bytesTotal : percent >= 100 ? bytes : bytes * 100 / percent;
      rate_.Add(clock_(), bytes);
      figures_.bytesPerSecond = rate_.BytesPerSecond();
      figures_.secondsLeft = rate_.SecondsLeft(figures_.total);
    }
  } else {
    return;
  }
  emit changed();
}

int RunProgress::jobCount() const {
  int waiting = 0;
  for (int row = 1; row <= queue_.RowCount(); ++row) {
    const UploadJob* job = queue_.AtRow(row);
    // A running row other than the front one is the job converted beside its upload.
    const bool ahead = job->live == JobState::Waiting || job->live == JobState::Transfering;
    if (ahead && job->path != path_) ++waiting;
  }
  return started_ + waiting;
}

int RunProgress::overallPercent() const {
  const int count = jobCount();
  if (!running_ || count == 0 || started_ == 0) return 0;
  const double done = (started_ - 1 + jobFraction_) / count;
  return std::clamp(static_cast<int>(std::floor(done * 100)), 0, 100);
}

QString RunProgress::StatusText(const QString& status) const {
  if (!uploading()) return status;
  static const QRegularExpression kPercentLine(QStringLiteral("^(.*\\S)\\s+\\d{1,3}%$"));
  const QRegularExpressionMatch match = kPercentLine.match(status);
  return match.hasMatch() ? UploadProgressText(match.captured(1), figures_) : status;
}

}  // namespace cf
