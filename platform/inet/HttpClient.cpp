#include "platform/inet/HttpClient.h"

namespace inet {

struct HttpClient::Impl {};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {}
HttpClient::~HttpClient() = default;
bool HttpClient::OpenSession(std::string_view) { return Fail(HttpError::kUnsupported, "not yet"); }
bool HttpClient::OpenSession(std::string_view, const ProxySettings&) { return false; }
bool HttpClient::Connect(std::string_view, std::uint16_t) { return false; }
bool HttpClient::OpenRequest(std::string_view, std::string_view, std::string_view, RequestOptions) {
  return false;
}
bool HttpClient::AddHeaders(std::string_view) { return false; }
bool HttpClient::SetReceiveTimeout(int) { return false; }
bool HttpClient::SetSendTimeout(int) { return false; }
bool HttpClient::SetConnectTimeout(int) { return false; }
void HttpClient::SetBodyCap(std::uint64_t) {}
bool HttpClient::StartRequest(std::uint64_t) { return false; }
std::size_t HttpClient::Write(const void*, std::size_t) { return 0; }
bool HttpClient::EndRequest() { return false; }
bool HttpClient::SendRequest(std::string_view, std::string_view) { return false; }
std::optional<int> HttpClient::StatusCode() const { return {}; }
std::optional<std::uint64_t> HttpClient::ContentLength() const { return {}; }
std::optional<std::string> HttpClient::ResponseHeader(std::string_view) const { return {}; }
const HttpResponseHead* HttpClient::ResponseHead() const { return nullptr; }
bool HttpClient::QueryDataAvailable(std::size_t&) { return false; }
bool HttpClient::Read(void*, std::size_t, std::size_t&) { return false; }
bool HttpClient::ReadAll(std::string&) { return false; }
void HttpClient::Close() {}
void HttpClient::Abort() {}
bool HttpClient::Fail(HttpError kind, std::string message) {
  lastErrorKind_ = kind;
  lastError_ = std::move(message);
  return false;
}

}  // namespace inet
