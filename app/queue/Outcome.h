#pragma once

#include <QString>

namespace cf {

// How a step or a whole job run ended. The message is what the job's row shows for a failure.
struct Outcome {
  enum class Status {
    Finished,      // done; the job is on the server (or the step did its part)
    Failed,        // the job failed; the queue goes on with the next waiting job
    UploadFailed,  // the upload failed; the queue waits for the user (the server may be down)
    Stopped,       // the user stopped it; the job waits again and the queue stops
    Canceled,      // the user declined the server's question; the queue goes on
    Unexpected,    // a fault the user is told about at once; the queue stops
  };

  Status status = Status::Finished;
  QString message;

  static Outcome Done() { return {}; }
  static Outcome Fail(const QString& text) { return {Status::Failed, text}; }
  static Outcome Stop() { return {Status::Stopped, {}}; }

  bool ok() const { return status == Status::Finished; }
  // The queue goes on with the next waiting job after this outcome.
  bool continuesQueue() const {
    return status == Status::Finished || status == Status::Failed || status == Status::Canceled;
  }
};

}  // namespace cf
