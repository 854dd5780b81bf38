#pragma once

#include <QString>

class RunContext;

// Reads the console text of a captured run chunk by chunk: follows the converter's progress,
// recognises the messages that make the rest of a conversion pointless, and keeps the output box
// text. Holds no process; the runner feeds it.
class OutputFollower {
 public:
  enum class Verdict {
    Continue,
    DecodeError,    // the source cannot be decoded well before its end
    ResampleError,  // the audio has more channels than the encoder can take
  };

  explicit OutputFollower(RunContext& context) : context_(context) {}

  // One chunk of output, and the seconds since the run began (for the remaining-time estimate).
  Verdict Follow(const QString& chunk, double elapsedSeconds);

  static constexpr int kDecodeErrorMarginSeconds = 2;

 private:
  void FollowProgress(const QString& chunk, double elapsedSeconds);
  void AppendOutput(const QString& chunk);

  RunContext& context_;
};
