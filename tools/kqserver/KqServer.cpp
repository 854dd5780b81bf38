#include "tools/kqserver/KqServer.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/kqserver/ConnectionStream.h"
#include "tools/kqserver/Digest.h"
#include "tools/kqserver/MultipartParser.h"
#include "tools/kqserver/SeedLoader.h"
#include "tools/kqserver/ServerCodes.h"

namespace kqserver {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFormLimit = 64 * 1024;
constexpr uint64_t kBlockRequestLimit = kBlockSize + 64 * 1024;
constexpr uint64_t kAdminLimit = 4 * 1024 * 1024;
constexpr uint64_t kSinkLimit = UINT64_MAX;
constexpr size_t kMaxFields = 64;
constexpr int64_t kMegabyte = 1024 * 1024;
constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
constexpr const char* kXmlType = "text/xml; charset=utf-8";
constexpr const char* kPutFilePrefix = "/mavo/putfile";
constexpr size_t kMaxUrlValue = 3;
// Admin requests must carry this header. A web page cannot add it to a request it makes a
// browser send without the server's consent, so a page the user visits cannot arm faults or
// seed accounts.
constexpr const char* kAdminHeader = "X-Kq-Admin";

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string Serialize(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "", pugi::format_raw | pugi::format_no_declaration);
  return kDeclaration + out.str();
}

pugi::xml_node Root(pugi::xml_document& document, const char* name) {
  auto root = document.append_child(name);
  root.append_attribute("ver") = "2.0";
  return root;
}

void Child(pugi::xml_node parent, const char* name, const std::string& text) {
  parent.append_child(name).text() = text.c_str();
}

std::string ErrorDocument(const char* root, const std::string& code, bool showInfo = false) {
  pugi::xml_document document;
  auto node = Root(document, root);
  Child(node, "errInfo", code);
  if (showInfo) Child(node, "showInfo", "1");
  return Serialize(document);
}

std::string ErrorDocument(const char* root, int code) {
  return ErrorDocument(root, std::to_string(code));
}

// A refused login tells the uploader whether the account takes digests, so that a digest sent
// to a plain-password account is followed by one more try with the plain password.
std::string LoginRefusal(const char* root, bool accountWantsDigest) {
  pugi::xml_document document;
  auto node = Root(document, root);
  Child(node, "errInfo", std::to_string(codes::kLoginRefused));
  Child(node.append_child("sysinfo"), "enc", accountWantsDigest ? "1" : "0");
  return Serialize(document);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool ParseInt(const std::string& text, int64_t* value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  const auto [stop, error] = std::from_chars(begin, end, *value);
  return error == std::errc() && stop == end && begin != end;
}

bool IsLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

// Collects plain form fields in their order; file parts of requests that expect none are read
// and ignored.
class FieldCollector : public MultipartParser::Receiver {
 public:
  bool OnField(const std::string& name, const std::string& value) override {
    if (fields.size() >= kMaxFields) return false;
    fields.emplace_back(name, value);
    return true;
  }
  bool OnFileBegin(const std::string&, const std::string&) override { return true; }
  bool OnFileData(const char*, size_t) override { return true; }
  bool OnFileEnd() override { return true; }

  Fields fields;
};

// The fields of a block request, then its one file part handed on as it arrives.
class BlockCollector : public FieldCollector {
 public:
  bool OnFileBegin(const std::string& name, const std::string&) override {
    if (files++ > 0) return true;
    partName = name;
    if (onFileBegin) onFileBegin();
    return true;
  }
  bool OnFileData(const char* data, size_t size) override {
    if (files == 1 && onFileData) onFileData(data, size);
    return true;
  }

  int files = 0;
  std::string partName;
  std::function<void()> onFileBegin;
  std::function<void(const char*, size_t)> onFileData;
};

const std::string* FindField(const Fields& fields, const std::string& name) {
  for (const auto& [key, value] : fields) {
    if (key == name) return &value;
  }
  return nullptr;
}

}  // namespace

struct KqServer::Exchange {
  Exchange(const httplib::Request& incoming, httplib::Response& outgoing)
      : request(incoming), response(outgoing) {}

  const httplib::Request& request;
  httplib::Response& response;
  const httplib::ContentReader* reader = nullptr;
  ConnectionStream* stream = nullptr;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  Fields fields;
  uint64_t contentLength = 0;
  uint64_t bodyBytes = 0;
  uint64_t dropAt = 0;  // cut the connection once the body reaches this many bytes; 0: never
  bool dropped = false;
  bool bodyUnread = false;
  std::optional<FaultInjector::Fault> fault;
  std::string account;
  std::string note;
  int status = 0;
  bool answered = false;

  const std::string* Field(const std::string& name) const { return FindField(fields, name); }
  std::string FieldOr(const std::string& name, const std::string& fallback) const {
    const auto* value = Field(name);
    return value ? *value : fallback;
  }
  void Note(const std::string& text) {
    if (!note.empty()) note += "; ";
    note += text;
  }
};

