#pragma once

#include <httplib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/kqserver/KqDatabase.h"
#include "tools/kqserver/RequestLog.h"

namespace kqserver {

// The video-sharing service the upload control can publish to: a login form on a TLS listener
// of its own that hands out tokens for the server's accounts, the category document, and the
// multipart/related upload of an Atom entry and a video, kept in the data folder with its
// metadata so that tests can look at exactly what arrived.
class SharingService {
 public:
  static constexpr const char* kLoginPath = "/youtube/accounts/ClientLogin";
  static constexpr const char* kCategoriesPath = "/schemas/2007/categories.cat";
  static constexpr const char* kUploadPath = "/feeds/api/users/default/uploads";
  static constexpr const char* kCategoryScheme = "urn:clipferry:sharing:2007:categories";

  struct Upload {
    int id = 0;
    std::string account;
    std::string slug;
    std::string title;
    std::string description;
    std::string category;
    std::string scheme;
    std::string keywords;
    uint64_t videoOffset = 0;  // where the video part's bytes start in the stored body
    uint64_t videoBytes = 0;
    std::string bodyPath;  // the request body as received
  };

  SharingService(KqDatabase* db, RequestLog* log, std::string dataDir, std::string developerKey);
  ~SharingService();

  // Binds the TLS listener of the login form; port 0 picks a free one.
  bool BindTls(const std::string& host, int port, const std::string& certFile,
               const std::string& keyFile, std::string* error);
  int TlsPort() const { return tlsPort_; }
  // Serves the TLS listener on a thread of its own until Stop().
  void Start();
  void Stop();

  static bool IsUploadPath(const std::string& lowerPath);
  static bool IsCategoriesPath(const std::string& lowerPath);
  static bool IsAdminPath(const std::string& lowerPath);

  // Routes of the plain listener. `contentType` is the request's Content-Type.
  void HandleUpload(const httplib::Request& request, const std::string& contentType,
                    httplib::Response& response, const httplib::ContentReader& reader);
  void HandleCategories(httplib::Response& response);
  // GET /admin/sharing (the TLS port, logins and uploads) and /admin/sharing/body?id=N.
  void HandleAdmin(const httplib::Request& request, httplib::Response& response);

  // Splits a stored multipart/related body into its entry document and video part.
  static bool ParseBody(const std::string& path, const std::string& boundary, Upload* upload,
                        std::string* entry, std::string* problem);

 private:
  void Login(const httplib::Request& request, httplib::Response& response);
  std::string AccountOfToken(const std::string& authorization);

  KqDatabase* db_;
  RequestLog* log_;
  std::string folder_;
  std::string developerKey_;
  std::unique_ptr<httplib::SSLServer> tls_;
  int tlsPort_ = 0;
  std::thread tlsThread_;

  std::mutex mutex_;
  std::map<std::string, std::string> tokens_;  // token -> account
  int logins_ = 0;
  std::vector<Upload> uploads_;
  int nextTemp_ = 0;
};

}  // namespace kqserver
