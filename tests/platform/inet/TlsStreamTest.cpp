// Secure requests of HttpClient against a TLS server on loopback with certificates made for the
// test: what goes through, and every way a server's identity can be refused.

#include "platform/inet/HttpClient.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "LoopbackServer.h"
#include "tests/platform/inet/TestCertificates.h"

namespace {

using inet::HttpClient;
using inet::HttpError;

std::string MakeFolder() {
  std::string pattern =
      (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : "/tmp") + "/tlsXXXXXX";
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + i / 977) & 0xFF);
  return data;
}

// A TLS server on 127.0.0.1 with a certificate for the given names, signed by its own authority.
class SecureServer {
 public:
  SecureServer(const std::vector<std::string>& dnsNames, const std::vector<std::string>& ips) {
    folder_ = MakeFolder();
    std::string error;
    ok_ = TestCertificates::Make(folder_, dnsNames, ips, &certificates_, &error);
    EXPECT_TRUE(ok_) << error;
    if (!ok_) return;
    server_ = std::make_unique<httplib::SSLServer>(certificates_.certFile.c_str(),
                                                   certificates_.keyFile.c_str());
    server_->Post("/echo", [this](const httplib::Request& request, httplib::Response& response) {
      ++requests_;
      response.set_header("X-Host", request.get_header_value("Host"));
      response.set_content(request.body, "application/octet-stream");
    });
    server_->Get("/big", [this](const httplib::Request&, httplib::Response& response) {
      ++requests_;
      response.set_content(Pattern(3 * 1024 * 1024 + 17), "application/octet-stream");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::yield();
  }
  ~SecureServer() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
    if (!folder_.empty()) std::system(("rm -rf '" + folder_ + "'").c_str());
  }

  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  const TestCertificates& Certificates() const { return certificates_; }
  int Requests() const { return requests_; }
  const std::string& Folder() const { return folder_; }

 private:
  bool ok_ = false;
  std::string folder_;
  TestCertificates certificates_;
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

bool OpenSecure(HttpClient& client, const std::string& host, const std::string& verb,
                const std::string& path, const std::string& trustFile,
                const inet::ProxySettings& proxy = inet::ProxySettings()) {
  inet::RequestOptions options;
  options.secure = true;
  options.trustFile = trustFile;
  return client.OpenSession("mavo", proxy) && client.Connect(host) &&
         client.OpenRequest(verb, path, "", options);
}

TEST(TlsStreamTest, SecurePostCarriesALargeBodyInSmallWritesAndReadsItsAnswer) {
  SecureServer server({"localhost"}, {"127.0.0.1"});
  HttpClient client;
  // A plain-HTTP proxy setting must not capture a secure request.
  const auto deadProxy = inet::ProxySettings::FromStrings(
      "http://127.0.0.1:" + std::to_string(LoopbackServer::FreePort()), "");
  ASSERT_TRUE(
      OpenSecure(client, server.Host(), "POST", "/echo", server.Certificates().caFile, deadProxy))
      << client.LastError();
  const std::string body = Pattern(2 * 1024 * 1024 + 3);
  ASSERT_TRUE(client.StartRequest(body.size())) << client.LastError();
  for (std::size_t offset = 0; offset < body.size(); offset += 1024) {
    const std::size_t piece = std::min<std::size_t>(1024, body.size() - offset);
    ASSERT_EQ(client.Write(body.data() + offset, piece), piece) << client.LastError();
  }
  ASSERT_TRUE(client.EndRequest()) << client.LastError();
  EXPECT_EQ(client.StatusCode(), 200);
  EXPECT_EQ(client.ResponseHeader("X-Host"), server.Host());
  std::string answer;
  ASSERT_TRUE(client.ReadAll(answer)) << client.LastError();
  EXPECT_TRUE(answer == body) << "echo differs, " << answer.size() << " bytes";
}

TEST(TlsStreamTest, LargeAnswerArrivesWholeThroughSmallReads) {
  SecureServer server({}, {"127.0.0.1"});
  HttpClient client;
  ASSERT_TRUE(OpenSecure(client, server.Host(), "GET", "/big", server.Certificates().caFile))
      << client.LastError();
  ASSERT_TRUE(client.StartRequest(0)) << client.LastError();
  ASSERT_TRUE(client.EndRequest()) << client.LastError();
  std::string answer;
  char piece[260];
  std::size_t read = 0;
  while (client.Read(piece, sizeof piece, read) && read > 0) answer.append(piece, read);
  EXPECT_EQ(client.LastErrorKind(), HttpError::kNone) << client.LastError();
  EXPECT_TRUE(answer == Pattern(3 * 1024 * 1024 + 17)) << answer.size() << " bytes";
}

TEST(TlsStreamTest, ServerWhoseIdentityCannotBeCheckedIsRefusedBeforeTheRequestIsSent) {
  SecureServer server({"elsewhere.invalid"}, {"127.0.0.2"});
  SecureServer stranger({"localhost"}, {"127.0.0.1"});
  struct Case {
    const char* what;
    std::string trustFile;
    const char* reason;
  };
  const Case cases[] = {
      {"a private authority is not in the system's store", "", "not accepted"},
      {"the certificate names another host", server.Certificates().caFile, "not accepted"},
      {"another authority signed it", stranger.Certificates().caFile, "not accepted"},
      {"the trust file is missing", server.Folder() + "/none.pem", "cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HttpClient client;
    ASSERT_TRUE(OpenSecure(client, server.Host(), "POST", "/echo", c.trustFile));
    EXPECT_FALSE(client.StartRequest(4));
    EXPECT_EQ(client.LastErrorKind(), HttpError::kConnect);
    EXPECT_NE(client.LastError().find(c.reason), std::string::npos) << client.LastError();
    EXPECT_EQ(client.Write("data", 4), 0u);
  }
  EXPECT_EQ(server.Requests(), 0);
}

TEST(TlsStreamTest, PlainHttpPeerFailsTheHandshakeInsteadOfPassingAsAnAnswer) {
  LoopbackServer plain([](LoopbackServer::Connection& connection) {
    connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  const std::string folder = MakeFolder();
  TestCertificates certificates;
  std::string error;
  ASSERT_TRUE(TestCertificates::Make(folder, {}, {"127.0.0.1"}, &certificates, &error)) << error;
  HttpClient client;
  ASSERT_TRUE(OpenSecure(client, "127.0.0.1:" + std::to_string(plain.Port()), "POST", "/x",
                         certificates.caFile));
  EXPECT_FALSE(client.StartRequest(0));
  EXPECT_EQ(client.LastErrorKind(), HttpError::kConnect) << client.LastError();
  EXPECT_FALSE(client.StatusCode().has_value());
  std::system(("rm -rf '" + folder + "'").c_str());
}

TEST(TlsStreamTest, AbortEndsAHandshakeTheServerNeverAnswers) {
  std::promise<void> connected;
  LoopbackServer silent([&connected](LoopbackServer::Connection& connection) {
    connected.set_value();
    connection.WaitForClose();
  });
  HttpClient client;
  ASSERT_TRUE(OpenSecure(client, "127.0.0.1:" + std::to_string(silent.Port()), "POST", "/x", ""));
  std::thread aborter([&] {
    connected.get_future().wait();
    client.Abort();
  });
  EXPECT_FALSE(client.StartRequest(0));
  EXPECT_EQ(client.LastErrorKind(), HttpError::kAborted) << client.LastError();
  aborter.join();
}

}  // namespace