KqServer::KqServer(ServerOptions options) : options_(std::move(options)) {}

KqServer::~KqServer() = default;

bool KqServer::Prepare(std::string* error) {
  std::error_code fsError;
  fs::create_directories(options_.dataDir, fsError);
  if (fsError || !fs::is_directory(options_.dataDir)) {
    *error = "cannot create the data folder " + options_.dataDir;
    return false;
  }
  options_.dataDir = fs::canonical(options_.dataDir, fsError).string();
  if (!db_.Open((fs::path(options_.dataDir) / "kqserver.db").string())) {
    *error = db_.LastError();
    return false;
  }
  if (!log_.Open((fs::path(options_.dataDir) / "requests.log").string(), options_.verbose)) {
    *error = "cannot write the request log in " + options_.dataDir;
    return false;
  }
  sessions_ = std::make_unique<UploadSessions>(&db_, options_.dataDir, options_.sessions);
  updates_ = std::make_unique<UpdateFeed>(options_.dataDir);
  sharing_ =
      std::make_unique<SharingService>(&db_, &log_, options_.dataDir, options_.sharingDeveloperKey);
  if (options_.sharingTlsPort >= 0 &&
      !sharing_->BindTls(options_.sharingTlsHost, options_.sharingTlsPort, options_.sharingCertFile,
                         options_.sharingKeyFile, error)) {
    return false;
  }
  // The demo data goes in once; starting again on the same folder keeps what uploads changed.
  if (options_.initDemo && !db_.FindAccount("demo") && !ApplySeed(SeedLoader::DemoSeed(), error)) {
    return false;
  }
  for (const auto& file : options_.seedFiles) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
      *error = "cannot read the seed file " + file;
      return false;
    }
    if (!ApplySeed(text.str(), error)) {
      *error = file + ": " + *error;
      return false;
    }
  }
  if (options_.acceptAnyArchive) {
    db_.SaveSetting("checkArchive", "0");
    sessions_->SetCheckArchive(false);
  }
  for (const auto& rule : options_.faults) {
    FaultInjector::Fault fault;
    if (!FaultInjector::Parse(rule, &fault, error)) return false;
    faults_.Arm(fault);
  }

  http_ = std::make_unique<KqHttpServer>(options_.connections);
  http_->SetRefusalLog([this](const std::string& line) { log_.Write(line); });
  http_->Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                           const httplib::ContentReader& reader) {
    HandlePost(request, response, reader);
  });
  http_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    HandleGet(request, response);
  });
  http_->set_exception_handler([this](const httplib::Request& request, httplib::Response& response,
                                      std::exception_ptr thrown) {
    std::string what = "unknown";
    try {
      std::rethrow_exception(thrown);
    } catch (const std::exception& error) {
      what = error.what();
    } catch (...) {
    }
    response.status = 500;
    response.set_content(ErrorDocument("error", 500), kXmlType);
    log_.Write(request.remote_addr + " " + request.method + " " + request.path +
               " 500 internal error: " + what);
  });
  if (options_.port == 0) {
    port_ = http_->bind_to_any_port(options_.host);
  } else {
    port_ = http_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
  }
  if (port_ <= 0 || !http_->WidenBacklog()) {
    *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
    return false;
  }
  return true;
}

bool SetLimit(ServerOptions* options, const std::string& setting, std::string* error) {
  const size_t equals = setting.find('=');
  const std::string name = setting.substr(0, equals);
  int64_t value = 0;
  if (equals == std::string::npos || !ParseInt(setting.substr(equals + 1), &value) || value < 0 ||
      value > INT32_MAX) {
    *error = "bad limit " + setting + " (NAME=NUMBER)";
    return false;
  }
  auto& connections = options->connections;
  auto& sessions = options->sessions;
  if (name == "head-timeout-ms" && value > 0) {
    connections.headTimeoutMs = static_cast<int>(value);
  } else if (name == "min-body-rate") {
    connections.minBodyRate = static_cast<uint64_t>(value);
  } else if (name == "workers" && value > 0) {
    connections.maxWorkers = static_cast<size_t>(value);
  } else if (name == "sessions" && value > 0) {
    sessions.total = static_cast<size_t>(value);
  } else if (name == "sessions-per-account" && value > 0) {
    sessions.perAccount = static_cast<size_t>(value);
  } else if (name == "stale-session-ms") {
    sessions.staleAfter = std::chrono::milliseconds(value);
  } else if (name == "session-expiry-ms" && value > 0) {
    sessions.keepFor = std::chrono::milliseconds(value);
  } else {
    *error = "unknown limit or value " + setting;
    return false;
  }
  return true;
}

bool KqServer::ApplySeed(const std::string& xml, std::string* error) {
  if (!SeedLoader::Apply(&db_, xml, error)) return false;
  sessions_->SetCheckArchive(db_.Setting("checkArchive", "1") != "0");
  return true;
}

