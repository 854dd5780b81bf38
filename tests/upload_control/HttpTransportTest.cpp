// Answers that never end, or never come, fail the request instead of hanging it.

#include "tests/upload_control/RawHttpListener.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/ServerRequests.h"

#include <gtest/gtest.h>

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

}  // namespace
