// Answers that never end, or never come, fail the request instead of hanging it.

#include "tests/upload_control/RawHttpListener.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/ServerRequests.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringList>

namespace {

using kqmavo2::HttpTransport;

const QString kNotSent = QStringLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><getVersion "
    "ver=\"2.0\"><errInfo>0</errInfo></getVersion>");

QString GetFolder(const RawHttpListener& listener) {
  kqmavo2::ControlRequestState request;
  request.SetUrl(listener.Url(QStringLiteral("/mavo/getfolder/")));
  request.SetAccount(QStringLiteral("demo"));
  auto gate = HttpTransport::Instance().Acquire(&listener);
  return kqmavo2::ServerRequests::GetFolder(request);
}

TEST(HttpTransport, AServerThatNeverAnswersRunsIntoTheReceiveTimeOut) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{{}, true};
  });
  HttpTransport::SetReceiveTimeout(300);
  EXPECT_EQ(GetFolder(listener), kNotSent);
  HttpTransport::SetReceiveTimeout(HttpTransport::kDefaultReceiveTimeoutMs);
}

TEST(HttpTransport, AnAnswerGrowingWithoutEndStopsAtTheBodyCap) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{"HTTP/1.0 200 OK\r\n\r\n", false, true};
  });
  HttpTransport::SetBodyCap(1024 * 1024);
  EXPECT_EQ(GetFolder(listener), kNotSent);
  HttpTransport::SetBodyCap(64ull * 1024 * 1024);
}

TEST(HttpTransport, AnAnswerWithinTheCapIsReadWhole) {
  const QByteArray body(3 * 1024 * 1024, 'a');
  RawHttpListener listener([&](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{RawHttpListener::Answer(200, body, false)};
  });
  EXPECT_EQ(GetFolder(listener).size(), body.size());
}

// A server that trickles its answer holds no request past its deadline, and the document says
// that the server stopped answering, not that nothing could be sent.
TEST(HttpTransport, ARequestTheServerDragsOutEndsAsStoppedAnswering) {
  using kqmavo2::ControlRequestState;
  using kqmavo2::ServerRequests;
  const auto doc = [](const char* root) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><%1 "
               "ver=\"2.0\"><errInfo>1005</errInfo></%1>")
        .arg(QLatin1String(root));
  };
  struct Case {
    const char* name;
    const char* account;
    QString (*run)(const ControlRequestState&);
    QString expected;
  };
  const Case cases[] = {
      {"folder", "demo", &ServerRequests::GetFolder, doc("getVersion")},
      {"version with account", "demo", &ServerRequests::Version, doc("getVersion")},
      {"version alone", "", &ServerRequests::Version, doc("getVersion")},
      {"post", "", &ServerRequests::Post, doc("post")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawHttpListener listener([](const RawHttpListener::Request&, int) {
      return RawHttpListener::Reply{.bytes = RawHttpListener::Answer(200, "<answer/>"),
                                    .dripMs = 40};
    });
    ControlRequestState request;
    request.SetUrl(listener.Url(QStringLiteral("/mavo/x/")));
    request.SetAccount(QString::fromLatin1(c.account));
    request.SetPostParam(QStringLiteral("a%3d1"));
    request.deadlines.requestMs = 300;
    auto gate = HttpTransport::Instance().Acquire(&listener);
    EXPECT_EQ(c.run(request), c.expected);
    EXPECT_EQ(listener.Requests().size(), 1u);
  }
}

QStringList gControlLines;

void CollectControlLines(QtMsgType, const QMessageLogContext& context, const QString& text) {
  if (context.category && QByteArray(context.category) == "kqmavo2") gControlLines << text;
}

TEST(HttpTransport, DebugLinesAreWrittenOnlyWhenTheirCategoryIsOn) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{RawHttpListener::Answer(200, "<getfolder/>", false)};
  });
  const QtMessageHandler previous = qInstallMessageHandler(CollectControlLines);
  gControlLines.clear();
  GetFolder(listener);
  const QStringList byDefault = gControlLines;

  QLoggingCategory::setFilterRules(QStringLiteral("kqmavo2.debug=true"));
  gControlLines.clear();
  GetFolder(listener);
  const QStringList enabled = gControlLines;
  QLoggingCategory::setFilterRules(QString());
  qInstallMessageHandler(previous);

  EXPECT_TRUE(byDefault.isEmpty()) << byDefault.join(QLatin1Char('\n')).toStdString();
  // The whole announced body was written, and the line says so.
  const QStringList sizes =
      enabled.filter(QRegularExpression(QStringLiteral("^buffer size: (\\d+) / \\1$")));
  EXPECT_EQ(sizes.size(), 1) << enabled.join(QLatin1Char('\n')).toStdString();
}

}  // namespace