bool KqServer::Run() {
  if (sharing_) sharing_->Start();
  return http_ && http_->listen_after_bind();
}

void KqServer::Stop() {
  if (http_) http_->Shutdown();
  if (sharing_) sharing_->Stop();
}

void KqServer::HandlePost(const httplib::Request& request, httplib::Response& response,
                          const httplib::ContentReader& reader) {
  Exchange exchange(request, response);
  exchange.reader = &reader;
  exchange.stream = ConnectionStream::Current();
  const std::string path = Lower(request.path);

  if (path.rfind("/admin/", 0) == 0) {
    Admin(exchange);
  } else if (path.rfind(kPutFilePrefix, 0) == 0 && path.size() >= std::strlen(kPutFilePrefix) + 1 &&
             path.back() == '/') {
    // The original spelling of the address value matters: it is compared with the one issued.
    const size_t prefix = std::strlen(kPutFilePrefix);
    const std::string urlValue = request.path.substr(prefix, request.path.size() - prefix - 1);
    if (urlValue.size() > kMaxUrlValue ||
        !std::all_of(urlValue.begin(), urlValue.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0; })) {
      Refuse(exchange, 404, ErrorDocument("putFile", 404));
    } else {
      PutFile(exchange, urlValue);
    }
  } else {
    exchange.fault = faults_.Take(request.path, std::nullopt);
    if (exchange.fault) exchange.Note(std::string("fault ") + exchange.fault->rule);
    if (path == "/mavo/getfolder/" || path == "/mavo/getfolder") {
      GetFolder(exchange);
    } else if (path == "/mavo/getversion/" || path == "/mavo/getversion") {
      GetVersion(exchange);
    } else if (path.rfind("/mavo/post", 0) == 0) {
      PostEcho(exchange);
    } else if (path == "/sink" || path == "/sink/") {
      Sink(exchange);
    } else if (UpdateFeed::Handles(path)) {
      ServeUpdate(exchange);
    } else if (SharingService::IsUploadPath(path)) {
      sharing_->HandleUpload(request, request.get_header_value(KqHttpServer::kContentTypeHeader),
                             response, reader);
      exchange.status = response.status;
      exchange.answered = true;
    } else {
      Refuse(exchange, 404, ErrorDocument("error", 404));
    }
  }
  Finish(exchange);
}

void KqServer::HandleGet(const httplib::Request& request, httplib::Response& response) {
  Exchange exchange(request, response);
  exchange.stream = ConnectionStream::Current();
  if (Lower(request.path).rfind("/admin/", 0) == 0) {
    Admin(exchange);
  } else if (UpdateFeed::Handles(Lower(request.path))) {
    exchange.fault = faults_.Take(request.path, std::nullopt);
    if (exchange.fault) exchange.Note(std::string("fault ") + exchange.fault->rule);
    ServeUpdate(exchange);
  } else if (SharingService::IsCategoriesPath(Lower(request.path))) {
    sharing_->HandleCategories(response);
    exchange.status = response.status;
  } else {
    Answer(exchange, 404, ErrorDocument("error", 404));
  }
  Finish(exchange);
}

// Reads a body of known length straight from the connection in large pieces. cpp-httplib's own
// reader hands a body over in 4 KiB pieces, which on a 512 KiB block costs more than the rest of
// the request together. Header lines are read byte by byte from the same buffered stream, so the
// body starts exactly where this read starts.
static bool ReadLengthDelimited(ConnectionStream& stream, uint64_t length,
                                const std::function<bool(const char*, size_t)>& take) {
  constexpr size_t kPiece = 256 * 1024;
  thread_local std::vector<char> buffer(kPiece);
  uint64_t left = length;
  while (left > 0) {
    const ssize_t got =
        stream.read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, kPiece)));
    if (got <= 0) return false;
    left -= static_cast<uint64_t>(got);
    if (!take(buffer.data(), static_cast<size_t>(got))) return false;
  }
  return true;
}

