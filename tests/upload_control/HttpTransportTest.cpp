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
