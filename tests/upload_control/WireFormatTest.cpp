// The exact bytes each request puts on the wire, captured at a raw loopback listener.

#include "platform/com/Bstr.h"
#include "tests/upload_control/ControlHarness.h"
#include "tests/upload_control/RawHttpListener.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using cf::com::Bstr;

constexpr char kMultipartHeader[] = "Content-Type: multipart/form-data; boundary=Qu1llbox5_Xu02=$";

QByteArray Field(const QByteArray& name, const QByteArray& value) {
  return "--Qu1llbox5_Xu02=$\r\nContent-Disposition: form-data;name=\"" + name + "\"\r\n\r\n" +
         value + "\r\n";
}

RawHttpListener::Request RunOne(
    const std::function<void(ControlHarness&, RawHttpListener&)>& start) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{RawHttpListener::Answer(200, "<ok/>")};
  });
  ControlHarness control;
  start(control, listener);
  EXPECT_TRUE(control.WaitForEvents(1));
  const auto requests = listener.Requests();
  EXPECT_EQ(requests.size(), 1u);
  return requests.empty() ? RawHttpListener::Request{} : requests.front();
}

// The head lines the client writes around the caller's header, in order.
QByteArray ExpectedHead(const QByteArray& path, quint16 port, qint64 length, bool multipart) {
  QByteArray head = "POST " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                    "\r\nUser-Agent: mavo\r\n";
  if (multipart) head += QByteArray(kMultipartHeader) + "\r\n";
  return head + "Content-Length: " + QByteArray::number(length);
}

TEST(WireFormat, GetFolderSendsAccountPasswordAndExtraFieldsThenTheClosingDelimiter) {
  quint16 port = 0;
  const auto request = RunOne([&](ControlHarness& control, RawHttpListener& listener) {
    port = listener.Port();
    EXPECT_EQ(control->GetFolder(Bstr(listener.Url("/mavo/getfolder/")), Bstr(u"demo"),
                                 Bstr(u"p w"), Bstr(u"tool=v.2.100603&x=a=b")),
              cf::com::S_OK);
  });
  const QByteArray body = Field("account", "demo") + Field("password", "p w") +
                          Field("tool", "v.2.100603") + Field("x", "a=b") + "--Qu1llbox5_Xu02=$--";
  EXPECT_EQ(request.head, ExpectedHead("/mavo/getfolder/", port, body.size(), true));
  EXPECT_EQ(request.body, body);
}

TEST(WireFormat, GetVersion2SendsItsFiveFieldsInOrder) {
  quint16 port = 0;
  const auto request = RunOne([&](ControlHarness& control, RawHttpListener& listener) {
    port = listener.Port();
    control->GetVersion2(Bstr(listener.Url("/mavo/getVersion/")), Bstr(u"demo"), Bstr(u"secret"),
                         12, -1, Bstr(u"5.0"), Bstr(u"tool=v.2.100603"));
  });
  const QByteArray body = Field("account", "demo") + Field("password", "secret") +
                          Field("folderID", "12") + Field("contentID", "-1") + Field("ver", "5.0") +
                          Field("tool", "v.2.100603") + "--Qu1llbox5_Xu02=$--";
  EXPECT_EQ(request.head, ExpectedHead("/mavo/getVersion/", port, body.size(), true));
  EXPECT_EQ(request.body, body);
}

TEST(WireFormat, VersionWithoutAccountIsABarePostWithoutContentTypeOrBody) {
  for (const bool viaGetVersion2 : {false, true}) {
    quint16 port = 0;
    const auto request = RunOne([&](ControlHarness& control, RawHttpListener& listener) {
      port = listener.Port();
      if (viaGetVersion2) {
        control->GetVersion2(Bstr(listener.Url("/mavo/getVersion/")), Bstr(u""), Bstr(u"pw"), 1, 2,
                             Bstr(u"5"), Bstr(u"tool=x"));
      } else {
        control->getVersion(Bstr(listener.Url("/mavo/getVersion/")));
      }
    });
    EXPECT_EQ(request.head, ExpectedHead("/mavo/getVersion/", port, 0, false)) << viaGetVersion2;
    EXPECT_TRUE(request.body.isEmpty());
  }
}

TEST(WireFormat, PostSendsTokenisedPairsOrAnEmptyBody) {
  struct Case {
    const char16_t* param;
    QByteArray body;
  };
  const Case cases[] = {
      {u"x%3d1%26y%3d2", Field("x", "1") + Field("y", "2") + "--Qu1llbox5_Xu02=$--"},
      {u"a = b & c=d", Field("a", "b") + Field("c", "d") + "--Qu1llbox5_Xu02=$--"},
      // Upper-case %3D is no separator, so there is no pair and no body at all.
      {u"x%3D1", QByteArray()},
      {u"", QByteArray()},
  };
  for (const Case& c : cases) {
    quint16 port = 0;
    const auto request = RunOne([&](ControlHarness& control, RawHttpListener& listener) {
      port = listener.Port();
      control->Post(Bstr(listener.Url("/any/where/")), Bstr(c.param));
    });
    EXPECT_EQ(request.head, ExpectedHead("/any/where/", port, c.body.size(), true))
        << QString::fromUtf16(c.param).toStdString();
    EXPECT_EQ(request.body, c.body);
  }
}

TEST(WireFormat, UploadBlockCarriesItsFieldsFilePartAndLeadingLineBreakBeforeTheDelimiter) {
  const QString path = QDir::temp().filePath(QStringLiteral("block.bin"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const QByteArray data = "ab\r\ncd";
  file.write(data);
  file.close();
  quint16 port = 0;
  QString sessionId;
  const auto request = RunOne([&](ControlHarness& control, RawHttpListener& listener) {
    port = listener.Port();
    // The upload reuses the extra fields of the instance's last folder request.
    control->GetFolder(Bstr(QStringLiteral("http://127.0.0.1:1/")), Bstr(u"a"), Bstr(u"b"),
                       Bstr(u"tool=v.2"));
    ASSERT_TRUE(control.WaitForEvents(1));
    control->PutFile(Bstr(listener.Url("/mavo/putFile/")), Bstr(u"demo"), Bstr(u"pw"), 7, -1,
                     Bstr(path));
  });
  const auto fields = request.FormFields();
  ASSERT_GE(fields.size(), 5u);
  const QByteArray session = fields[4].second;
  EXPECT_EQ(session.size(), 19) << session.toStdString();
  const QByteArray body =
      Field("account", "demo") + Field("password", "pw") + Field("folderID", "7") +
      Field("contentID", "-1") + Field("sessID", session) + Field("seqno", "0") +
      Field("sessFinish", "yes") + Field("blockSize", "6") + Field("tool", "v.2") +
      "--Qu1llbox5_Xu02=$\r\nContent-Disposition: multipart/form-data;name=\"mavofile\"; "
      "filename=\"mavofile.zip\"\r\nContent-Transfer-encoding: Binary\r\n\r\n" +
      data + "\r\n--Qu1llbox5_Xu02=$--";
  // Blocks ask the server to keep the connection for the next one.
  EXPECT_EQ(request.head,
            ExpectedHead("/mavo/putFile/", port, body.size(), true) + "\r\nConnection: Keep-Alive");
  EXPECT_EQ(request.body, body);
}

}  // namespace
