#include "tools/kqserver/SharingService.h"

#include <openssl/rand.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kqserver {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kLoginLimit = 16 * 1024;
constexpr uint64_t kUploadLimit = 4ull * 1024 * 1024 * 1024;
// The entry document and both part headers must lie within this much of the body's start.
constexpr uint64_t kHeadScan = 1024 * 1024;
constexpr uint64_t kBodyRouteLimit = 512ull * 1024 * 1024;
constexpr const char* kAtomNamespace = "http://www.w3.org/2005/Atom";
constexpr const char* kMediaNamespace = "http://search.yahoo.com/mrss/";
constexpr const char* kSharingNamespace = "urn:clipferry:sharing:2007";
constexpr const char* kCategories[] = {"Education", "Science", "Howto", "People", "Film"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Serialize(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "", pugi::format_raw | pugi::format_no_declaration);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + out.str();
}

// The service's error document.
void Refuse(httplib::Response& response, int status, const char* code, const std::string& reason) {
  pugi::xml_document document;
  auto error = document.append_child("errors").append_child("error");
  error.append_child("code").text() = code;
  error.append_child("internalReason").text() = reason.c_str();
  response.status = status;
  response.set_content(Serialize(document), "text/xml; charset=utf-8");
}

std::string RandomToken() {
  unsigned char bytes[20];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  std::string token;
  char hex[3];
  for (unsigned char byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", byte);
    token += hex;
  }
  return token;
}

bool BoundaryOf(const std::string& contentType, std::string* boundary) {
  const std::string lower = Lower(contentType);
  if (lower.rfind("multipart/related", 0) != 0) return false;
  const size_t at = lower.find("boundary=");
  if (at == std::string::npos) return false;
  std::string value = contentType.substr(at + 9);
  const size_t end = value.find(';');
  if (end != std::string::npos) value.resize(end);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  if (value.empty() || value.size() > 70) return false;
  *boundary = value;
  return true;
}

}  // namespace

SharingService::SharingService(KqDatabase* db, RequestLog* log, std::string dataDir,
                               std::string developerKey)
    : db_(db),
      log_(log),
      folder_((fs::path(dataDir) / "sharing").string()),
      developerKey_(std::move(developerKey)) {
  std::error_code error;
  fs::remove_all(fs::path(folder_), error);
  fs::create_directories(folder_, error);
}

SharingService::~SharingService() { Stop(); }

bool SharingService::BindTls(const std::string& host, int port, const std::string& certFile,
                             const std::string& keyFile, std::string* error) {
  tls_ = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
  if (!tls_->is_valid()) {
    *error = "cannot use the certificate " + certFile + " with the key " + keyFile;
    tls_.reset();
    return false;
  }
  tls_->Post(kLoginPath, [this](const httplib::Request& request, httplib::Response& response) {
    Login(request, response);
  });
  tls_->set_payload_max_length(kLoginLimit);
  tlsPort_ =
      port == 0 ? tls_->bind_to_any_port(host) : (tls_->bind_to_port(host, port) ? port : -1);
  if (tlsPort_ <= 0) {
    *error = "cannot listen for logins on " + host + ":" + std::to_string(port);
    tls_.reset();
    return false;
  }
  return true;
}

void SharingService::Start() {
  if (tls_ && !tlsThread_.joinable())
    tlsThread_ = std::thread([this] { tls_->listen_after_bind(); });
}

void SharingService::Stop() {
  if (tls_) tls_->stop();
  if (tlsThread_.joinable()) tlsThread_.join();
}

bool SharingService::IsUploadPath(const std::string& lowerPath) {
  return lowerPath == Lower(kUploadPath);
}

bool SharingService::IsCategoriesPath(const std::string& lowerPath) {
  return lowerPath == kCategoriesPath;
}

bool SharingService::IsAdminPath(const std::string& lowerPath) {
  return lowerPath == "/admin/sharing" || lowerPath == "/admin/sharing/body";
}

