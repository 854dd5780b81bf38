#pragma once

#include <QLibrary>
#include <QString>

#include <cstdint>
#include <functional>

namespace cf {

// The media-store functions of a recorded project, from the module that matches the project's
// version: kqLib_P5 for version 5 projects, kqLib_P6 for version 6, both in the program folder.
class KqLibrary {
 public:
  KqLibrary() = default;
  KqLibrary(const KqLibrary&) = delete;
  KqLibrary& operator=(const KqLibrary&) = delete;

  // File name of the module for a project version ("kqLib_P5.so"); empty for other versions.
  static QString ModuleFileName(const QString& projectVersion);

  // Loads the module of `projectVersion` from the program folder. False, with errorString(), for
  // other versions, a missing module or one without the three functions.
  bool Load(const QString& projectVersion);
  bool isLoaded() const { return verify_ != nullptr; }
  QString errorString() const { return error_; }

  // True when the store is whole (its header, length and checksum agree).
  bool VerifyWholeKqFile(const QString& kqFile) const;

  // Starts writing one JPEG of width x height per position listed in `listFile` into the folder
  // `folderName` beside the store, named by the position ("5000.jpg"), and returns at once.
  bool ThumbCreate2(const QString& kqFile, const QString& listFile, const QString& folderName,
                    int width, int height) const;

  // While the pictures are being written: the media time reached in milliseconds; -1 when done.
  int ThumbTime() const;

  // Polls ThumbTime every kThumbPollMs with the event loop running, until it reports -1.
  // `onProgress` receives every positive time. False when the reported time has not moved for
  // `stallMs`: a maker that stopped working must not hold the job for ever.
  bool WaitForThumbs(const std::function<void(int ms)>& onProgress,
                     int stallMs = kThumbStallMs) const;

  static constexpr int kThumbPollMs = 200;
  static constexpr int kThumbStallMs = 120000;

 private:
  using VerifyFunction = int32_t (*)(const char*);
  using CreateFunction = int32_t (*)(const char*, const char*, const char*, int32_t, int32_t);
  using TimeFunction = int32_t (*)();

  QLibrary library_;
  VerifyFunction verify_ = nullptr;
  CreateFunction create_ = nullptr;
  TimeFunction time_ = nullptr;
  QString error_;
};

}  // namespace cf
