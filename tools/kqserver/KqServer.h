#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/kqserver/FaultInjector.h"
#include "tools/kqserver/KqDatabase.h"
#include "tools/kqserver/KqHttpServer.h"
#include "tools/kqserver/RequestLog.h"
#include "tools/kqserver/SharingService.h"
#include "tools/kqserver/UpdateFeed.h"
#include "tools/kqserver/UploadSessions.h"

namespace kqserver {

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string dataDir;
  bool initDemo = false;
  bool verbose = false;
  bool acceptAnyArchive = false;
  std::vector<std::string> seedFiles;
  std::vector<std::string> faults;
  // The video-sharing service's login listener (TLS); off while sharingTlsPort is negative.
  std::string sharingTlsHost = "127.0.0.1";
  int sharingTlsPort = -1;
  std::string sharingCertFile;
  std::string sharingKeyFile;
  std::string sharingDeveloperKey;  // required of uploads when set
  ConnectionLimits connections;
  SessionLimits sessions;
};

// Sets one limit from `--limit NAME=VALUE`; false with a reason for an unknown name or value.
bool SetLimit(ServerOptions* options, const std::string& setting, std::string* error);

// The reference lecture-video server: the /mavo/ routes the uploader talks to, a plain sink for
// throughput measurements, and /admin/ routes through which tests seed data, arm faults and look
// at what was stored.
class KqServer {
 public:
  explicit KqServer(ServerOptions options);
  ~KqServer();

  // Opens the data folder, applies seeds and faults and binds the port.
  bool Prepare(std::string* error);
  int Port() const { return port_; }
  int SharingTlsPort() const { return sharing_ ? sharing_->TlsPort() : 0; }
  // Serves until Stop(); false when the server could not run.
  bool Run();
  void Stop();

 private:
  struct Exchange;

  void HandlePost(const httplib::Request& request, httplib::Response& response,
                  const httplib::ContentReader& reader);
  void HandleGet(const httplib::Request& request, httplib::Response& response);

  void GetFolder(Exchange& exchange);
  void GetVersion(Exchange& exchange);
  void PutFile(Exchange& exchange, const std::string& urlValue);
  void PostEcho(Exchange& exchange);
  void Sink(Exchange& exchange);
  void Admin(Exchange& exchange);
  void ServeUpdate(Exchange& exchange);

  bool ReadForm(Exchange& exchange, uint64_t limit);
  bool ReadText(Exchange& exchange, uint64_t limit, std::string* text);
  bool ReadBody(Exchange& exchange, uint64_t limit,
                const std::function<void(const char*, size_t)>& sink);
  std::optional<Account> Authenticate(Exchange& exchange, const char* root);
  bool ApplyOverride(Exchange& exchange, const Account& account, const std::string& route,
                     const char* root);
  bool ApplyEarlyFault(Exchange& exchange, const char* root);
  void Answer(Exchange& exchange, int status, const std::string& body);
  void Refuse(Exchange& exchange, int status, const std::string& body);
  void Finish(Exchange& exchange);
  bool ApplySeed(const std::string& xml, std::string* error);

  ServerOptions options_;
  KqDatabase db_;
  RequestLog log_;
  FaultInjector faults_;
  std::unique_ptr<UploadSessions> sessions_;
  std::unique_ptr<UpdateFeed> updates_;
  std::unique_ptr<SharingService> sharing_;
  std::unique_ptr<KqHttpServer> http_;
  int port_ = 0;
};

}  // namespace kqserver
