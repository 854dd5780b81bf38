// Uploads that continue an existing session, and pauses that leave it to the server.

#include "platform/com/Bstr.h"
#include "tests/upload_control/ControlHarness.h"
#include "tests/upload_control/RawHttpListener.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include <gtest/gtest.h>

namespace {

using cf::com::Bstr;
using Request = RawHttpListener::Request;
using Reply = RawHttpListener::Reply;

constexpr qint64 kBlock = 524288;

QByteArray Pattern(qint64 size) {
  QByteArray data(size, Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) data[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
  return data;
}

QString WriteFile(const QByteArray& data) {
  const QString path = QDir::temp().filePath(QStringLiteral("session-upload.zip"));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(data);
  return path;
}

Reply BlockAnswer(const Request& request, int index) {
  if (Fields(request)["sessFinish"] == "yes")
    return {RawHttpListener::Answer(200, "<putFile><contentID>42</contentID></putFile>")};
  return {RawHttpListener::Answer(
      200, "<putFile><url>" + QByteArray::number(5 + index) + "</url></putFile>")};
}

kqmavo2::Imavo2Session* Sessions(ControlHarness& control) {
  void* object = nullptr;
  EXPECT_EQ(control->QueryInterface(kqmavo2::IID_Imavo2Session, &object), cf::com::S_OK);
  auto* sessions = static_cast<kqmavo2::Imavo2Session*>(object);
  if (sessions != nullptr) sessions->Release();  // the harness holds the control
  return sessions;
}

struct SessionState {
  QString id;
  cf::com::LONG next = -1;
  QString urlValue;
};

SessionState ReadSession(kqmavo2::Imavo2Session* sessions) {
  Bstr id;
  Bstr urlValue;
  SessionState state;
  EXPECT_EQ(sessions->get_UploadSession(id.Out(), &state.next, urlValue.Out()), cf::com::S_OK);
  state.id = id.ToQString();
  state.urlValue = urlValue.ToQString();
  return state;
}

// Starts the upload of `path` to the listener as account "demo", folder 3, new content, taken up
// at `seqno` of session `sessID` (a fresh session when that is empty).
cf::com::HRESULT PutFrom(kqmavo2::Imavo2Session* sessions, RawHttpListener& listener,
                         const QString& path, const Bstr& sessID, int seqno, const Bstr& urlValue) {
  return sessions->PutFileFrom(Bstr(listener.Url(QStringLiteral("/mavo/putFile/"))), Bstr(u"demo"),
                               Bstr(u"pw"), 3, 0, Bstr(path), sessID, seqno, urlValue);
}

// Taken up at block 2, the upload sends the rest of the file in the given session, the first
// block to the given address, and reports each acknowledged block but the last.
TEST(SessionUpload, ContinuesTheGivenSessionAtItsNextBlock) {
  const QByteArray data = Pattern(4 * kBlock + 100);
  const QString path = WriteFile(data);
  RawHttpListener listener(BlockAnswer);
  ControlHarness control;
  kqmavo2::Imavo2Session* sessions = Sessions(control);
  ASSERT_NE(sessions, nullptr);
  ASSERT_EQ(PutFrom(sessions, listener, path, Bstr(u"17000000001234567"), 2, Bstr(u"x9")),
            cf::com::S_OK);
  ASSERT_TRUE(control.WaitForEvents(3));
  EXPECT_EQ(control.Response(), QStringLiteral("<putFile><contentID>42</contentID></putFile>"));

  const auto requests = listener.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const QByteArray paths[] = {"/mavo/putFilex9/", "/mavo/putFile5/", "/mavo/putFile6/"};
  QByteArray received;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    auto fields = Fields(requests[i]);
    EXPECT_EQ(requests[i].Path(), paths[i]);
    EXPECT_EQ(fields["sessID"], QByteArray("17000000001234567"));
    EXPECT_EQ(fields["seqno"], QByteArray::number(qulonglong(i + 2)));
    received += FileData(requests[i]);
  }
  EXPECT_TRUE(received == data.mid(2 * kBlock));

  const auto& fired = control.Fired();
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_EQ(fired[0].event, kqmavo2::DISPID_OnPutFileBlock);
  EXPECT_EQ(fired[1].event, kqmavo2::DISPID_OnPutFileBlock);
  EXPECT_EQ(fired[2].event, kqmavo2::DISPID_OnPutFileFinished);
  const SessionState state = ReadSession(sessions);
  EXPECT_EQ(state.id, QStringLiteral("17000000001234567"));
  EXPECT_EQ(state.next, 4);
  EXPECT_EQ(state.urlValue, QStringLiteral("6"));
}

// An empty session starts a new one with the bytes PutFile sends; a start point the file cannot
// have, or an address value a server could not have given, is refused.
TEST(SessionUpload, StartsFreshWithoutSessionAndRefusesImpossibleStarts) {
  const QByteArray data = Pattern(kBlock + 1);
  const QString path = WriteFile(data);
  RawHttpListener listener(BlockAnswer);
  ControlHarness control;
  kqmavo2::Imavo2Session* sessions = Sessions(control);
  ASSERT_NE(sessions, nullptr);
  const Bstr url(listener.Url(QStringLiteral("/mavo/putFile/")));
  EXPECT_EQ(sessions->PutFileFrom(url, Bstr(u"a"), Bstr(u"b"), 3, 0, Bstr(path), Bstr(u"1"), 0,
                                  Bstr(u"../")),
            cf::com::E_INVALIDARG);
  ASSERT_EQ(sessions->PutFileFrom(url, Bstr(u"a"), Bstr(u"b"), 3, 0, Bstr(path), Bstr(), 7,
                                  Bstr(u"ignored")),
            cf::com::S_OK);
  ASSERT_TRUE(control.WaitForEvents(2));
  auto requests = listener.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Path(), QByteArray("/mavo/putFile/"));
  EXPECT_EQ(Fields(requests[0])["seqno"], QByteArray("0"));
  EXPECT_EQ(ReadSession(sessions).id, QString::fromLatin1(Fields(requests[0])["sessID"]));

