// The video-sharing members of the control, created as a host creates it: the login over TLS,
// the category document and the upload, against the reference server's service emulation and
// against listeners that answer whatever a test needs.

#include "platform/com/Bstr.h"
#include "tests/platform/inet/TestCertificates.h"
#include "tests/support/KqServerProcess.h"
#include "tests/upload_control/ControlHarness.h"
#include "tests/upload_control/RawHttpListener.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <httplib.h>
#include <pugixml.hpp>

#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

namespace {

using cf::com::Bstr;
using cf::com::LONG;

const QString kUploadDoc2101 = QStringLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><putFile "
    "ver=\"2.0\"><errInfo>2101</errInfo></putFile>");

void SetSetting(const char* key, const QString& value) {
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  settings.setValue(QStringLiteral("clipFerry/") + QLatin1String(key), value);
  settings.sync();
}

QByteArray MakeVideo(const QString& path, qint64 size) {
  QByteArray data(size, Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) data[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
  // The boundary's own text inside the video must not end the part early for the service.
  if (size > 64) data.replace(20, 14, "\r\n--Qu1llbox--");
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(data);
  return data;
}

LONG Exec(ControlHarness& control) {
  LONG status = -1;
  control->get_ExecStatus(&status);
  return status;
}

QString SharingResult(ControlHarness& control) {
  Bstr text;
  control->get_YouTubeReponse(text.Out());
  return text.ToQString();
}

// Certificates for 127.0.0.1, made once for the whole run.
const TestCertificates& Certificates() {
  static QTemporaryDir folder;
  static TestCertificates made;
  static const bool ok = [] {
    std::string error;
    const bool done =
        TestCertificates::Make(folder.path().toStdString(), {}, {"127.0.0.1"}, &made, &error);
    EXPECT_TRUE(done) << error;
    return done;
  }();
  (void)ok;
  return made;
}

// A login service that answers each login with the next scripted status and text.
class ScriptedLogin {
 public:
  ScriptedLogin() : server_(Certificates().certFile.c_str(), Certificates().keyFile.c_str()) {
    server_.Post("/youtube/accounts/ClientLogin",
                 [this](const httplib::Request& request, httplib::Response& response) {
                   std::lock_guard guard(mutex_);
                   bodies_.push_back(request.body);
                   contentTypes_.push_back(request.get_header_value("Content-Type"));
                   response.status = status_;
                   response.set_content(answer_, "text/plain");
                 });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~ScriptedLogin() {
    server_.stop();
    thread_.join();
  }
  void Script(int status, const std::string& answer) {
    std::lock_guard guard(mutex_);
    status_ = status;
    answer_ = answer;
  }
  QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
  std::vector<std::string> Bodies() {
    std::lock_guard guard(mutex_);
    return bodies_;
  }
  std::vector<std::string> ContentTypes() {
    std::lock_guard guard(mutex_);
    return contentTypes_;
  }

 private:
  httplib::SSLServer server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  int status_ = 200;
  std::string answer_;
  std::vector<std::string> bodies_;
  std::vector<std::string> contentTypes_;
};

// Points the control at a scripted login and a raw upload listener.
void PointAt(const ScriptedLogin& login, const RawHttpListener& upload) {
  SetSetting("sharingLoginHost", login.Host());
  SetSetting("sharingTrustFile", QString::fromStdString(Certificates().caFile));
  SetSetting("sharingUploadHost", QStringLiteral("127.0.0.1:%1").arg(upload.Port()));
  SetSetting("sharingDataHost", QString());
}

// Uploads a small file and returns the Authorization header the service saw (empty if none).
QByteArray AuthorizationSent(ControlHarness& control, RawHttpListener& upload,
                             const QString& path) {
  const std::size_t before = upload.Requests().size();
  control->PutYouTubeFile(Bstr(u"Education"), Bstr(u"t"), Bstr(u"k"), Bstr(u"d"), Bstr(path));
  EXPECT_TRUE(control.WaitForEvents(1));
  const auto requests = upload.Requests();
  return requests.size() > before ? requests.back().Header("Authorization") : QByteArray();
}

TEST(Sharing, LoginAnswerKeepsTheFirstLinesValueAndARefusalKeepsThePreviousToken) {
  ScriptedLogin login;
  RawHttpListener upload([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{RawHttpListener::Answer(201, "<entry/>")};
  });
  PointAt(login, upload);
  const QString video = QDir::temp().filePath(QStringLiteral("clip.wmv"));
  MakeVideo(video, 3000);
  ControlHarness control;

  struct Step {
    const char* what;
    int status;
    std::string answer;
    LONG execStatus;
    QByteArray token;  // the token the next upload carries
  };
  const Step steps[] = {
      {"token on the first line, more lines after", 200, "Auth=tok-1\nSID=s\nLSID=l\n", 1, "tok-1"},
      {"refusal keeps the token", 403, "Error=BadAuthentication\n", 2, "tok-1"},
      {"Error= anywhere refuses even with a token line", 200, "Auth=tok-x\nError=Captcha\n", 2,
       "tok-1"},
      {"line ends in CR LF", 200, "Auth=tok-2\r\nSID=s\r\n", 1, "tok-2"},
      {"an error page is not a token", 500, "Status=broken\n", 1, "tok-2"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    login.Script(step.status, step.answer);
    control->put_ExecStatus(0);
    EXPECT_EQ(control->LoginYouTube(Bstr(u"teacher@example.org"), Bstr(u"p&ss word")),
              cf::com::S_OK);
    EXPECT_EQ(Exec(control), step.execStatus);
    EXPECT_EQ(AuthorizationSent(control, upload, video), "GoogleLogin auth=" + step.token);
  }
  // No login sends anything before it; the form is encoded for the wire.
  ASSERT_FALSE(login.Bodies().empty());
  EXPECT_EQ(login.Bodies()[0],
            "Email=teacher%40example.org&Passwd=p%26ss%20word&service=youtube&source=Quillbox");
  EXPECT_EQ(login.ContentTypes()[0], "application/x-www-form-urlencoded");
}

TEST(Sharing, UploadOutcomesAreSplitBetweenTheServicesAnswerAndTheControlsOwnDocument) {
  ScriptedLogin login;
  login.Script(200, "Auth=tok\n");
  std::atomic<int> mode{0};
  RawHttpListener upload([&mode](const RawHttpListener::Request&, int) {
    switch (mode.load()) {
      case 0:
        return RawHttpListener::Reply{RawHttpListener::Answer(201, "<entry><id>7</id></entry>")};
      case 1:
        return RawHttpListener::Reply{RawHttpListener::Answer(500, "boom")};
      case 2:
        return RawHttpListener::Reply{RawHttpListener::Answer(200, "")};
      default:
        return RawHttpListener::Reply{QByteArray(), false, false, true};
    }
  });
  PointAt(login, upload);
  const QString video = QDir::temp().filePath(QStringLiteral("outcomes.wmv"));
  MakeVideo(video, 70000);
  ControlHarness control;
  control->LoginYouTube(Bstr(u"a"), Bstr(u"b"));

  struct Case {
    int mode;
    QString sharingResult;
    QString response;
  };
  const Case cases[] = {
      {0, QStringLiteral("<entry><id>7</id></entry>"), QString()},
      {1,
       QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><putFile "
                      "ver=\"2.0\"><errInfo>500</errInfo></putFile>"),
       QString()},
      {2,
       QStringLiteral(
           "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><PutFile><errInfo>2106</errInfo></PutFile>"),
       QString()},
      // No answer at all is not the service's verdict; the older answer must not survive.
      {3, QString(),
       QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" "
                      "?><PutFile><errInfo>1003</errInfo></PutFile>")},
      {4, QString(),
       QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><putFile "
                      "ver=\"2.0\"><errInfo>1002</errInfo></putFile>")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    mode = c.mode;
    const QString path = c.mode == 4 ? QDir::temp().filePath(QStringLiteral("missing.wmv")) : video;
    control->PutYouTubeFile(Bstr(u"Education"), Bstr(u"t"), Bstr(u"k"), Bstr(u"d"), Bstr(path));
    ASSERT_TRUE(control.WaitForEvents(1));
    EXPECT_EQ(control.Fired().back().event, kqmavo2::DISPID_OnPutFileFinished);
    EXPECT_EQ(SharingResult(control), c.sharingResult);
    EXPECT_EQ(control.Response(), c.response);
    LONG progress = -1;
    control->get_YouTubeUploadingProgress(&progress);
    EXPECT_EQ(progress, c.mode == 4 ? 0 : 100);
  }
}

TEST(Sharing, UploadBeforeLoginEndsWith2101AndANullCategoryStartsNothing) {
  SetSetting("sharingLoginHost", QString());
  SetSetting("sharingUploadHost", QStringLiteral("127.0.0.1:1"));
  ControlHarness control;
  EXPECT_EQ(control->PutYouTubeFile(nullptr, Bstr(u"t"), Bstr(u"k"), Bstr(u"d"), Bstr(u"/x")),
            cf::com::E_FAIL);
  EXPECT_EQ(
      control->PutYouTubeFile(Bstr(u"Education"), Bstr(u"t"), Bstr(u"k"), Bstr(u"d"), Bstr(u"/x")),
      cf::com::S_OK);
  ASSERT_TRUE(control.WaitForEvents(1));
  EXPECT_EQ(control.Fired()[0].event, kqmavo2::DISPID_OnPutFileFinished);
  EXPECT_EQ(control.Response(), kUploadDoc2101);
  EXPECT_EQ(SharingResult(control), QString());

  // A login that cannot reach anyone still finishes: ExecStatus 1, still no upload address.
  control->put_ExecStatus(0);
  control->LoginYouTube(Bstr(u"a"), Bstr(u"b"));
  EXPECT_EQ(Exec(control), 1);
  Bstr untouched(u"kept");
  control->put_ExecStatus(0);
  EXPECT_EQ(control->GetYouTubeCategoryList(untouched.Out()), cf::com::S_OK);
  EXPECT_EQ(Exec(control), 1);
  control->PutYouTubeFile(Bstr(u"Education"), Bstr(u"t"), Bstr(u"k"), Bstr(u"d"), Bstr(u"/x"));
  ASSERT_TRUE(control.WaitForEvents(1));
  EXPECT_EQ(control.Response(), kUploadDoc2101);
  // One event per started upload: the refused call ran no worker.
  EXPECT_EQ(control.Fired().size(), 2u);
}

TEST(Sharing, CancelStopsTheSendingAndTheServiceGetsNoWholeRequest) {
  ScriptedLogin login;
  login.Script(200, "Auth=tok\n");
  ControlHarness control;
  kqmavo2::Imavo2* raw = control.Control();
  RawHttpListener upload([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{RawHttpListener::Answer(201, "<entry/>")};
  });
  // The service holds the body back until the cancel is in; far more than the socket buffers
  // can take is still to be sent then.
  upload.onHead = [raw](const QByteArray&) { raw->CancelPutFile(); };
  PointAt(login, upload);
  const QString video = QDir::temp().filePath(QStringLiteral("long.wmv"));
  MakeVideo(video, 32 * 1024 * 1024);
  control->LoginYouTube(Bstr(u"a"), Bstr(u"b"));
  control->PutYouTubeFile(Bstr(u"Education"), Bstr(u"t"), Bstr(u"k"), Bstr(u"d"), Bstr(video));
  ASSERT_TRUE(control.WaitForEvents(1));
  EXPECT_EQ(control.Response(),
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><putFile "
                           "ver=\"2.0\"><errInfo>1004</errInfo></putFile>"));
  EXPECT_EQ(SharingResult(control), QString());
  LONG progress = 0;
  control->get_YouTubeUploadingProgress(&progress);
  EXPECT_LT(progress, 100);
  EXPECT_EQ(upload.Accepted(), 1);
  EXPECT_TRUE(upload.Requests().empty());
}