void SharingService::Login(const httplib::Request& request, httplib::Response& response) {
  httplib::Params form;
  httplib::detail::parse_query_text(request.body, form);
  const auto field = [&form](const char* name) -> std::string {
    const auto found = form.find(name);
    return found == form.end() ? std::string() : found->second;
  };
  const std::string email = field("Email");
  response.set_header("Content-Type", "text/plain");
  std::string verdict;
  if (email.empty() || form.find("Passwd") == form.end()) {
    response.status = 403;
    verdict = "Error=BadAuthentication\n";
  } else if (field("service") != "youtube") {
    response.status = 403;
    verdict = "Error=ServiceDisabled\n";
  } else {
    const auto account = db_->FindAccount(email);
    if (!account || field("Passwd") != account->password) {
      response.status = 403;
      verdict = "Error=BadAuthentication\n";
    } else {
      const std::string token = RandomToken();
      std::lock_guard guard(mutex_);
      tokens_[token] = email;
      ++logins_;
      response.status = 200;
      verdict = "Auth=" + token + "\nYouTubeUser=" + email + "\n";
    }
  }
  response.set_content(verdict, "text/plain");
  log_->Write(request.remote_addr + " POST " + request.path + " (tls) " +
              std::to_string(response.status) + " account=" + email + " source=" + field("source"));
}

std::string SharingService::AccountOfToken(const std::string& authorization) {
  const std::string prefix = "GoogleLogin auth=";
  if (authorization.rfind(prefix, 0) != 0) return {};
  std::lock_guard guard(mutex_);
  const auto found = tokens_.find(authorization.substr(prefix.size()));
  return found == tokens_.end() ? std::string() : found->second;
}

void SharingService::HandleCategories(httplib::Response& response) {
  pugi::xml_document document;
  auto root = document.append_child("app:categories");
  root.append_attribute("xmlns:app") = "http://www.w3.org/2007/app";
  root.append_attribute("xmlns:atom") = kAtomNamespace;
  root.append_attribute("fixed") = "yes";
  root.append_attribute("scheme") = kCategoryScheme;
  for (const char* term : kCategories) {
    auto category = root.append_child("atom:category");
    category.append_attribute("term") = term;
    category.append_attribute("label") = term;
  }
  response.status = 200;
  response.set_content(Serialize(document), "application/atomcat+xml");
}

