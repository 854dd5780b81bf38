// A queue run with the next video converted while one uploads: the order in which jobs convert
// and finish, Stop and a next job that fails, and one request at a time at the server.
#include "DriverFixture.h"

#include <QSignalSpy>
#include <QTimer>

namespace {

using cf::kStateFailed;
using cf::kStateFinished;
using cf::kStateWaiting;

// Every block of an upload takes this long at the server, so a job's upload lasts while the next
// job converts.
constexpr const char* kSlowBlocks = "path=/mavo/putFile,delay=%1,always";

class OverlapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench_.ready());
    bench_.driver().setOverlap(true);
    contentsBefore_ = Contents();
    // What happened, in order: "convert NAME" when a job beside the front one begins to convert,
    // "upload NAME" when a front job's upload begins, "end NAME STATE" when a row leaves
    // "Transfering".
    QObject::connect(&bench_.driver(), &cf::JobDriver::nextJobChanged,
                     [this](const QString& path, cf::JobRun::Phase phase, int, bool) {
                       const QString entry = QStringLiteral("convert ") + Name(path);
                       if (phase == cf::JobRun::Phase::Converting && !events_.contains(entry)) {
                         events_ << entry;
                       }
                     });
    QObject::connect(&bench_.driver(), &cf::JobDriver::phaseChanged,
                     [this](const QString& path, cf::JobRun::Phase phase) {
                       if (phase == cf::JobRun::Phase::Uploading) {
                         events_ << QStringLiteral("upload ") + Name(path);
                       }
                     });
    QObject::connect(&bench_.driver(), &cf::JobDriver::jobChanged, [this](const QString& path) {
      const QString state = bench_.State(path);
      if (state == QLatin1String("Transfering")) return;
      const QString entry = QStringLiteral("end ") + Name(path) + QLatin1Char(' ') + state;
      if (events_.isEmpty() || events_.last() != entry) events_ << entry;
    });
    QObject::connect(&bench_.driver(), &cf::JobDriver::queueFinished,
                     [this](const cf::QueueSummary& summary) { summary_ = summary; });
  }

  QString Name(const QString& path) const { return names_.value(path); }

  // A clip of `seconds` at 320x240, queued for local conversion; `name` is what the events call it.
  // With a `bitrate`, two seconds of noise at that rate instead, sent for the server to convert
  // (so the archive keeps its size).
  cf::UploadJob AddClip(const QString& fileName, const QString& name, int seconds = 2,
                        const QString& bitrate = {}) {
    const QString path = bench_.clipFolder() + QLatin1Char('/') + fileName;
    EXPECT_TRUE(bitrate.isEmpty() ? TestClips::MakeVideo(path, seconds, QStringLiteral("320x240"))
                                  : TestClips::MakeNoiseVideo(path, bitrate));
    cf::UploadJob job = ClipJob(path, bench_.server().BaseUrl(), bitrate.isEmpty() ? 0 : 1);
    names_.insert(job.path, name);
    bench_.Add(job);
    return job;
  }

  // Contents the server holds beyond the demo account's own.
  int StoredContents() { return Contents() - contentsBefore_; }
  int Contents() {
    return static_cast<int>(
        bench_.server().AdminGet(QStringLiteral("/admin/contents")).count("path=\""));
  }

  LinkedProgramFolder program_;
  DriverBench bench_;
  QHash<QString, QString> names_;
  QStringList events_;
  cf::QueueSummary summary_;
  int contentsBefore_ = 0;
};

TEST_F(OverlapTest, TheNextJobConvertsDuringTheUploadAndJobsFinishInQueueOrder) {
  // Hostile names: the conversion beside an upload quotes its paths like any other.
  const cf::UploadJob first = AddClip(QStringLiteral("first lecture.mp4"), QStringLiteral("1"));
  const cf::UploadJob second =
      AddClip(QStringLiteral("-second $(id) 'x'.mp4"), QStringLiteral("2"));
  const cf::UploadJob third =
      AddClip(QStringLiteral("dritte Übung \"3\".mp4"), QStringLiteral("3"));
  ASSERT_TRUE(bench_.server().ArmFault(QString::fromLatin1(kSlowBlocks).arg(1500)));

  bench_.RunQueue();

  for (const cf::UploadJob& job : {first, second, third}) {
    EXPECT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
  }
  // Each next job began converting before the job ahead of it started uploading (its first
  // answer releases that upload), and went on only after that job had ended: the rows end in
  // queue order.
  const QStringList expected = {
      QStringLiteral("convert 2"),      QStringLiteral("upload 1"),
      QStringLiteral("end 1 Finished"), QStringLiteral("convert 3"),
      QStringLiteral("upload 2"),       QStringLiteral("end 2 Finished"),
      QStringLiteral("upload 3"),       QStringLiteral("end 3 Finished"),
  };
  EXPECT_EQ(events_, expected) << events_.join(QStringLiteral(", ")).toStdString();
  EXPECT_EQ(bench_.control().overlappingRequests(), 0);
  EXPECT_EQ(summary_.finished, 3);
  EXPECT_EQ(StoredContents(), 3);
}