// The whole road against the reference server: login over TLS, categories, upload.
TEST(Sharing, UploadToTheReferenceServiceArrivesAsAWellFormedMultipartMessage) {
  KqServerProcess server;
  const TestCertificates& certificates = Certificates();
  ASSERT_TRUE(
      server.Start({QStringLiteral("--init-demo"), QStringLiteral("--sharing-tls"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--sharing-cert"),
                    QString::fromStdString(certificates.certFile), QStringLiteral("--sharing-key"),
                    QString::fromStdString(certificates.keyFile)}))
      << server.ErrorText().toStdString();
  pugi::xml_document state;
  ASSERT_TRUE(state.load_string(server.AdminGet(QStringLiteral("/admin/sharing")).constData()));
  const int tlsPort = state.child("sharing").attribute("tlsPort").as_int();
  ASSERT_GT(tlsPort, 0);
  SetSetting("sharingLoginHost", QStringLiteral("127.0.0.1:%1").arg(tlsPort));
  SetSetting("sharingTrustFile", QString::fromStdString(certificates.caFile));
  SetSetting("sharingDataHost", server.BaseUrl());
  SetSetting("sharingUploadHost", server.BaseUrl());
  SetSetting("sharingCategoryScheme", QStringLiteral("urn:test:categories"));

  ControlHarness control;
  control->put_ExecStatus(0);
  control->LoginYouTube(Bstr(u"demo"), Bstr(u"demo"));
  EXPECT_EQ(Exec(control), 1);
  Bstr categories;
  control->put_ExecStatus(0);
  control->GetYouTubeCategoryList(categories.Out());
  EXPECT_EQ(Exec(control), 1);
  EXPECT_TRUE(categories.ToQString().contains(QStringLiteral("term=\"Education\"")))
      << categories.ToQString().toStdString();

  const QString video = QDir::temp().filePath(QStringLiteral("lecture 1.wmv"));
  const QByteArray data = MakeVideo(video, 3 * 524288 + 123);
  const QString title = QStringLiteral("Waves & <Optics> \u00e9t\u00e9");
  const QString description = QStringLiteral("first line\r\n--Qu1llbox--\r\nlast \"line\"");
  control->PutYouTubeFile(Bstr(u"Education"), Bstr(title), Bstr(u"physics, waves"),
                          Bstr(description), Bstr(video));
  ASSERT_TRUE(control.WaitForEvents(1));
  EXPECT_TRUE(SharingResult(control).contains(QStringLiteral("<yt:videoid>1</yt:videoid>")))
      << SharingResult(control).toStdString() << " / " << control.Response().toStdString();
  LONG progress = 0;
  control->get_YouTubeUploadingProgress(&progress);
  EXPECT_EQ(progress, 100);

  ASSERT_TRUE(state.load_string(server.AdminGet(QStringLiteral("/admin/sharing")).constData()));
  const pugi::xml_node stored = state.child("sharing").child("upload");
  ASSERT_TRUE(stored);
  EXPECT_STREQ(stored.attribute("account").value(), "demo");
  EXPECT_STREQ(stored.attribute("slug").value(), "lecture 1.wmv");
  EXPECT_EQ(QString::fromUtf8(stored.attribute("title").value()), title);
  EXPECT_EQ(QString::fromUtf8(stored.attribute("description").value()), description);
  EXPECT_STREQ(stored.attribute("keywords").value(), "physics, waves");
  EXPECT_STREQ(stored.attribute("scheme").value(), "urn:test:categories");

  // Read the stored body as a strict reader would.
  const QByteArray body = server.AdminGet(QStringLiteral("/admin/sharing/body?id=1"));
  ASSERT_TRUE(
      body.startsWith("--Qu1llbox\r\nContent-Type: application/atom+xml; charset=UTF-8\r\n\r\n"));
  ASSERT_TRUE(body.endsWith("\r\n--Qu1llbox--"));
  const QByteArray delimiter = "\r\n--Qu1llbox\r\n";
  const qsizetype entryStart = body.indexOf("\r\n\r\n") + 4;
  const qsizetype entryEnd = body.indexOf(delimiter, entryStart);
  ASSERT_GT(entryEnd, entryStart);
  // No other delimiter line before the video part.
  EXPECT_EQ(body.left(entryEnd).count("\r\n--Qu1llbox"), 0);
  const QByteArray entry = body.mid(entryStart, entryEnd - entryStart);
  pugi::xml_document atom;
  const pugi::xml_parse_result parsed = atom.load_buffer(entry.constData(), entry.size());
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << entry.toStdString();
  EXPECT_EQ(QString::fromUtf8(atom.child("entry").child("media:group").child_value("media:title")),
            title);
  const QByteArray videoHeader =
      "--Qu1llbox\r\nContent-Type: video/wmv\r\nContent-Transfer-Encoding: binary\r\n\r\n";
  ASSERT_EQ(body.mid(entryEnd + 2, videoHeader.size()), videoHeader);
  const qsizetype videoStart = entryEnd + 2 + videoHeader.size();
  const QByteArray sent = body.mid(videoStart, body.size() - videoStart - 14);
  EXPECT_EQ(sent.size(), data.size());
  EXPECT_TRUE(sent == data);
  EXPECT_EQ(stored.attribute("videoBytes").as_llong(), data.size());
}

}  // namespace
