#include "platform/inet/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "LoopbackServer.h"

namespace {

using inet::HttpClient;
using inet::HttpError;

const char kContentType[] = "Content-Type: multipart/form-data; boundary=Qu1llbox5_Xu02=$";

std::string Local(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

// Opens a POST to host the way the upload control does.
void OpenPost(HttpClient& client, const std::string& host, const std::string& path = "/mavo/x/") {
  ASSERT_TRUE(client.OpenSession("mavo", inet::ProxySettings())) << client.LastError();
  ASSERT_TRUE(client.Connect(host)) << client.LastError();
  ASSERT_TRUE(client.OpenRequest("POST", path, "HTTP/1.0", {.reload = true})) << client.LastError();
}

// Sends body in one write and reads the whole answer; false at the first failing step.
bool Exchange(HttpClient& client, const std::string& body, std::string& answer) {
  return client.StartRequest(body.size()) &&
         (body.empty() || client.Write(body.data(), body.size()) == body.size()) &&
         client.EndRequest() && client.ReadAll(answer);
}

TEST(HttpClientTest, PostPutsExactlyTheAnnouncedHeadAndBodyOnTheWire) {
  LoopbackServer server(LoopbackServer::Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  HttpClient client;
  OpenPost(client, Local(server.Port()), "/mavo/getfolder/");
  ASSERT_TRUE(client.AddHeaders(kContentType));
  const std::string field =
      "--Qu1llbox5_Xu02=$\r\nContent-Disposition: form-data;name=\"a\"\r\n\r\nb\r\n";
  const std::string closing = "--Qu1llbox5_Xu02=$--";
  ASSERT_TRUE(client.StartRequest(field.size() + closing.size()));
  EXPECT_EQ(client.Write(field.data(), field.size()), field.size());
  EXPECT_EQ(client.Write(closing.data(), closing.size()), closing.size());
  ASSERT_TRUE(client.EndRequest()) << client.LastError();
  std::string answer;
  ASSERT_TRUE(client.ReadAll(answer));
  EXPECT_EQ(answer, "ok");

  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "POST /mavo/getfolder/ HTTP/1.0\r\nHost: " + Local(server.Port()) +
                "\r\nUser-Agent: mavo\r\n" + kContentType + "\r\nContent-Length: " +
                std::to_string(field.size() + closing.size()) + "\r\n\r\n" + field + closing);
}

TEST(HttpClientTest, HeadFollowsCallerTextAndOwnsLengthHostAndVersionRules) {
  LoopbackServer server(LoopbackServer::Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  HttpClient client;
  ASSERT_TRUE(client.OpenSession("mavo", inet::ProxySettings()));
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  // Default version, a path needing escapes, headers separated by LF alone with a stale length.
  ASSERT_TRUE(client.OpenRequest("POST", "youtube/a b\r\n", ""));
  ASSERT_TRUE(client.SendRequest(
      "Content-Type:application/x-www-form-urlencoded\nContent-Length:99\nHost: evil\n"
      "Transfer-Encoding: chunked\r\n",
      "x=1"))
      << client.LastError();
  EXPECT_EQ(client.StatusCode(), 200);
  ASSERT_TRUE(client.OpenRequest("GET", "/v", "HTTP/1.0"));
  ASSERT_TRUE(client.SendRequest("", ""));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string host = "Host: " + Local(server.Port()) + "\r\n";
  EXPECT_EQ(requests[0],
            "POST /youtube/a%20b%0D%0A HTTP/1.1\r\n" + host +
                "User-Agent: mavo\r\nContent-Type:application/x-www-form-urlencoded\r\n"
                "Content-Length: 3\r\nConnection: close\r\n\r\nx=1");
  EXPECT_EQ(requests[1], "GET /v HTTP/1.0\r\n" + host + "User-Agent: mavo\r\n\r\n");
}

// The transport hands over status, length and body bytes as sent, whatever the status.
TEST(HttpClientTest, AnswersAreReadWithTheirFraming) {
  struct Case {
    const char* answer;
    int status;
    std::optional<std::uint64_t> length;
    std::string body;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200, 5, "hello"},
      {"HTTP/1.1 201 Created\r\nContent-Length: 3\r\n\r\nabcTRAILING", 201, 3, "abc"},
      {"HTTP/1.0 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n", 302, 0, ""},
      {"HTTP/1.0 500 Internal Server Error\r\n\r\nboom", 500, std::nullopt, "boom"},
      {"HTTP/1.0 200 OK\n\n\xEF\xBB\xBF<a/>", 200, std::nullopt, "\xEF\xBB\xBF<a/>"},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz", 200, 1, "z"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x=y\r\nde\r\n0\r\n\r\n",
       200, std::nullopt, "abcde"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    LoopbackServer server(LoopbackServer::Answer(c.answer));
    HttpClient client;
    OpenPost(client, Local(server.Port()));
    std::string answer;
    ASSERT_TRUE(Exchange(client, "q", answer)) << client.LastError();
    EXPECT_EQ(client.StatusCode(), c.status);
    EXPECT_EQ(client.ContentLength(), c.length);
    EXPECT_EQ(answer, c.body);
  }
}

TEST(HttpClientTest, LargeBodyArrivesWholeThroughSmallReads) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  LoopbackServer server(LoopbackServer::Answer(
      "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big));
  HttpClient client;
  OpenPost(client, Local(server.Port()));
  ASSERT_TRUE(client.StartRequest(big.size()));
  for (std::size_t at = 0; at < big.size(); at += 1024) {
    const std::size_t piece = std::min<std::size_t>(1024, big.size() - at);
    ASSERT_EQ(client.Write(big.data() + at, piece), piece);
  }
  ASSERT_TRUE(client.EndRequest());
  std::string answer;
  std::size_t available = 0;
  char buffer[1000];
  while (client.QueryDataAvailable(available) && available > 0) {
    std::size_t read = 0;
    ASSERT_TRUE(client.Read(buffer, sizeof(buffer), read));
    answer.append(buffer, read);
  }
  EXPECT_EQ(client.LastErrorKind(), HttpError::kNone);
  EXPECT_TRUE(answer == big);
  EXPECT_TRUE(server.Requests().at(0).ends_with(big));
}

TEST(HttpClientTest, ReachesIpv6Loopback) {
  LoopbackServer server(LoopbackServer::Answer("HTTP/1.0 200 OK\r\n\r\nsix"), true);
  if (!server.Ok()) GTEST_SKIP() << "no IPv6 loopback here";
  for (const std::string& host : {"[::1]:" + std::to_string(server.Port()), std::string("::1")}) {
    HttpClient client;
    ASSERT_TRUE(client.OpenSession("mavo", inet::ProxySettings()));
    ASSERT_TRUE(client.Connect(host, server.Port()));
    ASSERT_TRUE(client.OpenRequest("POST", "/", "HTTP/1.0"));
    std::string answer;
    ASSERT_TRUE(Exchange(client, "", answer)) << client.LastError();
    EXPECT_EQ(answer, "six");
  }
  EXPECT_TRUE(server.Requests().at(0).find("\r\nHost: [::1]:") != std::string::npos);
}

// Each failure ends the step that meets it, with its kind, and never hangs.
TEST(HttpClientTest, FailuresEndTheStepThatMeetsThem) {
  const std::uint16_t refused = LoopbackServer::FreePort();
  std::string endlessHead = "HTTP/1.0 200 OK\r\n";
  while (endlessHead.size() < 100000) endlessHead += "X-Filler: abcdefghijklmnopqrstuvwxyz\r\n";
  struct Case {
    const char* name;
    LoopbackServer::Handler handler;
    std::string host;  // empty: the test server
    const char* failingStep;
    HttpError kind;
  };
  const Case cases[] = {
      {"unresolvable", nullptr, "no-such-host.invalid", "start", HttpError::kResolve},
      {"refused", nullptr, Local(refused), "start", HttpError::kConnect},
      {"silent",
       [](auto& c) {
         c.ReadRequest();
         c.WaitForClose();
       },
       "", "end", HttpError::kTimeout},
      {"hang-up", [](auto& c) { c.ReadRequest(); }, "", "end", HttpError::kClosed},
      {"not http", LoopbackServer::Answer("SSH-2.0-OpenSSH\r\n\r\n"), "", "end",
       HttpError::kProtocol},
      {"endless head", LoopbackServer::Answer(endlessHead), "", "end", HttpError::kProtocol},
      {"endless interim answers",
       [](auto& c) {
         c.ReadRequest();
         c.SendForever("HTTP/1.1 100 Continue\r\n\r\n");
       },
       "", "end", HttpError::kProtocol},
      {"short body", LoopbackServer::Answer("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc"), "",
       "read", HttpError::kClosed},
      {"bad chunk",
       LoopbackServer::Answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz"), "",
       "read", HttpError::kProtocol},
      {"declared too large",
       [](auto& c) {
         c.ReadRequest();
         c.Send("HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n");
         c.WaitForClose();
       },
       "", "read", HttpError::kTooLarge},
      {"endless body",
       [](auto& c) {
         c.ReadRequest();
         c.Send("HTTP/1.0 200 OK\r\n\r\n");
         c.SendForever(std::string(4096, 'x'));
       },
       "", "read", HttpError::kTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(c.handler ? c.handler : [](auto&) {});
    HttpClient client;
    OpenPost(client, c.host.empty() ? Local(server.Port()) : c.host);
    ASSERT_TRUE(client.SetReceiveTimeout(300));
    client.SetBodyCap(1024 * 1024);
    std::string step = "start";
    std::string answer;
    if (client.StartRequest(0)) {
      step = "end";
      if (client.EndRequest()) {
        step = "read";
        ASSERT_FALSE(client.ReadAll(answer));
      }
    }
    EXPECT_EQ(step, c.failingStep);
    EXPECT_EQ(client.LastErrorKind(), c.kind) << client.LastError();
    EXPECT_FALSE(client.LastError().empty());
    EXPECT_LE(answer.size(), 1024u * 1024u);
    if (c.host == "no-such-host.invalid") {
      EXPECT_NE(client.LastError().find("no-such-host.invalid"), std::string::npos);
    }
  }
}

// The deadline bounds the whole exchange: a server that trickles its answer, or never takes the
// body, is cut off although each single wait stays well within its time-out.
TEST(HttpClientTest, RequestDeadlineCutsOffAnExchangeThatDragsOn) {
  struct Case {
    const char* name;
    LoopbackServer::Handler handler;
    std::size_t bodyBytes;
    const char* failingStep;
  };
  const Case cases[] = {
      {"trickled head",
       [](auto& c) {
         c.ReadRequest();
         c.Drip("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", 40);
       },
       0, "end"},
      {"trickled body",
       [](auto& c) {
         c.ReadRequest();
         c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n");
         c.Drip(std::string(100, 'x'), 40);
       },
       0, "read"},
      {"body never taken", [](auto& c) { c.HoldUnread(); }, 64u * 1024 * 1024, "write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(c.handler);
    HttpClient client;
    OpenPost(client, Local(server.Port()));
    ASSERT_TRUE(client.SetReceiveTimeout(20000));
    ASSERT_TRUE(client.SetSendTimeout(20000));
    ASSERT_TRUE(client.SetRequestDeadline(300));
    const std::string body(c.bodyBytes, 'b');
    std::string step = "start";
    std::string answer;
    if (client.StartRequest(body.size())) {
      step = "write";
      if (body.empty() || client.Write(body.data(), body.size()) == body.size()) {
        step = "end";
        if (client.EndRequest()) {
          step = "read";
          EXPECT_FALSE(client.ReadAll(answer));
        }
      }
    }
    EXPECT_EQ(step, c.failingStep);
    EXPECT_EQ(client.LastErrorKind(), HttpError::kDeadline) << client.LastError();
    EXPECT_TRUE(client.DeadlinePassed());
    // Later steps fail for their own reason; the cause stays known.
    EXPECT_FALSE(client.EndRequest());
    EXPECT_TRUE(client.DeadlinePassed());
  }
}

TEST(HttpClientTest, BodyMustMatchTheAnnouncedLength) {
  LoopbackServer server(LoopbackServer::Answer("HTTP/1.0 200 OK\r\n\r\n"));
  HttpClient client;
  OpenPost(client, Local(server.Port()));
  ASSERT_TRUE(client.StartRequest(4));
  EXPECT_EQ(client.Write("abcde", 5), 0u);
  EXPECT_EQ(client.LastErrorKind(), HttpError::kUsage);
  EXPECT_EQ(client.Write("abc", 3), 3u);
  // One byte short: the server would wait for it, so ending fails at once instead.
  EXPECT_FALSE(client.EndRequest());
  EXPECT_EQ(client.LastErrorKind(), HttpError::kUsage);
  EXPECT_EQ(client.Write("d", 1), 0u);
}

TEST(HttpClientTest, RefusesTextThatWouldBreakTheRequestHead) {
  HttpClient client;
  EXPECT_FALSE(client.OpenSession("mavo\r\nX-Evil: 1", inet::ProxySettings()));
  ASSERT_TRUE(client.OpenSession("mavo", inet::ProxySettings()));
  for (const char* host : {"", "exa mple.org", "evil.org\r\nX: y", "[::1", "host:0", "host:99999",
                           "host:", "a/b", "[example.org]:80"}) {
    EXPECT_FALSE(client.Connect(host)) << host;
    EXPECT_EQ(client.LastErrorKind(), HttpError::kUsage);
  }
  ASSERT_TRUE(client.Connect("example.org"));
  EXPECT_FALSE(client.OpenRequest("PO ST", "/", "HTTP/1.0"));
  EXPECT_FALSE(client.OpenRequest("POST", "/", "HTTP/2"));
  ASSERT_TRUE(client.OpenRequest("POST", "/", "HTTP/1.0"));
  for (const char* header : {"X-A: 1\rX-B: 2", "no colon", ": empty name", "X-A: nul\x01"}) {
    EXPECT_FALSE(client.AddHeaders(header)) << header;
  }
}

TEST(HttpClientTest, AbortWakesABlockedWaitAndCloseMakesTheClientReusable) {
  std::promise<void> requestArrived;
  int connections = 0;
  LoopbackServer server([&](LoopbackServer::Connection& c) {
    c.ReadRequest();
    if (++connections == 1) {
      requestArrived.set_value();
      c.WaitForClose();
    } else {
      c.Send("HTTP/1.0 201 Created\r\n\r\nagain");
    }
  });
  HttpClient client;
  OpenPost(client, Local(server.Port()));
  std::thread aborter([&] {
    requestArrived.get_future().wait();
    client.Abort();
  });
  // The default five-minute wait: only Abort can end it within the test's time.
  std::string answer;
  EXPECT_FALSE(Exchange(client, "x", answer));
  aborter.join();
  EXPECT_EQ(client.LastErrorKind(), HttpError::kAborted);

  client.Close();
  OpenPost(client, Local(server.Port()));
  ASSERT_TRUE(Exchange(client, "x", answer)) << client.LastError();
  EXPECT_EQ(answer, "again");
}

// http_proxy carries the request with an absolute URL; no_proxy goes direct; a proxy setting that
// cannot be used fails the request rather than being bypassed.
TEST(HttpClientTest, ProxyFromEnvironmentIsUsedUnlessTheHostIsExcluded) {
  LoopbackServer proxy(LoopbackServer::Answer("HTTP/1.0 200 OK\r\n\r\nvia proxy"));
  LoopbackServer direct(LoopbackServer::Answer("HTTP/1.0 200 OK\r\n\r\ndirect"));
  const std::string proxyUrl = "http://us%40er:pw@" + Local(proxy.Port()) + "/";
  struct Case {
    std::string httpProxy;
    std::string host;
    std::string answer;  // empty: the request fails before it is sent
  };
  const Case cases[] = {{proxyUrl, "lecture.example.org:8080", "via proxy"},
                        {proxyUrl, Local(direct.Port()), "direct"},
                        {"socks5://127.0.0.1:1", "lecture.example.org", ""},
                        {"socks5://127.0.0.1:1", Local(direct.Port()), "direct"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.httpProxy + " " + c.host);
    setenv("http_proxy", c.httpProxy.c_str(), 1);
    setenv("no_proxy", "localhost, 127.0.0.1", 1);
    HttpClient client;
    ASSERT_TRUE(client.OpenSession("mavo"));
    unsetenv("http_proxy");
    unsetenv("no_proxy");
    ASSERT_TRUE(client.Connect(c.host));
    ASSERT_TRUE(client.OpenRequest("POST", "/mavo/getVersion/", "HTTP/1.0", {.reload = true}));
    std::string answer;
    EXPECT_EQ(Exchange(client, "", answer), !c.answer.empty()) << client.LastError();
    EXPECT_EQ(answer, c.answer);
  }
  EXPECT_EQ(proxy.Requests().at(0),
            "POST http://lecture.example.org:8080/mavo/getVersion/ HTTP/1.0\r\n"
            "Host: lecture.example.org:8080\r\nUser-Agent: mavo\r\n"
            "Proxy-Authorization: Basic dXNAZXI6cHc=\r\nPragma: no-cache\r\n"
            "Content-Length: 0\r\n\r\n");
  EXPECT_TRUE(direct.Requests().at(0).starts_with("POST /mavo/getVersion/ HTTP/1.0\r\n"));
}

// Secure connections themselves are covered by TlsStreamTest; here only that a secure request
// to a closed port fails like a plain one.
TEST(HttpClientTest, SecureRequestToAClosedPortFailsToConnect) {
  HttpClient client;
  ASSERT_TRUE(client.OpenSession("mavo", inet::ProxySettings()));
  ASSERT_TRUE(client.Connect("127.0.0.1", LoopbackServer::FreePort()));
  ASSERT_TRUE(client.OpenRequest("POST", "/login", "", {.secure = true}));
  EXPECT_FALSE(client.StartRequest(0));
  EXPECT_EQ(client.LastErrorKind(), HttpError::kConnect);
}

}  // namespace

namespace {

// Two requests in a row, each asking to keep the connection or not: the connections the server
// saw, the requests it got and the second answer's body.
struct TwoRequests {
  int connections = 0;
  std::vector<std::string> requests;
  std::string secondAnswer;
};

TwoRequests SendTwo(const std::string& answer, bool keepAlive) {
  std::atomic<int> connections{0};
  TwoRequests result;
  {
    LoopbackServer server([&](LoopbackServer::Connection& connection) {
      ++connections;
      // Answers as long as the client sends over this connection.
      while (!connection.ReadRequest().empty()) connection.Send(answer);
    });
    HttpClient client;
    EXPECT_TRUE(client.OpenSession("mavo", inet::ProxySettings()));
    for (int i = 0; i < 2; ++i) {
      std::string body;
      EXPECT_TRUE(client.Connect(Local(server.Port())));
      EXPECT_TRUE(client.OpenRequest("POST", "/x/", "HTTP/1.0", {.keepAlive = keepAlive}));
      EXPECT_TRUE(Exchange(client, "abc", body)) << client.LastError();
      EXPECT_FALSE(client.FailedOnKeptConnection());
      client.EndExchange();
      result.secondAnswer = body;
    }
    client.Close();
    result.requests = server.Requests();
  }
  result.connections = connections;
  return result;
}

}  // namespace

TEST(HttpClientTest, KeepsAConnectionOnlyAfterAnAnswerThatAgreedToIt) {
  struct Case {
    const char* name;
    std::string answer;
    bool keepAlive;
    int connections;
  };
  const Case cases[] = {
      {"1.0 keep-alive with a length",
       "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok", true, 1},
      {"1.0 keep-alive among other tokens",
       "HTTP/1.0 200 OK\r\nConnection: TE , Keep-Alive\r\nContent-Length: 2\r\n\r\nok", true, 1},
      {"1.0 without keep-alive", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", true, 2},
      {"1.1 with a length", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", true, 1},
      {"1.1 chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n",
       true, 1},
      {"1.1 close", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok", true, 2},
      {"bytes beyond the answer",
       "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nokJUNK", true, 2},
      {"not asked for", "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok",
       false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TwoRequests sent = SendTwo(c.answer, c.keepAlive);
    EXPECT_EQ(sent.connections, c.connections);
    EXPECT_EQ(sent.secondAnswer, "ok");
    for (const std::string& request : sent.requests) {
      if (request.empty()) continue;
      EXPECT_EQ(request.find("Connection: Keep-Alive\r\n") != std::string::npos, c.keepAlive);
    }
  }
}

// A kept connection the server closed while it was idle is noticed before sending: a fresh
// connection takes the request.
TEST(HttpClientTest, AKeptConnectionTheServerClosedIsNotUsed) {
  const std::string answer =
      "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok";
  std::atomic<int> connections{0};
  LoopbackServer server([&](LoopbackServer::Connection& connection) {
    // The first connection answers once and closes at once; the second one answers again.
    if (++connections == 1) {
      connection.ReadRequest();
      connection.Send(answer);
      return;
    }
    while (!connection.ReadRequest().empty()) connection.Send(answer);
  });
  HttpClient client;
  ASSERT_TRUE(client.OpenSession("mavo", inet::ProxySettings()));
  for (int i = 0; i < 2; ++i) {
    std::string body;
    ASSERT_TRUE(client.Connect(Local(server.Port())));
    ASSERT_TRUE(client.OpenRequest("POST", "/x/", "HTTP/1.0", {.keepAlive = true}));
    if (i == 1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(Exchange(client, "abc", body)) << client.LastError();
    EXPECT_EQ(body, "ok");
    client.EndExchange();
  }
  client.Close();
  EXPECT_EQ(connections, 2);
}