bool KqServer::ReadBody(Exchange& exchange, uint64_t limit,
                        const std::function<void(const char*, size_t)>& sink) {
  const auto& request = exchange.request;
  if (!request.has_header("Content-Length") && !request.has_header("Transfer-Encoding")) {
    // An HTTP/1.0 request without a length has no body; waiting for the end of the connection
    // would hang a client that keeps it open for the answer.
    return true;
  }
  if (request.has_header("Content-Length")) {
    int64_t length = 0;
    if (!ParseInt(request.get_header_value("Content-Length"), &length) || length < 0) {
      exchange.bodyUnread = true;
      Answer(exchange, 400, ErrorDocument("error", codes::kBadRequest));
      exchange.Note("bad Content-Length");
      return false;
    }
    exchange.contentLength = static_cast<uint64_t>(length);
    if (exchange.fault && exchange.fault->kind == FaultInjector::Kind::kDrop) {
      exchange.dropAt =
          exchange.fault->dropAtOnce ? 1 : std::max<uint64_t>(1, exchange.contentLength / 2);
    }
    if (exchange.contentLength > limit) {
      exchange.bodyUnread = true;
      Answer(exchange, 413, ErrorDocument("error", codes::kTooLarge));
      exchange.Note("body of " + std::to_string(length) + " bytes refused");
      return false;
    }
  }
  uint64_t total = 0;
  const auto take = [&](const char* data, size_t size) {
    if (exchange.dropAt != 0 && exchange.stream && exchange.bodyBytes + size >= exchange.dropAt) {
      exchange.stream->Drop();
      exchange.dropped = true;
      return false;
    }
    total += size;
    if (total > limit) return false;
    exchange.bodyBytes += size;
    sink(data, size);
    return true;
  };
  const bool ok = request.has_header("Transfer-Encoding") || !exchange.stream
                      ? (*exchange.reader)(take)
                      : ReadLengthDelimited(*exchange.stream, exchange.contentLength, take);
  if (exchange.dropped) {
    exchange.Note("connection dropped after " + std::to_string(exchange.bodyBytes) + " body bytes");
    return false;
  }
  if (!ok) {
    exchange.bodyUnread = true;
    if (total > limit) {
      Answer(exchange, 413, ErrorDocument("error", codes::kTooLarge));
      exchange.Note("the body outgrew " + std::to_string(limit) + " bytes");
    } else if (exchange.stream && exchange.stream->TooSlow()) {
      Answer(exchange, 408, ErrorDocument("error", 408));
      exchange.Note("the body came too slowly, " + std::to_string(exchange.bodyBytes) +
                    " bytes arrived");
    } else {
      // Shorter than announced: an empty 200 would read as an accepted request.
      Answer(exchange, 400, ErrorDocument("error", codes::kBadRequest));
      exchange.Note("the body broke off after " + std::to_string(exchange.bodyBytes) + " bytes");
    }
    return false;
  }
  return true;
}

void KqServer::Refuse(Exchange& exchange, int status, const std::string& body) {
  // Read what the client is still sending (within reason), so it gets to see the answer
  // instead of a reset connection.
  if (exchange.reader && !ReadBody(exchange, kBlockRequestLimit, [](const char*, size_t) {})) {
    return;
  }
  Answer(exchange, status, body);
}

bool KqServer::ReadText(Exchange& exchange, uint64_t limit, std::string* text) {
  return ReadBody(exchange, limit,
                  [&](const char* data, size_t size) { text->append(data, size); });
}

// Reads a multipart body into `receiver`. A malformed body is still read to its end, so that
// the client, still sending, gets to see the 400 answer. An empty body has no fields.
static bool ReadMultipart(
    const httplib::Request& request, MultipartParser::Receiver* receiver, std::string* problem,
    const std::function<bool(const std::function<void(const char*, size_t)>&)>& readBody,
    bool* readOk) {
  std::string boundary;
  const bool multipart = MultipartParser::BoundaryFromContentType(
      request.get_header_value(KqHttpServer::kContentTypeHeader), &boundary);
  std::unique_ptr<MultipartParser> parser;
  if (multipart) parser = std::make_unique<MultipartParser>(boundary, receiver);
  bool parsing = multipart;
  uint64_t bytes = 0;
  *readOk = readBody([&](const char* data, size_t size) {
    bytes += size;
    if (parsing) parsing = parser->Feed(data, size);
  });
  if (!*readOk) return false;
  if (bytes == 0) return true;
  if (!multipart) {
    *problem = "the body is not multipart/form-data";
    return false;
  }
  if (!parsing || !parser->Finish()) {
    *problem = "malformed multipart body: " + parser->Error();
    return false;
  }
  return true;
}

bool KqServer::ReadForm(Exchange& exchange, uint64_t limit) {
  FieldCollector collector;
  std::string problem;
  bool readOk = false;
  const bool parsed = ReadMultipart(
      exchange.request, &collector, &problem,
      [&](const std::function<void(const char*, size_t)>& sink) {
        return ReadBody(exchange, limit, sink);
      },
      &readOk);
  if (!readOk) return false;
  if (ApplyEarlyFault(exchange, "error")) return false;
  if (!parsed) {
    Answer(exchange, 400, ErrorDocument("error", codes::kBadRequest));
    exchange.Note(problem);
    return false;
  }
  exchange.fields = std::move(collector.fields);
  return true;
}

