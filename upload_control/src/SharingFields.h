#pragma once

#include <QByteArray>
#include <QString>

namespace kqmavo2 {

// What a control instance keeps for the video-sharing service: the login's outcome, and the
// metadata of the upload it was last asked for (UTF-8).
struct SharingFields {
  static constexpr char kDefaultSource[] = "Quillbox";

  QByteArray source = kDefaultSource;  // application name sent with the login
  QByteArray authToken;                // from the last accepted login
  QByteArray uploadAddress;            // set by an accepted login
  QString result;                      // the service's answer to the last upload (YouTubeReponse)
  QByteArray category;
  QByteArray title;
  QByteArray keywords;
  QByteArray description;
  QByteArray fileName;
};

}  // namespace kqmavo2
