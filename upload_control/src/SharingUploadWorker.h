#pragma once

#include "upload_control/src/ControlRequestState.h"
#include "upload_control/src/SharingSettings.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <cstdint>

namespace kqmavo2 {

// Sends one video with its metadata to the video-sharing service as a single multipart/related
// request: an Atom entry document, then the file's bytes. The caller holds the transport's gate.
class SharingUploadWorker {
 public:
  static constexpr char kBoundary[] = "Qu1llbox";
  static constexpr std::uint32_t kBlockSize = 524288;

  // Local failures (Response) and the service's verdict (YouTubeReponse) are kept apart: a
  // caller reads the service's answer first and falls back to the local document.
  struct Outcome {
    QString response;
    QString sharingResult;
  };

  SharingUploadWorker(const ControlRequestState& request, const SharingSettings& settings,
                      std::atomic<std::int32_t>& progress, std::atomic<std::int32_t>& cancel);

  Outcome Run();

  // The header lines of the upload request.
  static QByteArray RequestHeaders(const SharingFields& fields, const QByteArray& developerKey);
  // The first body part: boundary, part header and the entry document with the metadata.
  static QByteArray MetadataPart(const SharingFields& fields, const SharingSettings& settings);
  // UTF-8 text made safe as XML character data or attribute value: markup characters become
  // references, a CR is kept as a reference so that no line of the text can read as a boundary,
  // and characters XML cannot carry at all are dropped.
  static QByteArray EscapeXml(const QByteArray& utf8);

 private:
  // The deadline of the one upload request, in milliseconds.
  int Deadline() const;
  bool SendFile(QFile& file, Outcome* outcome);

  const ControlRequestState& request_;
  const SharingSettings& settings_;
  std::atomic<std::int32_t>& progress_;
  std::atomic<std::int32_t>& cancel_;
  std::uint64_t fileSize_ = 0;
};

}  // namespace kqmavo2
