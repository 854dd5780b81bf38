#pragma once

#include "app/media/ProcessRunner.h"
#include "app/queue/Outcome.h"
#include "app/queue/UploadStep.h"

#include <QList>

class UploadControl;

namespace cf {

// The waits between tries of an upload whose link failed.
struct RetrySchedule {
  QList<int> waitsMs{5000, 15000, 45000, 120000};
  int thenEveryMs = 300000;  // after the listed waits
  qint64 limitMs = 3600000;  // no further try once the waits would pass this in all

  // The wait before retry number `retry` (0 for the first).
  int WaitMs(int retry) const;
  // The default waits with the user's limit (kUploadRetryMinutesKey; 0 turns retries off).
  static RetrySchedule FromSettings();
};

// An upload that outlives a link that goes down for a while: when a block could not get through
// (the server gave no answer, as opposed to a refusal), it waits by the schedule, counting down,
// and continues the same session. Stop and Pause end the wait.
class UploadRetry {
 public:
  UploadRetry(UploadControl& control, CancelToken stop, CancelToken pause, RetrySchedule schedule);

  Outcome Run(const UploadStep::Request& request, const UploadStep::Events& events,
              QString* contentID);

  int retries() const { return retries_; }

 private:
  // False when Stop ended the wait.
  bool Wait(int ms, const UploadStep::Events& events);

  UploadControl& control_;
  CancelToken stop_;
  CancelToken pause_;
  RetrySchedule schedule_;
  int retries_ = 0;
};

}  // namespace cf
