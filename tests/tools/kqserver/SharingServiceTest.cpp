// The reference server's video-sharing service: how it reads an upload body, and what its login
// and upload routes refuse.

#include "platform/inet/HttpClient.h"
#include "tests/platform/inet/TestCertificates.h"
#include "tests/support/KqServerProcess.h"
#include "tools/kqserver/SharingService.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using kqserver::SharingService;

TEST(SharingService, BodyIsSplitIntoEntryAndVideoOnlyWhenEveryDelimiterIsInPlace) {
  const std::string entry = "<?xml version=\"1.0\"?>\r\n<entry/>\r\n";
  const std::string good = "--B\r\nContent-Type: application/atom+xml\r\n\r\n" + entry +
                           "\r\n--B\r\nContent-Type: video/wmv\r\n\r\nVIDEO\r\n--B--";
  struct Case {
    const char* what;
    std::string body;
    bool ok;
    uint64_t videoBytes;
  };
  const Case cases[] = {
      {"well-formed", good, true, 5},
      {"closing followed by a line break", good + "\r\n", true, 5},
      {"empty video",
       "--B\r\nContent-Type: application/atom+xml\r\n\r\n" + entry +
           "\r\n--B\r\nContent-Type: video/wmv\r\n\r\n\r\n--B--",
       true, 0},
      {"no closing delimiter (cut off)", good.substr(0, good.size() - 4), false, 0},
      {"wrong boundary", "--C" + good.substr(3), false, 0},
      {"first part not Atom",
       "--B\r\nContent-Type: text/plain\r\n\r\nx\r\n--B\r\n"
       "Content-Type: video/wmv\r\n\r\nV\r\n--B--",
       false, 0},
      {"second part not a video",
       "--B\r\nContent-Type: application/atom+xml\r\n\r\n<e/>\r\n--B\r\n"
       "Content-Type: text/plain\r\n\r\nV\r\n--B--",
       false, 0},
      {"only one part", "--B\r\nContent-Type: application/atom+xml\r\n\r\n<e/>\r\n--B--", false, 0},
  };
  QTemporaryDir folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = folder.filePath("body");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(c.body.data(), static_cast<qint64>(c.body.size()));
    file.close();
    SharingService::Upload upload;
    std::string parsedEntry;
    std::string problem;
    EXPECT_EQ(SharingService::ParseBody(path.toStdString(), "B", &upload, &parsedEntry, &problem),
              c.ok)
        << problem;
    if (!c.ok) {
      EXPECT_FALSE(problem.empty());
      continue;
    }
    EXPECT_EQ(parsedEntry, entry);
    EXPECT_EQ(upload.videoBytes, c.videoBytes);
    EXPECT_EQ(c.body.substr(upload.videoOffset, upload.videoBytes),
              c.videoBytes == 0 ? std::string() : std::string("VIDEO"));
  }
}

// Logs in over TLS with the server's test authority; returns status and answer.
std::pair<int, std::string> Login(int port, const std::string& caFile, const std::string& form) {
  inet::HttpClient client;
  inet::RequestOptions options;
  options.secure = true;
  options.trustFile = caFile;
  std::string answer;
  if (!client.OpenSession("mavo", inet::ProxySettings()) ||
      !client.Connect("127.0.0.1", static_cast<std::uint16_t>(port)) ||
      !client.OpenRequest("POST", SharingService::kLoginPath, "", options) ||
      !client.SendRequest("Content-Type:application/x-www-form-urlencoded", form) ||
      !client.ReadAll(answer)) {
    return {-1, client.LastError()};
  }
  return {client.StatusCode().value_or(-1), answer};
}

TEST(SharingService, LoginHandsOutATokenThatTheUploadRouteAsksFor) {
  QTemporaryDir folder;
  TestCertificates certificates;
  std::string error;
  ASSERT_TRUE(
      TestCertificates::Make(folder.path().toStdString(), {}, {"127.0.0.1"}, &certificates, &error))
      << error;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--init-demo", "--sharing-tls", "127.0.0.1:0", "--sharing-cert",
                            QString::fromStdString(certificates.certFile), "--sharing-key",
                            QString::fromStdString(certificates.keyFile)}))
      << server.ErrorText().toStdString();
  const QByteArray state = server.AdminGet("/admin/sharing");
  const qsizetype at = state.indexOf("tlsPort=\"") + 9;
  const int port = state.mid(at, state.indexOf('"', at) - at).toInt();
  ASSERT_GT(port, 0);

  struct Case {
    std::string form;
    int status;
    std::string prefix;
  };
  const Case cases[] = {
      {"Email=demo&Passwd=wrong&service=youtube&source=Q", 403, "Error=BadAuthentication"},
      {"Email=nobody&Passwd=demo&service=youtube&source=Q", 403, "Error=BadAuthentication"},
      {"Email=demo&Passwd=demo&service=mail&source=Q", 403, "Error=ServiceDisabled"},
      {"Email=demo&Passwd=demo&service=youtube&source=Q", 200, "Auth="},
  };
  std::string token;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    const auto [status, answer] = Login(port, certificates.caFile, c.form);
    EXPECT_EQ(status, c.status) << answer;
    EXPECT_EQ(answer.rfind(c.prefix, 0), 0u) << answer;
    if (status == 200) token = answer.substr(5, answer.find('\n') - 5);
  }
  ASSERT_FALSE(token.empty());

  const QByteArray body =
      "--Q\r\nContent-Type: application/atom+xml\r\n\r\n<?xml version=\"1.0\"?><entry><media:group>"
      "<media:title>T</media:title><media:category>Film</media:category></media:group></entry>"
      "\r\n--Q\r\nContent-Type: video/wmv\r\n\r\nVV\r\n--Q--";
  const auto upload = [&](const QByteArray& authorization, const QByteArray& payload) {
    return server.Exchange(
        "POST /feeds/api/users/default/uploads HTTP/1.0\r\nAuthorization: " + authorization +
        "\r\nContent-Type: multipart/related; boundary=Q\r\nContent-Length: " +
        QByteArray::number(payload.size()) + "\r\n\r\n" + payload);
  };
  const QByteArray auth = "GoogleLogin auth=" + QByteArray::fromStdString(token);
  EXPECT_EQ(upload("GoogleLogin auth=forged", body).status, 401);
  EXPECT_EQ(upload(auth, QByteArray(body).replace("Film", "Cooking")).status, 400);
  EXPECT_EQ(upload(auth, QByteArray(body).replace("</entry>", "</entr>")).status, 400);
  EXPECT_EQ(upload(auth, body.left(body.size() - 2)).status, 400);
  EXPECT_FALSE(server.AdminGet("/admin/sharing").contains("<upload"));
  const auto stored = upload(auth, body);
  EXPECT_EQ(stored.status, 201) << stored.body.toStdString();
  EXPECT_EQ(server.AdminGet("/admin/sharing/body?id=1"), body);
}

}  // namespace
