// How far an upload goes after it is cancelled, seen from the worker and from the wire.

#include "tests/upload_control/RawHttpListener.h"
#include "upload_control/src/ControlRequestState.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/UploadWorker.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <set>

#include <gtest/gtest.h>

namespace {

using kqmavo2::HttpTransport;
using kqmavo2::UploadWorker;
using Request = RawHttpListener::Request;

constexpr std::uint64_t kBlock = UploadWorker::kBlockSize;
constexpr std::uint64_t kPiece = HttpTransport::kWritePieceBytes;
const QByteArray kCancelAnswer = "<putFile><errInfo>1004</errInfo></putFile>";

QByteArray Field(const Request& request, const QByteArray& name) {
  for (const auto& [field, value] : request.FormFields())
    if (field == name) return value;
  return {};
}

// File bytes that reached the listener in a block request, complete or cut off.
QByteArray FileBytesOf(const Request& request) {
  const QByteArray header = "Content-Transfer-encoding: Binary\r\n\r\n";
  const qsizetype at = request.body.indexOf(header);
  if (at < 0) return {};
  QByteArray data = request.body.mid(at + header.size());
  if (data.endsWith("\r\n--Qu1llbox5_Xu02=$--")) data.chop(22);
  return data;
}

TEST(UploadWorker, CancelStopsTheUploadWithinOnePieceOfFileData) {
  // Three blocks, the last one of five pieces.
  const std::uint64_t fileSize = 2 * kBlock + 4 * kPiece + 904;
  QByteArray contents(static_cast<qsizetype>(fileSize), Qt::Uninitialized);
  for (qsizetype i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 31 + i / 977);
  const QString path = QDir::temp().filePath(QStringLiteral("cancel.zip"));
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(contents), contents.size());
  }

  struct Case {
    const char* what;
    std::uint64_t cancelAt;  // offset of the piece being written when cancel comes
  };
  const Case cases[] = {
      {"first piece of the file", 0},
      {"inside the second block", kBlock + 200 * kPiece},
      {"last piece of a block", kBlock - kPiece},
      {"last piece of the final block", 2 * kBlock + 4 * kPiece},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawHttpListener listener([](const Request& request, int) {
      const QByteArray finish = Field(request, "sessFinish");
      if (finish == "cancel")
        return RawHttpListener::Reply{RawHttpListener::Answer(200, kCancelAnswer)};
      return RawHttpListener::Reply{RawHttpListener::Answer(
          200, finish == "yes" ? "<final/>" : "<putFile><url>x</url></putFile>")};
    });
    kqmavo2::ControlRequestState request;
    request.SetUrl(listener.Url(QStringLiteral("/mavo/putFile/")), true);
    request.SetAccount(QStringLiteral("demo"));
    request.SetPassword(QStringLiteral("pw"));
    request.SetFolderId(2);
    request.SetContentId(-1);
    request.SetFilePath(path);
    std::atomic<std::int32_t> progress{0};
    std::atomic<std::int32_t> cancel{0};
    UploadWorker worker(request, progress, cancel);
    bool cancelled = false;
    std::vector<std::uint64_t> piecesAfterCancel;
    worker.SetPieceObserver([&](std::uint64_t offset, std::size_t) {
      if (cancelled) piecesAfterCancel.push_back(offset);
      if (offset == c.cancelAt) {
        // What a click on Cancel does while this piece is on its way.
        cancel = 1;
        cancelled = true;
      }
    });
    QString result;
    {
      auto gate = HttpTransport::Instance().Acquire(&worker);
      result = worker.Run();
    }
    ASSERT_TRUE(cancelled);
    EXPECT_TRUE(piecesAfterCancel.empty())
        << "first piece after cancel at " << piecesAfterCancel[0];
    EXPECT_EQ(result, QString::fromLatin1(kCancelAnswer));

    const std::uint64_t block = c.cancelAt / kBlock;
    const std::uint64_t pieceEnd = c.cancelAt + kPiece;
    const bool blockEndsWithPiece = pieceEnd % kBlock == 0 || pieceEnd >= fileSize;
    const auto requests = listener.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(Field(requests.back(), "sessFinish"), "cancel");
    std::set<std::uint64_t> completed;
    for (std::size_t i = 0; i + 1 < requests.size(); ++i)
      completed.insert(Field(requests[i], "seqno").toULongLong());
    std::set<std::uint64_t> expected;
    for (std::uint64_t n = 0; n < block + (blockEndsWithPiece ? 1 : 0); ++n) expected.insert(n);
    EXPECT_EQ(completed, expected);

    if (!blockEndsWithPiece) {
      // The block in flight is abandoned: its request never ends, and nothing past the piece
      // that was being written reaches the server.
      ASSERT_TRUE(listener.WaitForAbandoned(1));
      const auto abandoned = listener.Abandoned();
      ASSERT_EQ(abandoned.size(), 1u);
      const QByteArray arrived = FileBytesOf(abandoned[0]);
      EXPECT_LE(static_cast<std::uint64_t>(arrived.size()), pieceEnd - block * kBlock);
      EXPECT_TRUE(arrived == contents.mid(static_cast<qsizetype>(block * kBlock), arrived.size()));
    } else {
      EXPECT_TRUE(listener.Abandoned().empty());
    }
  }
}

}  // namespace
