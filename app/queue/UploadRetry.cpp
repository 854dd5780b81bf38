#include "app/queue/UploadRetry.h"

#include "app/queue/ResumeRecord.h"
#include "app/services/SettingsStore.h"
#include "app/services/modLanguage.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace cf {

namespace {

constexpr int kTickMs = 200;
constexpr qint64 kMaxLimitMinutes = 7 * 24 * 60;

}  // namespace

int RetrySchedule::WaitMs(int retry) const {
  return retry < waitsMs.size() ? waitsMs[retry] : thenEveryMs;
}

RetrySchedule RetrySchedule::FromSettings() {
  RetrySchedule schedule;
  bool ok = false;
  const qint64 minutes =
      ReadPlainSetting(QString::fromLatin1(kSettingsSection),
                       QString::fromLatin1(kUploadRetryMinutesKey), QStringLiteral("60"))
          .trimmed()
          .toLongLong(&ok);
  if (ok && minutes >= 0 && minutes <= kMaxLimitMinutes) schedule.limitMs = minutes * 60000;
  return schedule;
}

UploadRetry::UploadRetry(UploadControl& control, CancelToken stop, CancelToken pause,
                         RetrySchedule schedule)
    : control_(control),
      stop_(std::move(stop)),
      pause_(std::move(pause)),
      schedule_(std::move(schedule)) {}

Outcome UploadRetry::Run(const UploadStep::Request& request, const UploadStep::Events& events,
                         QString* contentID) {
  qint64 waited = 0;
  for (;;) {
    UploadStep step(control_, stop_, pause_);
    const Outcome sent = step.Run(request, events, contentID);
    if (!step.linkFailed()) return sent;
    const int wait = schedule_.WaitMs(retries_);
    if (waited + wait > schedule_.limitMs) return sent;
    if (events.note) events.note(sent.message);
    if (!Wait(wait, events)) {
      // Stop forgets the session as it does during the upload; a pause keeps it.
      if (!pause_.cancelled()) ResumeRecord::Remove(request.archive);
      return Outcome::Stop();
    }
    waited += wait;
    ++retries_;
  }
}

bool UploadRetry::Wait(int ms, const UploadStep::Events& events) {
  const QString text = GetResString(QStringLiteral("uploadResume"), QStringLiteral("msgWaitServer"),
                                    QStringLiteral("Waiting for the server, next try in %1 s"));
  const QDeadlineTimer deadline(ms);
  qint64 shown = -1;
  while (!stop_.cancelled() && !deadline.hasExpired()) {
    const qint64 left = (deadline.remainingTime() + 999) / 1000;
    if (left != shown) {
      // Both count down; the output box keeps one line for the wait.
      if (events.note) events.note((shown < 0 ? QString() : QStringLiteral("\r")) + text.arg(left));
      shown = left;
      events.status(text.arg(left));
    }
    QEventLoop loop;
    QTimer::singleShot(std::min<qint64>(kTickMs, std::max<qint64>(1, deadline.remainingTime())),
                       &loop, &QEventLoop::quit);
    loop.exec();
  }
  return !stop_.cancelled();
}

}  // namespace cf
