// A conversion on its own thread: what it reports arrives on the owner's thread, a token stops
// it, and neither its end nor its owner's end reaches the owner's token when it should not.
#include "DriverFixture.h"
#include "app/queue/BackgroundConversion.h"

#include <QDir>
#include <QSignalSpy>
#include <QThread>

namespace {

// Children of this process that are still alive (tools a conversion left behind).
int LiveChildren() {
  int children = 0;
  const QString self = QString::number(QCoreApplication::applicationPid());
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    // "pid (name) state ppid ...": the name may hold blanks, so read after its closing bracket.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1 && fields[0] != "Z" && fields[1] == self.toLatin1()) ++children;
  }
  return children;
}

class BackgroundConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString clip = clips_.filePath(QStringLiteral("it's a $(clip).mp4"));
    ASSERT_TRUE(TestClips::MakeVideo(clip, 20, QStringLiteral("320x240")));
    job_ = ClipJob(clip, QStringLiteral("127.0.0.1:1"), 0);
  }

  LinkedProgramFolder program_;
  QTemporaryDir clips_;
  QTemporaryDir work_;
  cf::UploadJob job_;
};

TEST_F(BackgroundConversionTest, ReportsOnTheOwnersThreadAndAnEndedOneLeavesTheTokenAlone) {
  CancelToken token;
  auto* conversion = new cf::BackgroundConversion(job_, cf::ConversionSettings{}, token);
  QSignalSpy finished(conversion, &cf::BackgroundConversion::finished);
  QSignalSpy stamped(conversion, &cf::BackgroundConversion::stamped);
  int progress = 0;
  bool elsewhere = false;
  QObject::connect(conversion, &cf::BackgroundConversion::progressChanged, [&] {
    ++progress;
    elsewhere = elsewhere || QThread::currentThread() != qApp->thread();
  });
  QObject::connect(conversion, &cf::BackgroundConversion::finished,
                   [&] { elsewhere = elsewhere || QThread::currentThread() != qApp->thread(); });
  conversion->Start(job_.path, work_.path());
  ASSERT_TRUE(finished.wait(240000));
  const auto outcome = finished.first().first().value<cf::Outcome>();
  EXPECT_TRUE(outcome.ok()) << outcome.message.toStdString();
  EXPECT_TRUE(QFileInfo::exists(work_.filePath(QStringLiteral("video.mp4"))));
  EXPECT_GT(progress, 0);
  EXPECT_EQ(stamped.size(), 2);
  EXPECT_FALSE(elsewhere);
  // The token is the owning job's: the end of a finished conversion must not stop that job.
  delete conversion;
  EXPECT_FALSE(token.cancelled());
}

TEST_F(BackgroundConversionTest, TheTokenOrTheOwnersEndStopsTheRunningTool) {
  {
    CancelToken token;
    cf::BackgroundConversion conversion(job_, cf::ConversionSettings{}, token);
    QSignalSpy finished(&conversion, &cf::BackgroundConversion::finished);
    QSignalSpy progress(&conversion, &cf::BackgroundConversion::progressChanged);
    conversion.Start(job_.path, work_.path());
    ASSERT_TRUE(progress.wait(120000));
    token.Cancel();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(finished.first().first().value<cf::Outcome>().status, cf::Outcome::Status::Stopped);
  }
  EXPECT_EQ(LiveChildren(), 0);
  {
    CancelToken token;
    auto* conversion = new cf::BackgroundConversion(job_, cf::ConversionSettings{}, token);
    QSignalSpy progress(conversion, &cf::BackgroundConversion::progressChanged);
    conversion->Start(job_.path, work_.path());
    ASSERT_TRUE(progress.wait(120000));
    // The owner goes while the tool runs: the tool ends and the thread is joined.
    delete conversion;
    EXPECT_TRUE(token.cancelled());
  }
  EXPECT_EQ(LiveChildren(), 0);
}

}  // namespace