bool KqServer::ApplyEarlyFault(Exchange& exchange, const char* root) {
  if (!exchange.fault) return false;
  switch (exchange.fault->kind) {
    case FaultInjector::Kind::kDrop:
      if (!exchange.dropped && exchange.stream) {
        // The body was shorter than the point of the cut: close before answering.
        exchange.stream->Drop();
        exchange.dropped = true;
        exchange.Note("connection dropped before the answer");
      }
      return true;
    case FaultInjector::Kind::kStatus:
      Answer(exchange, exchange.fault->status,
             std::string(kDeclaration) + "<error>injected status " +
                 std::to_string(exchange.fault->status) + "</error>");
      return true;
    case FaultInjector::Kind::kEmpty:
      Answer(exchange, 200, "");
      return true;
    case FaultInjector::Kind::kNoUrl: {
      pugi::xml_document document;
      Child(Root(document, root), "result", "no address");
      Answer(exchange, 200, Serialize(document));
      return true;
    }
    case FaultInjector::Kind::kTruncate:
    case FaultInjector::Kind::kDelay:
    case FaultInjector::Kind::kOverwrite:
    case FaultInjector::Kind::kDown:
      return false;
  }
  return false;
}

void KqServer::Answer(Exchange& exchange, int status, const std::string& body) {
  if (exchange.answered || exchange.dropped) return;
  exchange.answered = true;
  exchange.status = status;
  const auto& fault = exchange.fault;
  if (fault && fault->kind == FaultInjector::Kind::kDelay) {
    std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
    exchange.Note("answered after " + std::to_string(fault->delayMs) + " ms");
  }
  if (fault && fault->kind == FaultInjector::Kind::kTruncate && exchange.stream) {
    const std::string head =
        "HTTP/1.1 " + std::to_string(status) + " OK\r\nContent-Type: " + kXmlType +
        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    exchange.stream->WriteRaw(head + body.substr(0, body.size() / 2));
    exchange.stream->Drop();
    exchange.dropped = true;
    exchange.Note("answer cut off after " + std::to_string(body.size() / 2) + " of " +
                  std::to_string(body.size()) + " bytes");
    return;
  }
  exchange.response.status = status;
  exchange.response.set_content(body, kXmlType);
  if (exchange.bodyUnread) exchange.response.set_header("Connection", "close");
}

void KqServer::Finish(Exchange& exchange) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - exchange.started)
                           .count();
  std::string line =
      exchange.request.remote_addr + ":" + std::to_string(exchange.request.remote_port) + " " +
      exchange.request.method + " " + exchange.request.path + " " +
      (exchange.dropped ? std::string("-") : std::to_string(exchange.status)) +
      " in=" + std::to_string(exchange.bodyBytes) + " " + std::to_string(elapsed) + "ms";
  if (!exchange.account.empty()) line += " account=" + exchange.account;
  if (!exchange.note.empty()) line += " | " + exchange.note;
  log_.Write(line);
}

std::optional<Account> KqServer::Authenticate(Exchange& exchange, const char* root) {
  const std::string name = exchange.FieldOr("account", "");
  const std::string sent = exchange.FieldOr("password", "");
  exchange.account = name;
  const auto account = db_.FindAccount(name);
  bool accepted = false;
  if (account) {
    accepted = account->digest ? Lower(sent) == Digest::PasswordDigest(account->password)
                               : sent == account->password;
  }
  if (!accepted) {
    Answer(exchange, 200, LoginRefusal(root, account && account->digest));
    exchange.Note(account ? "wrong password" : "no such account");
    return std::nullopt;
  }
  return account;
}

bool KqServer::ApplyOverride(Exchange& exchange, const Account& account, const std::string& route,
                             const char* root) {
  const auto reply = db_.FindReply(account.name, route);
  if (!reply) return false;
  Answer(exchange, 200, ErrorDocument(root, reply->errInfo, reply->showInfo));
  exchange.Note("staged refusal " + reply->errInfo);
  return true;
}

void KqServer::GetFolder(Exchange& exchange) {
  if (!ReadForm(exchange, kFormLimit)) return;
  const auto account = Authenticate(exchange, "getFolder");
  if (!account || ApplyOverride(exchange, *account, "getfolder", "getFolder")) return;

  pugi::xml_document document;
  auto root = Root(document, "getFolder");
  if (!account->kqpver.empty()) root.append_attribute("kqpver") = account->kqpver.c_str();
  if (account->hasSysinfo) {
    auto sysinfo = root.append_child("sysinfo");
    Child(sysinfo, "ver", account->sysVer);
    Child(sysinfo, "enc", account->digest ? "1" : "0");
    auto settings = sysinfo.append_child("cvtSetting");
    Child(settings, "noCvtForMp4", account->noCvtForMp4);
    Child(settings, "customBps", account->customBps);
    if (!account->adId.empty()) Child(sysinfo, "adID", account->adId);
  }
  const auto folders = db_.Folders(account->name);
  if (account->folderForm == "flat") {
    for (const auto& folder : folders) {
      if (!folder.uploadable) continue;  // the flat form makes every listed folder uploadable
      auto item = root.append_child("item");
      Child(item, "id", std::to_string(folder.id));
      Child(item, "name", folder.name);
    }
  } else {
    auto list = root.append_child("folder");
    for (const auto& folder : folders) {
      auto item = list.append_child("item");
      Child(item, "id", std::to_string(folder.id));
      Child(item, "name", folder.name);
      Child(item, "pid", std::to_string(folder.pid));
      Child(item, "uploadable", folder.uploadable ? "1" : "0");
    }
  }
  exchange.Note(std::to_string(folders.size()) + " folders");
  Answer(exchange, 200, Serialize(document));
}

