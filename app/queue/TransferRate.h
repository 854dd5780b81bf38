#pragma once

#include <QString>
#include <QtGlobal>

#include <deque>
#include <utility>

namespace cf {

// The speed of an upload from (time, bytes acknowledged) samples, averaged over the last ten
// seconds, and the time left at that speed. Times are milliseconds of any steady clock.
class TransferRate {
 public:
  static constexpr qint64 kWindowMs = 10000;
  // Less than this gives no speed: a block or two says little about the link.
  static constexpr qint64 kMinSpanMs = 1000;

  // Bytes going back (the upload started over) forget the samples before.
  void Add(qint64 ms, qint64 bytes);
  void Reset() { samples_.clear(); }

  // Bytes a second over the window; 0 while it cannot be told.
  double BytesPerSecond() const;
  // Whole seconds (rounded up) to send what is left of `total`; -1 while no speed is known.
  qint64 SecondsLeft(qint64 total) const;

 private:
  struct Sample {
    qint64 ms;
    qint64 bytes;
  };
  // The newest sample at least a window old, then every sample inside the window.
  std::deque<Sample> samples_;
};

// What the status line tells of a running upload.
struct UploadFigures {
  int percent = 0;
  qint64 bytes = 0;
  qint64 total = 0;
  double bytesPerSecond = 0;  // 0: not known yet
  qint64 secondsLeft = -1;    // -1: not known yet
};

// "Uploading data to the server ... 56% (412 of 735 MB, 9.8 MB/s, about 33 s left)": `lead` and
// the figures through the msgUploadProgress text of frmUpload, or msgUploadProgressStart while
// the speed is not known. An empty lead leaves the figures alone.
QString UploadProgressText(const QString& lead, const UploadFigures& figures);
// {"412", "735 MB"}: the part and the whole, in the unit that suits the whole.
std::pair<QString, QString> SizeTexts(qint64 bytes, qint64 total);
// "9.8 MB/s", "512 KB/s".
QString SpeedText(double bytesPerSecond);
// "33 s", "4 min", "1 h 5 min".
QString DurationText(qint64 seconds);

}  // namespace cf