void SharingService::HandleUpload(const httplib::Request& request, const std::string& contentType,
                                  httplib::Response& response,
                                  const httplib::ContentReader& reader) {
  std::string temp;
  {
    std::lock_guard guard(mutex_);
    temp = (fs::path(folder_) / ("incoming-" + std::to_string(++nextTemp_))).string();
  }
  const auto finish = [&](const std::string& note) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    log_->Write(request.remote_addr + " POST " + request.path + " " +
                std::to_string(response.status) + " | " + note);
  };
  if (!request.has_header("Content-Length")) {
    Refuse(response, 411, "LengthRequired", "the upload must announce its length");
    return finish("no Content-Length");
  }
  // The whole body is read before anything is judged, so the client always gets to the answer.
  uint64_t received = 0;
  bool complete = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    complete = out && reader([&](const char* data, size_t size) {
                 received += size;
                 out.write(data, static_cast<std::streamsize>(size));
                 return received <= kUploadLimit && static_cast<bool>(out);
               });
    out.close();
    complete = complete && !out.fail();
  }
  if (!complete) {
    Refuse(response, 400, "IncompleteUpload", "the upload broke off");
    return finish("body broke off after " + std::to_string(received) + " bytes; nothing kept");
  }
  const std::string account = AccountOfToken(request.get_header_value("Authorization"));
  if (account.empty()) {
    Refuse(response, 401, "InvalidToken", "log in first");
    return finish("no valid token");
  }
  if (!developerKey_.empty() && request.get_header_value("X-GData-Key") != "key=" + developerKey_) {
    Refuse(response, 403, "InvalidDeveloperKey", "the developer key is not known");
    return finish("wrong developer key");
  }
  std::string boundary;
  if (!BoundaryOf(contentType, &boundary)) {
    Refuse(response, 400, "InvalidContentType", "expected multipart/related with a boundary");
    return finish("content type " + contentType);
  }
  Upload upload;
  std::string entryText;
  std::string problem;
  if (!ParseBody(temp, boundary, &upload, &entryText, &problem)) {
    Refuse(response, 400, "InvalidRequest", problem);
    return finish(problem);
  }
  pugi::xml_document entry;
  const pugi::xml_parse_result parsed = entry.load_string(entryText.c_str());
  const pugi::xml_node group = entry.child("entry").child("media:group");
  if (!parsed || !group) {
    problem = parsed ? std::string("the entry has no media:group")
                     : std::string("the entry is not well-formed XML: ") + parsed.description();
    Refuse(response, 400, "InvalidEntry", problem);
    return finish(problem);
  }
  upload.account = account;
  upload.slug = request.get_header_value("Slug");
  upload.title = group.child_value("media:title");
  upload.description = group.child_value("media:description");
  upload.category = group.child_value("media:category");
  upload.scheme = group.child("media:category").attribute("scheme").value();
  upload.keywords = group.child_value("media:keywords");
  if (upload.title.empty()) {
    Refuse(response, 400, "MissingTitle", "the video needs a title");
    return finish("no title");
  }
  if (std::find(std::begin(kCategories), std::end(kCategories), upload.category) ==
      std::end(kCategories)) {
    Refuse(response, 400, "InvalidCategory", "unknown category " + upload.category);
    return finish("unknown category " + upload.category);
  }
  {
    std::lock_guard guard(mutex_);
    upload.id = static_cast<int>(uploads_.size()) + 1;
    const fs::path stored = fs::path(folder_) / std::to_string(upload.id);
    std::error_code error;
    fs::create_directories(stored, error);
    fs::rename(temp, stored / "body", error);
    if (error) {
      Refuse(response, 500, "StorageFailed", "the upload could not be stored");
      return finish("cannot store the upload");
    }
    upload.bodyPath = (stored / "body").string();
    uploads_.push_back(upload);
  }
  pugi::xml_document answer;
  auto root = answer.append_child("entry");
  root.append_attribute("xmlns") = kAtomNamespace;
  root.append_attribute("xmlns:media") = kMediaNamespace;
  root.append_attribute("xmlns:yt") = kSharingNamespace;
  root.append_child("id").text() = ("tag:kqserver,2007:video:" + std::to_string(upload.id)).c_str();
  root.append_child("title").text() = upload.title.c_str();
  auto answerGroup = root.append_child("media:group");
  answerGroup.append_child("media:title").text() = upload.title.c_str();
  answerGroup.append_child("yt:videoid").text() = std::to_string(upload.id).c_str();
  response.status = 201;
  response.set_content(Serialize(answer), "application/atom+xml; charset=UTF-8");
  finish("stored video " + std::to_string(upload.id) + " of " + std::to_string(upload.videoBytes) +
         " bytes for " + account);
}