void KqServer::GetVersion(Exchange& exchange) {
  if (!ReadForm(exchange, kFormLimit)) return;
  const std::string version = db_.Setting("version", "5.0");
  if (!exchange.Field("account")) {
    // The version check of the uploader sends no fields at all.
    pugi::xml_document document;
    Child(Root(document, "getVersion"), "version", version);
    exchange.Note("version check");
    Answer(exchange, 200, Serialize(document));
    return;
  }
  const auto account = Authenticate(exchange, "getVersion");
  if (!account || ApplyOverride(exchange, *account, "getVersion", "getVersion")) return;
  int64_t folderId = 0;
  int64_t contentId = 0;
  if (!ParseInt(exchange.FieldOr("folderID", ""), &folderId) ||
      !ParseInt(exchange.FieldOr("contentID", ""), &contentId)) {
    Answer(exchange, 200, ErrorDocument("getVersion", codes::kBadRequest));
    exchange.Note("folderID or contentID missing or not a number");
    return;
  }
  const auto folder = db_.FindFolder(account->name, folderId);
  if (!folder || !folder->uploadable) {
    Answer(
        exchange, 200,
        ErrorDocument("getVersion", folder ? codes::kFolderNotUploadable : codes::kFolderNotFound));
    exchange.Note("folder " + std::to_string(folderId) + (folder ? " not uploadable" : " unknown"));
    return;
  }
  std::string overwrite = "0";
  if (contentId > 0) {
    const auto content = db_.FindContent(contentId);
    if (content && content->account == account->name) {
      overwrite = content->folderId == folderId ? content->overwrite : "2";
    }
  }
  if (exchange.fault && exchange.fault->kind == FaultInjector::Kind::kOverwrite) {
    overwrite = std::to_string(exchange.fault->overwrite);
  }
  pugi::xml_document document;
  auto root = Root(document, "getVersion");
  Child(root, "version", version);
  Child(root, "videotype", account->videotype);
  Child(root, "videosrc", account->videosrc);
  Child(root, "thumbnail", account->thumbnail);
  if (!account->slidesize.empty()) Child(root, "slidesize", account->slidesize);
  if (account->hasQuota) {
    auto quota = root.append_child("quota");
    Child(quota, "total", std::to_string(account->totalMb));
    Child(quota, "free", std::to_string(std::max<int64_t>(0, account->freeBytes) / kMegabyte));
    Child(quota, "maxsize", std::to_string(account->maxsizeMb));
  }
  Child(root, "overwrite", overwrite);
  exchange.Note("folder " + std::to_string(folderId) + " content " + std::to_string(contentId) +
                " overwrite " + overwrite);
  Answer(exchange, 200, Serialize(document));
}

