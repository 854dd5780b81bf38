// Block uploads end to end against a raw loopback listener.

#include "TestFiles.h"
#include "platform/com/Bstr.h"
#include "tests/upload_control/ControlHarness.h"
#include "tests/upload_control/RawHttpListener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <map>

#include <gtest/gtest.h>

namespace {

using cf::com::Bstr;
using Request = RawHttpListener::Request;
using Reply = RawHttpListener::Reply;

constexpr qint64 kBlock = 524288;

QString Doc(const char* root, int code, bool versioned = true) {
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><%1%3><errInfo>%2</errInfo></%1>")
      .arg(QLatin1String(root))
      .arg(code)
      .arg(versioned ? QStringLiteral(" ver=\"2.0\"") : QString());
}

QString MakeFile(qint64 size, const QString& name = QStringLiteral("upload.zip")) {
  const QString path = QDir::temp().filePath(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  QByteArray data(size, Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  file.write(data);
  return path;
}

struct Upload {
  QString response;
  std::vector<ControlHarness::FiredEvent> fired;
  cf::com::LONG progress = 0;
};

Upload RunUpload(RawHttpListener& listener, const QString& path, const QString& extra = QString(),
                 const std::function<void(ControlHarness&)>& beforeStart = nullptr) {
  ControlHarness control;
  if (!extra.isEmpty()) {
    // Extra fields travel with the instance's last folder request.
    control->GetFolder(Bstr(QStringLiteral("http://127.0.0.1:1/")), Bstr(u"a"), Bstr(u"b"),
                       Bstr(extra));
    EXPECT_TRUE(control.WaitForEvents(1));
  }
  const std::size_t before = control.Fired().size();
  if (beforeStart) beforeStart(control);
  control->PutFile(Bstr(listener.Url(QStringLiteral("/mavo/putFile/"))), Bstr(u"demo"), Bstr(u"pw"),
                   3, -1, Bstr(path));
  EXPECT_TRUE(control.WaitForEvents(1));
  Upload upload;
  upload.response = control.Response();
  upload.fired.assign(control.Fired().begin() + static_cast<std::ptrdiff_t>(before),
                      control.Fired().end());
  control->get_UploadingProgress(&upload.progress);
  return upload;
}

Reply Answer(const QByteArray& body) { return {RawHttpListener::Answer(200, body)}; }

TEST(Upload, FileSizesAroundOneBlockAreSplitAndAddressedByTheServersValue) {
  struct Case {
    qint64 size;
    std::vector<qint64> blocks;
  };
  const Case cases[] = {{0, {0}},
                        {1, {1}},
                        {kBlock, {kBlock}},
                        {kBlock + 1, {kBlock, 1}},
                        {2 * kBlock + 5, {kBlock, kBlock, 5}}};
  for (const Case& c : cases) {
    RawHttpListener listener([](const Request& request, int index) {
      if (Fields(request)["sessFinish"] == "yes")
        return Answer("<putFile><contentID>42</contentID></putFile>");
      return Answer("<putFile><url>" + QByteArray::number(7 + index) + "</url></putFile>");
    });
    const QString path = MakeFile(c.size);
    const Upload upload = RunUpload(listener, path);
    SCOPED_TRACE(c.size);
    EXPECT_EQ(upload.response, QStringLiteral("<putFile><contentID>42</contentID></putFile>"));
    ASSERT_EQ(upload.fired.size(), 1u);
    EXPECT_EQ(upload.fired[0].event, kqmavo2::DISPID_OnPutFileFinished);
    EXPECT_EQ(upload.progress, c.size == 0 ? 0 : 100);

    const auto requests = listener.Requests();
    ASSERT_EQ(requests.size(), c.blocks.size());
    QByteArray received;
    QByteArray session;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      auto fields = Fields(requests[i]);
      const bool last = i + 1 == requests.size();
      EXPECT_EQ(requests[i].Path(),
                i == 0 ? QByteArray("/mavo/putFile/")
                       : "/mavo/putFile" + QByteArray::number(7 + int(i) - 1) + "/");
      EXPECT_EQ(fields["seqno"], QByteArray::number(qulonglong(i)));
      EXPECT_EQ(fields["blockSize"], QByteArray::number(c.blocks[i]));
      EXPECT_EQ(fields["sessFinish"], last ? QByteArray("yes") : QByteArray(""));
      if (i == 0) session = fields["sessID"];
      EXPECT_EQ(fields["sessID"], session);
      received += FileData(requests[i]);
    }
    EXPECT_TRUE(received == ReadFile(path));
  }
}

TEST(Upload, FailedAttemptsAreRetriedWithTheSameBlockUpToThreeTimes) {
  // Block 0 fails once (status 500), then goes; block 1 fails every time.
  RawHttpListener listener([](const Request& request, int index) -> Reply {
    if (index == 0) return {RawHttpListener::Answer(500, "")};
    if (Fields(request)["sessFinish"] != "yes") return Answer("<url>a</url>");
    return {RawHttpListener::Answer(503, "busy")};
  });
  const Upload upload = RunUpload(listener, MakeFile(kBlock + 10));
  EXPECT_EQ(upload.response, Doc("putFile", 503));
  const auto requests = listener.Requests();
  ASSERT_EQ(requests.size(), 5u);
  const std::vector<QByteArray> seqnos = {"0", "0", "1", "1", "1"};
  for (std::size_t i = 0; i < requests.size(); ++i)
    EXPECT_EQ(Fields(requests[i])["seqno"], seqnos[i]) << i;
  EXPECT_EQ(requests[4].Path(), "/mavo/putFilea/");
  EXPECT_EQ(FileData(requests[0]), FileData(requests[1]));
}

TEST(Upload, AnswersWithoutUrlOrBodyFailTheAttempt) {
  struct Case {
    const char* what;
    Reply reply;
    QString expected;
  };
  const Case cases[] = {
      {"no url element, server's answer stands", Answer("<putFile><errInfo>9</errInfo></putFile>"),
       QStringLiteral("<putFile><errInfo>9</errInfo></putFile>")},
      {"empty answer", Answer(""), Doc("PutFile", 1003, false)},
      {"connection closed without answer", Reply{{}, false, false, true},
       Doc("PutFile", 1003, false)},
  };
  for (const Case& c : cases) {
    RawHttpListener listener([&](const Request&, int) { return c.reply; });
    const Upload upload = RunUpload(listener, MakeFile(kBlock + 1));
    EXPECT_EQ(upload.response, c.expected) << c.what;
    EXPECT_EQ(listener.Requests().size(), 3u) << c.what;
  }
}

// The value names the next block's address; anything but a short plain value is treated as no
// value at all: the attempt fails and the server's answer stands after three of them.
TEST(Upload, OnlyShortPlainUrlValuesExtendTheAddress) {
  struct Case {
    QString value;
    QByteArray nextPath;  // empty: refused
  };
  const Case cases[] = {
      {QStringLiteral("7"), "/mavo/putFile7/"},
      {QStringLiteral("x_9"), "/mavo/putFilex_9/"},
      {QString(), "/mavo/putFile/"},
      {QStringLiteral("\u00e9"), "/mavo/putFile%C3%A9/"},
      {QStringLiteral("abcd"), {}},
      {QStringLiteral("a/b"), {}},
      {QStringLiteral("a\tb"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.toStdString());
    const QByteArray blockAnswer = "<putFile><url>" + c.value.toUtf8() + "</url></putFile>";
    RawHttpListener listener([&](const Request& request, int) {
      return Answer(Fields(request)["sessFinish"] == "yes" ? QByteArray("<final/>") : blockAnswer);
    });
    const Upload upload = RunUpload(listener, MakeFile(kBlock + 1));
    const auto requests = listener.Requests();
    if (c.nextPath.isEmpty()) {
      EXPECT_EQ(upload.response, QString::fromUtf8(blockAnswer));
      ASSERT_EQ(requests.size(), 3u);
      for (const Request& request : requests) {
        EXPECT_EQ(request.Path(), "/mavo/putFile/");
        EXPECT_EQ(Fields(request)["seqno"], "0");
      }
    } else {
      EXPECT_EQ(upload.response, QStringLiteral("<final/>"));
      ASSERT_EQ(requests.size(), 2u);
      EXPECT_EQ(requests[1].Path(), c.nextPath);
    }
  }
}

// A server that trickles its answer to a block is cut off at the block's deadline. That counts
// as a failed attempt, and after three the row can say that the server stopped answering.
TEST(Upload, ABlockHeldPastItsDeadlineIsAFailedAttempt) {
  const Reply trickled{.bytes = RawHttpListener::Answer(200, "<putFile><url>1</url></putFile>"),
                       .dripMs = 10};
  struct Case {
    const char* what;
    const char* blockSeconds;
    std::function<Reply(int index)> reply;
    QString expected;
    std::vector<QByteArray> seqnos;
  };
  const Case cases[] = {
      {"every attempt trickled",
       "0.3",
       [&](int) { return trickled; },
       Doc("PutFile", 1005, false),
       {"0", "0", "0"}},
      {"first attempt trickled",
       "0.3",
       [&](int index) {
         return index == 0 ? trickled : Answer(index == 1 ? "<url>1</url>" : "<final/>");
       },
       QStringLiteral("<final/>"),
       {"0", "0", "1"}},
      // Blocks have their own deadline: the short one of the small requests does not cut them.
      {"trickled within the block's deadline",
       "20",
       [&](int index) { return index == 0 ? trickled : Answer("<final/>"); },
       QStringLiteral("<final/>"),
       {"0", "1"}},
  };
  const ScopedControlSetting requestDeadline("requestDeadlineSeconds", QStringLiteral("0.2"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedControlSetting blockDeadline("blockDeadlineSeconds",
                                             QString::fromLatin1(c.blockSeconds));
    RawHttpListener listener([&](const Request&, int index) { return c.reply(index); });
    const Upload upload = RunUpload(listener, MakeFile(kBlock + 1));
    EXPECT_EQ(upload.response, c.expected);
    const auto requests = listener.Requests();
    ASSERT_EQ(requests.size(), c.seqnos.size());
    for (std::size_t i = 0; i < requests.size(); ++i)
      EXPECT_EQ(Fields(requests[i])["seqno"], c.seqnos[i]) << i;
  }
}

TEST(Upload, ExtraFieldsOfTheLastFolderRequestGoAlongUpToFifteenPairs) {
  QStringList pairs;
  for (int i = 0; i < 16; ++i) pairs << QStringLiteral("k%1=v%1").arg(i);
  {
    RawHttpListener listener([](const Request&, int) { return Answer("<done/>"); });
    const Upload upload = RunUpload(listener, MakeFile(3), pairs.join(QLatin1Char('&')));
    EXPECT_EQ(upload.response, Doc("putFile", 666));
    EXPECT_TRUE(listener.Requests().empty());
  }
  pairs.removeLast();
  RawHttpListener listener([](const Request&, int) { return Answer("<done/>"); });
  const Upload upload = RunUpload(listener, MakeFile(3), pairs.join(QLatin1Char('&')));
  EXPECT_EQ(upload.response, QStringLiteral("<done/>"));
  ASSERT_EQ(listener.Requests().size(), 1u);
  const auto fields = listener.Requests()[0].FormFields();
  ASSERT_EQ(fields.size(), 8u + 15u);
  EXPECT_EQ(fields[8].first, "k0");
  EXPECT_EQ(fields[22].second, "v14");
}

TEST(Upload, AFileThatCannotBeReadEndsWithItsOwnDocument) {
  RawHttpListener listener([](const Request&, int) { return Answer("<stale/>"); });
  ControlHarness control;
  // Leave an older answer in Response first; it must not pass for the upload's.
  control->getVersion(Bstr(listener.Url(QStringLiteral("/v/"))));
  ASSERT_TRUE(control.WaitForEvents(1));
  QStringList paths = {QDir::temp().filePath(QStringLiteral("missing.zip")), QDir::tempPath()};
  // A kernel file that reports a size but yields fewer bytes opens and then fails to read.
  for (const char* candidate :
       {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/devices/system/cpu/online"}) {
    if (QFileInfo(QString::fromLatin1(candidate)).size() > 100)
      paths << QString::fromLatin1(candidate);
  }
  for (const QString& path : paths) {
    control->PutFile(Bstr(listener.Url(QStringLiteral("/mavo/putFile/"))), Bstr(u"a"), Bstr(u"b"),
                     1, 1, Bstr(path));
    ASSERT_TRUE(control.WaitForEvents(1));
    EXPECT_EQ(control.Response(), Doc("putFile", 1002)) << path.toStdString();
  }
  EXPECT_EQ(listener.Requests().size(), 1u);
}

TEST(Upload, CancelDuringTheLastBlockSendsTheCancelRequest) {
  struct Case {
    const char* what;
    QByteArray cancelAnswer;
    QString expected;
  };
  const Case cases[] = {
      {"cancel answered with a body", "<putFile><errInfo>77</errInfo></putFile>",
       QStringLiteral("<putFile><errInfo>77</errInfo></putFile>")},
      {"cancel answered empty", "", Doc("putFile", 1004)},
  };
  for (const Case& c : cases) {
    RawHttpListener listener([&](const Request& request, int) {
      return Fields(request)["sessFinish"] == "cancel" ? Answer(c.cancelAnswer)
                                                       : Answer("<final/>");
    });
    std::atomic<kqmavo2::Imavo2*> target{nullptr};
    std::atomic<bool> cancelled{false};
    listener.onHead = [&](const QByteArray&) {
      // The flag is a plain value the worker reads; setting it from here is what a click does.
      if (!cancelled.exchange(true)) target.load()->CancelPutFile();
    };
    const Upload upload = RunUpload(listener, MakeFile(kBlock), QString(),
                                    [&](ControlHarness& control) { target = control.Control(); });
    EXPECT_EQ(upload.response, c.expected) << c.what;
    const auto requests = listener.Requests();
    ASSERT_FALSE(requests.empty());
    const Request& cancel = requests.back();
    EXPECT_EQ(cancel.Path(), "/mavo/putFile/");
    const auto fields = cancel.FormFields();
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0].first, "sessID");
    EXPECT_EQ(fields[1], std::make_pair(QByteArray("sessFinish"), QByteArray("cancel")));
    EXPECT_TRUE(cancel.body.endsWith("\r\n--Qu1llbox5_Xu02=$--"));
    EXPECT_FALSE(cancel.body.endsWith("\r\n\r\n--Qu1llbox5_Xu02=$--"));
  }
}

}  // namespace