bool SharingService::ParseBody(const std::string& path, const std::string& boundary, Upload* upload,
                               std::string* entry, std::string* problem) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  const uint64_t size = fs::file_size(path, error);
  if (!in || error) {
    *problem = "the upload cannot be read back";
    return false;
  }
  std::string head(static_cast<size_t>(std::min<uint64_t>(size, kHeadScan)), '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  const std::string delimiter = "--" + boundary;
  if (head.rfind(delimiter + "\r\n", 0) != 0) {
    *problem = "the body does not start with its boundary";
    return false;
  }
  const size_t entryHeaderEnd = head.find("\r\n\r\n", delimiter.size() + 2);
  if (entryHeaderEnd == std::string::npos ||
      Lower(head.substr(0, entryHeaderEnd)).find("application/atom+xml") == std::string::npos) {
    *problem = "the first part is not an Atom entry";
    return false;
  }
  const size_t entryStart = entryHeaderEnd + 4;
  const size_t entryEnd = head.find("\r\n" + delimiter + "\r\n", entryStart);
  if (entryEnd == std::string::npos) {
    *problem = "the entry part has no end";
    return false;
  }
  *entry = head.substr(entryStart, entryEnd - entryStart);
  const size_t videoHeaderStart = entryEnd + 2 + delimiter.size() + 2;
  const size_t videoHeaderEnd = head.find("\r\n\r\n", videoHeaderStart);
  if (videoHeaderEnd == std::string::npos ||
      Lower(head.substr(videoHeaderStart, videoHeaderEnd - videoHeaderStart)).find("video/") ==
          std::string::npos) {
    *problem = "the second part is not a video";
    return false;
  }
  upload->videoOffset = videoHeaderEnd + 4;

  const std::string closing = "\r\n" + delimiter + "--";
  const uint64_t tailSize = std::min<uint64_t>(size, closing.size() + 2);
  std::string tail(static_cast<size_t>(tailSize), '\0');
  in.seekg(static_cast<std::streamoff>(size - tailSize));
  in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  uint64_t closingAt = 0;
  if (tail.size() >= closing.size() &&
      tail.compare(tail.size() - closing.size(), closing.size(), closing) == 0) {
    closingAt = size - closing.size();
  } else if (tail == closing + "\r\n") {
    closingAt = size - closing.size() - 2;
  } else {
    *problem = "the body does not end with its closing boundary";
    return false;
  }
  if (closingAt < upload->videoOffset) {
    *problem = "the video part overlaps the closing boundary";
    return false;
  }
  upload->videoBytes = closingAt - upload->videoOffset;
  return true;
}

void SharingService::HandleAdmin(const httplib::Request& request, httplib::Response& response) {
  const std::string path = Lower(request.path);
  std::lock_guard guard(mutex_);
  if (path == "/admin/sharing/body") {
    const int id = std::atoi(request.get_param_value("id").c_str());
    if (id < 1 || id > static_cast<int>(uploads_.size())) {
      Refuse(response, 404, "NotFound", "no such upload");
      return;
    }
    std::ifstream in(uploads_[static_cast<size_t>(id - 1)].bodyPath, std::ios::binary);
    std::error_code error;
    const uint64_t size = fs::file_size(uploads_[static_cast<size_t>(id - 1)].bodyPath, error);
    if (!in || error || size > kBodyRouteLimit) {
      Refuse(response, 500, "Unreadable", "the stored body cannot be handed out");
      return;
    }
    std::string body(static_cast<size_t>(size), '\0');
    in.read(body.data(), static_cast<std::streamsize>(size));
    response.status = 200;
    response.set_content(body, "application/octet-stream");
    return;
  }
  pugi::xml_document document;
  auto root = document.append_child("sharing");
  root.append_attribute("tlsPort") = tlsPort_;
  root.append_attribute("logins") = logins_;
  for (const Upload& upload : uploads_) {
    auto node = root.append_child("upload");
    node.append_attribute("id") = upload.id;
    node.append_attribute("account") = upload.account.c_str();
    node.append_attribute("slug") = upload.slug.c_str();
    node.append_attribute("title") = upload.title.c_str();
    node.append_attribute("description") = upload.description.c_str();
    node.append_attribute("category") = upload.category.c_str();
    node.append_attribute("scheme") = upload.scheme.c_str();
    node.append_attribute("keywords") = upload.keywords.c_str();
    node.append_attribute("videoOffset") = static_cast<unsigned long long>(upload.videoOffset);
    node.append_attribute("videoBytes") = static_cast<unsigned long long>(upload.videoBytes);
    node.append_attribute("body") = upload.bodyPath.c_str();
  }
  response.status = 200;
  response.set_content(Serialize(document), "text/xml; charset=utf-8");
}

}  // namespace kqserver