void KqServer::PutFile(Exchange& exchange, const std::string& urlValue) {
  BlockCollector collector;
  UploadSessions::Fields fields;
  UploadSessions::Answer refusal;
  std::unique_ptr<UploadSessions::Block> block;
  bool blockFailed = false;

  collector.onFileBegin = [&] {
    exchange.fields = collector.fields;
    const std::string finish = exchange.FieldOr("sessFinish", "");
    const bool numbers = ParseInt(exchange.FieldOr("folderID", ""), &fields.folderId) &&
                         ParseInt(exchange.FieldOr("contentID", ""), &fields.contentId) &&
                         ParseInt(exchange.FieldOr("seqno", ""), &fields.seqno) &&
                         ParseInt(exchange.FieldOr("blockSize", ""), &fields.blockSize);
    fields.sessionId = exchange.FieldOr("sessID", "");
    fields.final = finish == "yes";
    exchange.Note("sess " + fields.sessionId + " block " + exchange.FieldOr("seqno", "?") +
                  (fields.final ? " final" : "") + " at /" + urlValue + "/");
    exchange.fault =
        faults_.Take(exchange.request.path, numbers ? std::optional(fields.seqno) : std::nullopt);
    if (exchange.fault) {
      exchange.Note(std::string("fault ") + exchange.fault->rule);
      if (exchange.fault->kind == FaultInjector::Kind::kDrop) {
        exchange.dropAt = exchange.fault->dropAtOnce
                              ? exchange.bodyBytes + 1
                              : std::max(exchange.bodyBytes + 1, exchange.contentLength / 2);
        return;
      }
      if (exchange.fault->kind != FaultInjector::Kind::kTruncate &&
          exchange.fault->kind != FaultInjector::Kind::kDelay) {
        return;  // answered after the body; the block is not kept
      }
    }
    if (collector.partName != "mavofile" || !numbers || fields.seqno < 0 ||
        (!finish.empty() && !fields.final) || !exchange.Field("account") ||
        !exchange.Field("password")) {
      refusal.errInfo = codes::kBadRequest;
      refusal.detail = "block fields missing or malformed";
      return;
    }
    const std::string name = exchange.FieldOr("account", "");
    const std::string sent = exchange.FieldOr("password", "");
    exchange.account = name;
    const auto account = db_.FindAccount(name);
    if (!account || !(account->digest ? Lower(sent) == Digest::PasswordDigest(account->password)
                                      : sent == account->password)) {
      refusal.errInfo = codes::kLoginRefused;
      refusal.detail = account ? "wrong password" : "no such account";
      return;
    }
    if (const auto reply = db_.FindReply(name, "putFile")) {
      refusal.errInfo = -1;
      refusal.detail = reply->errInfo;
      return;
    }
    block = sessions_->Begin(*account, fields, urlValue, &refusal);
  };
  collector.onFileData = [&](const char* data, size_t size) {
    if (block && !blockFailed && !block->Write(data, size)) blockFailed = true;
  };

  std::string problem;
  bool readOk = false;
  const bool parsed = ReadMultipart(
      exchange.request, &collector, &problem,
      [&](const std::function<void(const char*, size_t)>& sink) {
        return ReadBody(exchange, kBlockRequestLimit, sink);
      },
      &readOk);
  if (!readOk) return;  // dropped, broken off or too large: the block is not kept
  exchange.fields = collector.fields;
  if (!parsed) {
    Answer(exchange, 400, ErrorDocument("putFile", codes::kBadRequest));
    exchange.Note(problem.empty() ? "empty body" : problem);
    return;
  }
  if (collector.files == 0) {
    if (exchange.FieldOr("sessFinish", "") == "cancel") {
      exchange.fault = faults_.Take(exchange.request.path, std::nullopt);
      if (ApplyEarlyFault(exchange, "putFile")) return;
      const std::string id = exchange.FieldOr("sessID", "");
      const bool known = sessions_->Cancel(id);
      exchange.Note("cancel of sess " + id + (known ? "" : " (no such session)"));
      Answer(exchange, 200, ErrorDocument("putFile", codes::kCancelled));
      return;
    }
    Answer(exchange, 200, ErrorDocument("putFile", codes::kBadRequest));
    exchange.Note("no file part");
    return;
  }
  if (ApplyEarlyFault(exchange, "putFile")) return;
  if (!block) {
    if (refusal.errInfo == -1) {
      Answer(exchange, 200, ErrorDocument("putFile", refusal.detail));
      exchange.Note("staged refusal " + refusal.detail);
    } else {
      Answer(exchange, 200, ErrorDocument("putFile", refusal.errInfo));
      exchange.Note("refused " + std::to_string(refusal.errInfo) + ": " + refusal.detail);
    }
    return;
  }
  const UploadSessions::Answer answer = sessions_->Commit(block.get());
  block.reset();
  exchange.Note(answer.detail);
  if (answer.errInfo != 0) {
    Answer(exchange, 200, ErrorDocument("putFile", answer.errInfo));
    return;
  }
  pugi::xml_document document;
  auto root = Root(document, "putFile");
  if (answer.final) {
    Child(root, "contentID", std::to_string(answer.contentId));
  } else {
    // The uploader takes the first element whose name starts with "u" as the address, so the
    // url element comes first.
    Child(root, "url", answer.url);
    Child(root, "seqno", std::to_string(fields.seqno));
  }
  Answer(exchange, 200, Serialize(document));
}

void KqServer::PostEcho(Exchange& exchange) {
  if (!ReadForm(exchange, kFormLimit)) return;
  pugi::xml_document document;
  auto root = Root(document, "post");
  for (const auto& [name, value] : exchange.fields) {
    auto field = root.append_child("field");
    field.append_attribute("name") = name.c_str();
    field.text() = value.c_str();
  }
  exchange.Note(std::to_string(exchange.fields.size()) + " fields");
  Answer(exchange, 200, Serialize(document));
}

void KqServer::Sink(Exchange& exchange) {
  if (!ReadBody(exchange, kSinkLimit, [](const char*, size_t) {})) return;
  if (ApplyEarlyFault(exchange, "sink")) return;
  pugi::xml_document document;
  Child(document.append_child("sink"), "bytes", std::to_string(exchange.bodyBytes));
  Answer(exchange, 200, Serialize(document));
}

void KqServer::ServeUpdate(Exchange& exchange) {
  // The version list comes as a form post (account, password, ver); files come by GET.
  if (exchange.reader && !ReadForm(exchange, kFormLimit)) return;
  if (!exchange.reader && ApplyEarlyFault(exchange, "verInfo")) return;
  std::string note;
  exchange.status = updates_->Serve(exchange.request, exchange.response, &note);
  exchange.answered = true;
  exchange.Note(note);
}

