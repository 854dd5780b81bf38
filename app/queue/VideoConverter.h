#pragma once

#include "app/queue/Outcome.h"
#include "app/queue/UploadJob.h"

#include <QString>

#include <functional>

class RunContext;

namespace cf {

// What the conversion needs beyond the job: the server's wishes and this machine.
struct ConversionSettings {
  bool mp4 = true;          // the server's videotype is "mp4"; otherwise FLV
  bool keepSource = false;  // the server asked for the source as well (videosrc "1")
  int processors = 1;
  bool highSpeed = false;
};

// Turns a job's source into what the upload package needs, inside the job's work folder, with
// the outside tools of the program folder. Runs on the thread that calls it (a job's conversion
// has a thread of its own, see BackgroundConversion); every wait keeps that thread's events
// flowing, and the context's cancel token (cancelled by Stop) ends the running tool.
class VideoConverter {
 public:
  // Told when the encoding begins and ends.
  using StampFunction = std::function<void(JobTime which)>;

  // Result codes of ConvertVideo, as the driver turns them into failure texts.
  enum Result : int {
    kFinished = 1,  // done, or stopped by the user (the context's cancel token tells)
    kUnexpected = 0,
    kFileLocked = -1,
    kConvertError = -2,
    kDecodeError = -3,
    kInjectError = -4,
    kCopySourceError = -5,
    kCaptureError = -6,
    kKeyframeError = -7,
    kResampleError = -8,
    kNoSpace = -9,
    kUnsafePath = -10,  // a path the tools could not be given safely (errorDescription says why)
  };

  VideoConverter(const UploadJob& job, const ConversionSettings& settings, RunContext& context,
                 StampFunction stamp = {});

  // ConvertVideo as an outcome: done, stopped (the token was cancelled) or failed with the row's
  // failure text.
  Outcome Run(const QString& sourcePath, const QString& workFolder);
  // For a server that converts: the source goes into the work folder as "src.<extension>".
  static Outcome CopySourceForServer(const UploadJob& job, const QString& sourcePath,
                                     const QString& workFolder);

  int ConvertVideo(const QString& sourcePath, const QString& workFolder);
  int EncodeTwoPass(const QString& sourcePath, const QString& outputPath);
  bool InterleaveMp4(const QString& filePath);
  bool ExtractKeyframes(const QString& mp4Path);
  bool CaptureThumbnails(const QString& videoPath);

  // The converter's command line for one pass; `deinterlace` only takes effect for interlaced
  // jobs.
  QString PassCommand(const QString& sourcePath, const QString& outputPath, int pass,
                      bool deinterlace) const;
  // "-g" of the encoder: 60, or 30 per ten minutes for videos of half an hour or more.
  static QString GopLength(int secDuration);
  // The encoder's frame size; 720x540 is encoded as 720x600 with the 720:540 aspect kept.
  static QString SizeText(int width, int height);
  // Encoder threads: all processors when high speed is on or the machine is small, else one.
  static int EncoderThreads(int processors, bool highSpeed);
  // The job's failure text for a result code of ConvertVideo (0 and kUnsafePath take the error's
  // description).
  static QString FailureText(int code, const QString& description);

  // Why the last ConvertVideo returned 0.
  QString errorDescription() const { return errorDescription_; }

 private:
  int Convert(const QString& sourcePath, const QString& workFolder);
  bool CopySource(const QString& sourcePath, const QString& workFolder) const;
  QString SourceCopyName() const;
  // The hidden tools end with the conversion when Stop cancels the context's token.
  bool RunHidden(const QString& commandLine, const QString& workingFolder = {}) const;

  UploadJob job_;
  ConversionSettings settings_;
  RunContext& context_;
  StampFunction stamp_;
  QString errorDescription_;
};

}  // namespace cf
