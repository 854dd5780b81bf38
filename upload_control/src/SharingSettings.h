#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace kqmavo2 {

// Where the video-sharing service lives and the names its upload documents use. All of them are
// per-user settings (QSettings "Quillbox5"/"clipFerry", section "clipFerry"):
//
//   sharingLoginHost       host[:port] of the login form (TLS; port 443 unless written)
//   sharingDataHost        host[:port] serving the category document (port 80 unless written)
//   sharingUploadHost      host[:port] taking uploads (port 80 unless written)
//   sharingAtomNamespace   default namespace of the upload's entry document
//   sharingMediaNamespace  namespace of the media: elements
//   sharingNamespace       namespace of the yt: prefix
//   sharingCategoryScheme  scheme attribute of media:category
//   sharingDeveloperKey    sent as "X-GData-Key: key=..." with every upload
//   sharingTrustFile       PEM file of the authorities trusted for the login instead of the
//                          system's store
//
// No host is set by default, so nothing reaches any service until someone names one.
struct SharingSettings {
  static constexpr std::uint16_t kLoginPort = 443;
  static constexpr std::uint16_t kDataPort = 80;
  static constexpr std::uint16_t kUploadPort = 80;
  static constexpr char kLoginPath[] = "/youtube/accounts/ClientLogin";
  static constexpr char kCategoriesPath[] = "/schemas/2007/categories.cat";
  // The upload address of the logged-in user; the service knows the user by the token.
  static constexpr char kUploadPath[] = "/feeds/api/users/default/uploads";

  QString loginHost;
  QString dataHost;
  QString uploadHost;
  QString atomNamespace = QStringLiteral("http://www.w3.org/2005/Atom");
  QString mediaNamespace = QStringLiteral("http://search.yahoo.com/mrss/");
  QString sharingNamespace = QStringLiteral("urn:clipferry:sharing:2007");
  QString categoryScheme = QStringLiteral("urn:clipferry:sharing:2007:categories");
  QByteArray developerKey;
  QString trustFile;

  static SharingSettings Load();

  // "http://" + upload host + kUploadPath; empty while no upload host is set.
  QByteArray UploadAddress() const;

  // Splits "host[:port]" (an IPv6 address in brackets) into host and port, defaultPort when no
  // port is written. False for an empty or malformed value.
  static bool SplitHost(const QString& text, std::uint16_t defaultPort, QString* host,
                        std::uint16_t* port);
};

}  // namespace kqmavo2