void KqServer::Admin(Exchange& exchange) {
  if (!IsLoopback(exchange.request.remote_addr)) {
    Refuse(exchange, 403, ErrorDocument("error", 403));
    exchange.Note("admin routes answer only on loopback");
    return;
  }
  if (exchange.request.get_header_value(kAdminHeader) != "1") {
    Refuse(exchange, 403, ErrorDocument("error", 403));
    exchange.Note(std::string("admin request without ") + kAdminHeader + ": 1");
    return;
  }
  const std::string path = Lower(exchange.request.path);
  const bool post = exchange.request.method == "POST";
  pugi::xml_document document;
  std::string text;
  std::string error;
  if (post && path == "/admin/fault") {
    if (!ReadText(exchange, kAdminLimit, &text)) return;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    FaultInjector::Fault fault;
    if (!FaultInjector::Parse(text, &fault, &error)) {
      Answer(exchange, 400, std::string(kDeclaration) + "<error>" + error + "</error>");
      exchange.Note(error);
      return;
    }
    auto node = document.append_child("fault");
    node.append_attribute("id") = faults_.Arm(fault);
    exchange.Note("armed " + text);
  } else if (post && path == "/admin/faults/clear") {
    if (!ReadText(exchange, kAdminLimit, &text)) return;
    faults_.Clear();
    document.append_child("faults");
  } else if (post && path == "/admin/seed") {
    if (!ReadText(exchange, kAdminLimit, &text)) return;
    if (!ApplySeed(text, &error)) {
      pugi::xml_document failure;
      failure.append_child("error").text() = error.c_str();
      Answer(exchange, 400, Serialize(failure));
      exchange.Note(error);
      return;
    }
    document.append_child("seeded");
  } else if (!post && path == "/admin/faults") {
    auto list = document.append_child("faults");
    for (const auto& fault : faults_.List()) {
      auto node = list.append_child("fault");
      node.append_attribute("id") = fault.id;
      node.append_attribute("rule") = fault.rule.c_str();
      node.append_attribute("kind") = FaultInjector::KindName(fault.kind);
      node.append_attribute("remaining") = fault.remaining;
      node.append_attribute("hits") = fault.hits;
    }
  } else if (!post && path == "/admin/contents") {
    auto list = document.append_child("contents");
    for (const auto& content : db_.Contents()) {
      auto node = list.append_child("content");
      node.append_attribute("id") = static_cast<long long>(content.id);
      node.append_attribute("account") = content.account.c_str();
      node.append_attribute("folder") = static_cast<long long>(content.folderId);
      const std::string stored =
          content.path.empty() ? "" : (fs::path(options_.dataDir) / content.path).string();
      node.append_attribute("path") = stored.c_str();
      node.append_attribute("size") = static_cast<long long>(content.size);
      std::string sha256 = content.sha256;
      if (sha256.empty() && !stored.empty() && exchange.request.get_param_value("hash") == "1") {
        sha256 = Digest::FileSha256Hex(stored);
        if (!sha256.empty()) db_.SaveContentHash(content.id, sha256);
      }
      node.append_attribute("sha256") = sha256.c_str();
      node.append_attribute("overwrite") = content.overwrite.c_str();
      node.append_attribute("updated") = content.updated.c_str();
    }
  } else if (!post && path == "/admin/quota") {
    const std::string name = exchange.request.get_param_value("account");
    const auto account = db_.FindAccount(name);
    if (!account) {
      Answer(exchange, 404, ErrorDocument("error", 404));
      exchange.Note("no account " + name);
      return;
    }
    auto node = document.append_child("quota");
    node.append_attribute("account") = name.c_str();
    node.append_attribute("limited") = account->hasQuota ? 1 : 0;
    node.append_attribute("total") = static_cast<long long>(account->totalMb);
    node.append_attribute("free") =
        static_cast<long long>(std::max<int64_t>(0, account->freeBytes) / kMegabyte);
    node.append_attribute("freeBytes") = static_cast<long long>(account->freeBytes);
    node.append_attribute("maxsize") = static_cast<long long>(account->maxsizeMb);
  } else if (!post && path == "/admin/sessions") {
    auto list = document.append_child("sessions");
    for (const auto& session : sessions_->List()) {
      auto node = list.append_child("session");
      node.append_attribute("id") = session.id.c_str();
      node.append_attribute("account") = session.account.c_str();
      node.append_attribute("nextSeqno") = static_cast<long long>(session.nextSeqno);
      node.append_attribute("bytes") = static_cast<unsigned long long>(session.bytes);
    }
  } else if (!post && SharingService::IsAdminPath(path)) {
    sharing_->HandleAdmin(exchange.request, exchange.response);
    exchange.status = exchange.response.status;
    exchange.answered = true;
    return;
  } else {
    Refuse(exchange, 404, ErrorDocument("error", 404));
    return;
  }
  Answer(exchange, 200, Serialize(document));
}

}  // namespace kqserver
