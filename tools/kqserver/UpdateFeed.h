#pragma once

#include <httplib.h>

#include <string>

namespace kqserver {

// The update server's side: the version list at /version_ctrl/clipferry/verinfo.php (the draft
// list with ?draft=1) and the files below /version_ctrl/clipferry/ (updater packages and each
// version's patch.zip), all from the data folder's "updates" folder:
//
//   updates/verinfo.xml  updates/verinfo_draft.xml
//   updates/version/updater_manifest.zip  updates/version/2.2/patch.zip ...
//
// The list is sent as stored, with a sha256 added to every item whose patch.zip is present and
// to a <package> element for every updater package present, unless the list gives its own.
class UpdateFeed {
 public:
  explicit UpdateFeed(std::string dataDir);

  static bool Handles(const std::string& lowerPath);

  // Answers the request; returns the status and sets `note` for the request log.
  int Serve(const httplib::Request& request, httplib::Response& response, std::string* note) const;

  // Files larger than this are not served (an update is a few megabytes).
  static constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;

 private:
  int ServeList(bool draft, httplib::Response& response, std::string* note) const;
  int ServeFile(const std::string& relative, httplib::Response& response, std::string* note) const;

  std::string root_;
};

}  // namespace kqserver
