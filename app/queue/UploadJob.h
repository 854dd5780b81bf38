#pragma once

#include <QDateTime>
#include <QLatin1String>
#include <QString>
#include <QStringView>
#include <QTime>

#include <array>
#include <cstdint>
#include <optional>

namespace cf {

// Where a job stands. The texts are shown in the grid and compared by callers literally, so they
// are fixed ("Transfering" included).
enum class JobState : uint8_t { Waiting, Transfering, Editing, Finished, Failed, Canceled };

QLatin1String StateText(JobState state);
// Nothing for a text that names no state.
std::optional<JobState> StateFromText(QStringView text);

// The four moments a job records, each shown in its own grid column.
enum class JobTime : uint8_t { ConversionBegin, ConversionEnd, UploadBegin, UploadEnd };

// One queued video file or recorded project. The fields are read and written by name, and the
// queue file uses the same names for its elements, so their names and order are fixed.
// Below them the job's live state, the text of its last failure and its time stamps, which the
// queue store changes and signals; the grid only shows them.
struct UploadJob {
  QString fileName;  // name and extension of the source, no folder
  QString title;
  QString Author;
  QString state;     // the row's state saved when an edit starts, to restore it on cancel
  QString path;      // full path of the source; the job's key
  QString duration;  // "h:m:s", the seconds may carry a fraction
  int32_t secDuration = 0;
  int32_t videoWidth = 0;
  int32_t videoHeight = 0;
  QString vBitRate;  // kilobits per second followed by one unit character ("800k")
  QString aBitRate;
  QString Url;  // server address without scheme
  QString account;
  QString password;
  QString folderID;
  QString contentID;
  QString folderName;
  QString sysVer;
  bool bEncPassword = false;
  int32_t dstCvtType = 0;  // 0 local conversion, 1 server-side conversion, 2 none
  int32_t dstResType = 0;  // 0 source, 1 high, 2 standard resolution
  QString dstPostfix;      // "", "hd" or "src"
  int32_t srcVideoWidth = 0;
  int32_t srcVideoHeight = 0;
  int32_t customBps = 0;  // kbps; 0 means the computed default
  bool bInterlaced = false;
  int64_t fileSize = 0;
  QString dateLastModified;  // see FormatDateLastModified

  JobState live = JobState::Waiting;
  QString errorText;
  std::array<QTime, 4> times;  // by JobTime; invalid until stamped

  // "hh:mm:ss", or empty when that moment has not come.
  QString timeText(JobTime which) const;

  // Name of the converted video inside the work folder.
  QString dstFileName() const;

  // A recorded project rather than a video; the extension is compared as the file system gives it.
  bool isProject() const { return IsProjectFileName(fileName); }
  static bool IsProjectFileName(const QString& fileName);

  // Local time with whole seconds, so that the driver's whole-second comparison with the source
  // file's modification time holds after a round trip through the queue file.
  static QString FormatDateLastModified(const QDateTime& time);
  // An invalid QDateTime when the text is not in that form.
  static QDateTime ParseDateLastModified(const QString& text);
};

}  // namespace cf