  // Block 2 of a two-block file does not exist: nothing is sent.
  ASSERT_EQ(sessions->PutFileFrom(url, Bstr(u"a"), Bstr(u"b"), 3, 0, Bstr(path), Bstr(u"1"), 2,
                                  Bstr(u"5")),
            cf::com::S_OK);
  ASSERT_TRUE(control.WaitForEvents(1));
  EXPECT_TRUE(control.Response().contains(QStringLiteral("<errInfo>1002</errInfo>")));
  EXPECT_EQ(listener.Requests().size(), 2u);
}

// The host records each block as it hears of it. While its thread is busy, the upload goes at
// most one block further than what it heard, then waits; once it listens again, the rest goes.
TEST(SessionUpload, NeverRunsMoreThanABlockAheadOfItsHost) {
  const QByteArray data = Pattern(8 * kBlock + 7);
  const QString path = WriteFile(data);
  RawHttpListener listener(BlockAnswer);
  ControlHarness control;
  kqmavo2::Imavo2Session* sessions = Sessions(control);
  ASSERT_NE(sessions, nullptr);
  ASSERT_EQ(PutFrom(sessions, listener, path, Bstr(), 0, Bstr()), cf::com::S_OK);
  // This thread hears nothing meanwhile; on loopback the whole file would be gone long before.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_LE(listener.Requests().size(), 2u);

  ASSERT_TRUE(control.WaitForEvents(9));
  const auto requests = listener.Requests();
  ASSERT_EQ(requests.size(), 9u);
  QByteArray received;
  for (const Request& request : requests) received += FileData(request);
  EXPECT_TRUE(received == data);
  EXPECT_EQ(control.Fired().back().event, kqmavo2::DISPID_OnPutFileFinished);
}

// A pause ends the upload as a cancel does, but the server hears nothing of it.
TEST(SessionUpload, PauseEndsTheUploadWithoutTheCancelRequest) {
  const QByteArray data = Pattern(6 * kBlock);
  const QString path = WriteFile(data);
  std::atomic<kqmavo2::Imavo2Session*> target{nullptr};
  RawHttpListener listener([&](const Request& request, int index) {
    if (index == 1) target.load()->PausePutFile();
    return BlockAnswer(request, index);
  });
  ControlHarness control;
  target = Sessions(control);
  ASSERT_NE(target.load(), nullptr);
  ASSERT_EQ(target.load()->PutFileFrom(Bstr(listener.Url(QStringLiteral("/mavo/putFile/"))),
                                       Bstr(u"a"), Bstr(u"b"), 3, 0, Bstr(path), Bstr(), 0, Bstr()),
            cf::com::S_OK);
  ASSERT_TRUE(control.WaitForTotal(3));
  EXPECT_EQ(control.Fired().back().event, kqmavo2::DISPID_OnPutFileFinished);
  EXPECT_TRUE(control.Response().contains(QStringLiteral("<errInfo>1004</errInfo>")));
  for (const Request& request : listener.Requests())
    EXPECT_NE(Fields(request)["sessFinish"], QByteArray("cancel"));
  EXPECT_EQ(ReadSession(target.load()).next, 2);
}

}  // namespace