TEST_F(OverlapTest, StopWhileTheNextJobConvertsSendsBothBackToWaiting) {
  // Several blocks: Stop comes before the last one, so nothing is stored.
  const cf::UploadJob first =
      AddClip(QStringLiteral("first.mp4"), QStringLiteral("1"), 2, QStringLiteral("6M"));
  // Long enough that its conversion still runs when Stop comes.
  const cf::UploadJob second = AddClip(QStringLiteral("second.mp4"), QStringLiteral("2"), 20);
  ASSERT_TRUE(bench_.server().ArmFault(QString::fromLatin1(kSlowBlocks).arg(5000)));
  bool stopped = false;
  bool stoppedWhileConverting = false;
  QObject::connect(&bench_.driver(), &cf::JobDriver::nextJobChanged,
                   [&](const QString&, cf::JobRun::Phase phase, int percent, bool ready) {
                     if (stopped || bench_.driver().phase() != cf::JobRun::Phase::Uploading ||
                         phase != cf::JobRun::Phase::Converting || percent < 0) {
                       return;
                     }
                     stopped = true;
                     stoppedWhileConverting = !ready;
                     QTimer::singleShot(0, &bench_.driver(), &cf::JobDriver::Stop);
                   });

  bench_.RunQueue();

  ASSERT_TRUE(stopped) << events_.join(QStringLiteral(", ")).toStdString();
  EXPECT_TRUE(stoppedWhileConverting);
  EXPECT_EQ(bench_.State(first.path), kStateWaiting);
  EXPECT_EQ(bench_.State(second.path), kStateWaiting);
  EXPECT_EQ(summary_.stopped, 2);
  EXPECT_EQ(summary_.finished + summary_.failed, 0);
  EXPECT_EQ(bench_.control().overlappingRequests(), 0);
  EXPECT_EQ(StoredContents(), 0);
}

TEST_F(OverlapTest, ANextJobThatFailsAtOnceLeavesTheOthersGoing) {
  const cf::UploadJob first = AddClip(QStringLiteral("first.mp4"), QStringLiteral("1"));
  // Its queued size no longer matches the file: it fails as it starts, beside the first upload.
  const QString changed = bench_.clipFolder() + QStringLiteral("/changed.mp4");
  ASSERT_TRUE(TestClips::MakeVideo(changed, 2, QStringLiteral("320x240")));
  cf::UploadJob second = ClipJob(changed, bench_.server().BaseUrl(), 0);
  second.fileSize += 1;
  names_.insert(second.path, QStringLiteral("2"));
  bench_.Add(second);
  const cf::UploadJob third = AddClip(QStringLiteral("third.mp4"), QStringLiteral("3"));
  ASSERT_TRUE(bench_.server().ArmFault(QString::fromLatin1(kSlowBlocks).arg(500)));

  bench_.RunQueue();

  EXPECT_EQ(bench_.State(first.path), kStateFinished) << bench_.Error(first.path).toStdString();
  EXPECT_EQ(bench_.State(second.path), kStateFailed);
  EXPECT_EQ(bench_.Error(second.path), QStringLiteral("File has been modified"));
  EXPECT_EQ(bench_.State(third.path), kStateFinished) << bench_.Error(third.path).toStdString();
  EXPECT_EQ(summary_.finished, 2);
  EXPECT_EQ(summary_.failed, 1);
  EXPECT_EQ(bench_.control().overlappingRequests(), 0);
  EXPECT_EQ(StoredContents(), 2);
}

}  // namespace
