// Uploads that survive a link going down, a pause and a server that forgot the session, against
// the reference server on loopback, with the real upload control.

#include "KqServerProcess.h"
#include "app/queue/ResumeRecord.h"
#include "app/queue/UploadRetry.h"
#include "app/services/MavoControl.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modLanguage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <random>

namespace {

using cf::Outcome;
using cf::ResumeRecord;
using cf::RetrySchedule;
using cf::UploadStep;

constexpr qint64 kBlock = 524288;
constexpr qint64 kMiB = 1048576;

QByteArray Sha256(const QByteArray& data) {
  return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray RandomBytes(qint64 size, unsigned seed) {
  QByteArray data(size, Qt::Uninitialized);
  std::mt19937_64 random(seed);
  auto* words = reinterpret_cast<quint64*>(data.data());
  for (qint64 i = 0; i < size / 8; ++i) words[i] = random();
  return data;
}

void WriteFile(const QString& path, const QByteArray& data) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(data), data.size());
}

// One server, one control, one archive in a folder with an awkward name.
class ResumeBench {
 public:
  explicit ResumeBench(QStringList serverArgs = {}) {
    SetProgramFolder(QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")));
    ReloadResStrings();
    serverArgs << QStringLiteral("--init-demo") << QStringLiteral("--accept-any-archive");
    started_ = server_.Start(serverArgs);
    QString error;
    control_ = MavoControl::Create(&host_, &error);
    folder_ = QDir(dir_.path()).filePath(QStringLiteral("Vorlesung 'Ä' $(x)"));
    QDir().mkpath(folder_);
    archive_ = QDir(folder_).filePath(QStringLiteral("mavo_file.zip"));
  }
  ~ResumeBench() {
    SetProgramFolder(QString());
    ReloadResStrings();
  }

  bool ready() const { return started_ && control_ != nullptr; }
  KqServerProcess& server() { return server_; }
  const QString& archive() const { return archive_; }

  struct Run {
    Outcome outcome;
    QStringList notes;
    int retries = 0;
  };
  // Uploads the archive; `onAcknowledged` sees the bytes the server has taken after each block.
  Run Upload(const RetrySchedule& schedule, CancelToken stop = {}, CancelToken pause = {},
             std::function<void(qint64)> onAcknowledged = nullptr,
             std::function<void(const QString&)> onStatus = nullptr) {
    UploadStep::Request request{
        server_.BaseUrl(), QStringLiteral("demo"), QStringLiteral("demo"), 2, 0, archive_};
    Run run;
    UploadStep::Events events;
    events.status = [&](const QString& text) {
      if (onStatus) onStatus(text);
    };
    events.progress = [](int) {};
    events.note = [&run](const QString& line) { run.notes << line; };
    events.acknowledged = [&](qint64 bytes) {
      if (onAcknowledged) onAcknowledged(bytes);
    };
    QString contentID;
    cf::UploadRetry retry(*control_, stop, pause, schedule);
    run.outcome = retry.Run(request, events, &contentID);
    run.retries = retry.retries();
    return run;
  }

  // Block requests the server has seen: the body bytes it read, and the block numbers in order.
  qint64 BlockBytes() const { return server_.BodyBytesReceived(QStringLiteral("/mavo/putFile")); }
  QList<int> BlockNumbers() const {
    QList<int> numbers;
    static const QRegularExpression block(QStringLiteral(" \\| sess \\d+ block (\\d+)"));
    for (const QString& line : LogLines()) {
      const QRegularExpressionMatch match = block.match(line);
      if (match.hasMatch()) numbers << match.captured(1).toInt();
    }
    return numbers;
  }
  QByteArray StoredSha() { return server_.LastStoredSha256(); }
  QString Log() const { return LogLines().join(QLatin1Char('\n')); }
  int OpenSessions() {
    return static_cast<int>(server_.AdminGet(QStringLiteral("/admin/sessions")).count("<session "));
  }

 private:
  QStringList LogLines() const {
    QFile log(QDir(server_.DataDir()).filePath(QStringLiteral("requests.log")));
    if (!log.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  QTemporaryDir dir_;
  KqServerProcess server_;
  QWidget host_;
  std::unique_ptr<MavoControl> control_;
  QString folder_;
  QString archive_;
  bool started_ = false;
};

// Pauses the upload once the server has taken `bytes`.
std::function<void(qint64)> PauseAt(qint64 bytes, CancelToken stop, CancelToken pause) {
  return [=](qint64 taken) {
    if (taken < bytes) return;
    pause.Cancel();
    stop.Cancel();
  };
}

RetrySchedule NoRetries() {
  RetrySchedule schedule;
  schedule.limitMs = 0;
  return schedule;
}

// The link goes down for 20 s at about 60 %: the upload waits, continues the same session and
// stores the archive whole, sending little more than the archive once.
TEST(UploadResume, ALinkDownForAWhileIsWaitedOutAndTheSessionContinued) {
  ResumeBench bench;
  ASSERT_TRUE(bench.ready()) << bench.server().ErrorText().toStdString();
  const QByteArray data = RandomBytes(64 * kMiB, 17);
  WriteFile(bench.archive(), data);
  ASSERT_TRUE(bench.server().ArmFault(QStringLiteral("path=/mavo/putFile,block=77,down=20000")));

  RetrySchedule schedule;
  schedule.waitsMs = {6000, 16000};
  schedule.thenEveryMs = 30000;
  QElapsedTimer clock;
  clock.start();
  const ResumeBench::Run run = bench.Upload(schedule);
  ASSERT_TRUE(run.outcome.ok()) << run.outcome.message.toStdString();
  EXPECT_LT(clock.elapsed(), 120000);
  EXPECT_EQ(run.retries, 2);
  EXPECT_EQ(bench.StoredSha(), Sha256(data));
  EXPECT_LT(bench.BlockBytes(), data.size() * 11 / 10);
  EXPECT_FALSE(QFileInfo::exists(ResumeRecord::PathFor(bench.archive())));
  EXPECT_TRUE(run.notes.join(QLatin1Char('\n')).contains(QStringLiteral("next try in 6 s")));
  // One session from block 0 to the last, block 77 tried again after each wait.
  const QList<int> blocks = bench.BlockNumbers();
  ASSERT_FALSE(blocks.isEmpty());
  EXPECT_EQ(blocks.count(0), 1);
  EXPECT_EQ(blocks.last(), 127);
}

// Stop ends the wait for the server and forgets the session; Pause ends it and keeps it.
TEST(UploadResume, StopAndPauseEndTheWaitForTheServer) {
  for (const bool pausing : {false, true}) {
    SCOPED_TRACE(pausing ? "pause" : "stop");
    ResumeBench bench;
    ASSERT_TRUE(bench.ready());
    WriteFile(bench.archive(), RandomBytes(6 * kBlock, 3));
    ASSERT_TRUE(bench.server().ArmFault(QStringLiteral("path=/mavo/putFile,block=3,down=600000")));
    RetrySchedule schedule;
    schedule.waitsMs = {60000};
    CancelToken stop;
    CancelToken pause;
    QStringList statuses;
    QElapsedTimer clock;
    clock.start();
    const ResumeBench::Run run =
        bench.Upload(schedule, stop, pause, nullptr, [&](const QString& text) {
          statuses << text;
          if (!text.contains(QStringLiteral("next try in"))) return;
          if (pausing) pause.Cancel();
          stop.Cancel();
        });
    EXPECT_EQ(run.outcome.status, Outcome::Status::Stopped);
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_TRUE(statuses.contains(QStringLiteral("Waiting for the server, next try in 60 s")))
        << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(QFileInfo::exists(ResumeRecord::PathFor(bench.archive())), pausing);
  }
}

// A failure that is an answer (here a refusal of every block) is not waited for.
TEST(UploadResume, RefusalsAreNotRetried) {
  ResumeBench bench;
  ASSERT_TRUE(bench.ready());
  WriteFile(bench.archive(), RandomBytes(3 * kBlock, 5));
  ASSERT_TRUE(bench.server().ArmFault(QStringLiteral("path=/mavo/putFile,status=500,always")));
  RetrySchedule schedule;
  schedule.waitsMs = {60000};
  QElapsedTimer clock;
  clock.start();
  const ResumeBench::Run run = bench.Upload(schedule);
  EXPECT_EQ(run.outcome.status, Outcome::Status::UploadFailed);
  EXPECT_EQ(run.retries, 0);
  EXPECT_LT(clock.elapsed(), 30000);
}

// Paused in the middle, the next upload of the same archive continues at the next block; a Stop
// then discards the session on both sides.
TEST(UploadResume, APauseKeepsTheSessionAndAStopDiscardsIt) {
  ResumeBench bench;
  ASSERT_TRUE(bench.ready());
  const QByteArray data = RandomBytes(16 * kBlock + 99, 23);
  WriteFile(bench.archive(), data);
  // Slow blocks, so the pause lands in the middle.
  ASSERT_TRUE(bench.server().ArmFault(QStringLiteral("path=/mavo/putFile,delay=150,always")));

  CancelToken stop;
  CancelToken pause;
  ResumeBench::Run run = bench.Upload(NoRetries(), stop, pause, PauseAt(4 * kBlock, stop, pause));
  ASSERT_EQ(run.outcome.status, Outcome::Status::Stopped);
  ResumeRecord record;
  ASSERT_TRUE(ResumeRecord::Load(bench.archive(), &record));
  EXPECT_GE(record.nextSeqno, 4);
  EXPECT_LT(record.nextSeqno, 16);
  EXPECT_EQ(record.archiveSha256, Sha256(data));
  EXPECT_EQ(bench.OpenSessions(), 1);
  const int pausedBlocks = static_cast<int>(bench.BlockNumbers().size());

  run = bench.Upload(NoRetries());
  ASSERT_TRUE(run.outcome.ok()) << run.outcome.message.toStdString();
  const QList<int> blocks = bench.BlockNumbers();
  ASSERT_GT(blocks.size(), pausedBlocks);
  EXPECT_EQ(blocks[pausedBlocks], record.nextSeqno);
  EXPECT_EQ(blocks.count(0), 1);
  // At most the block cut by the pause goes twice.
  EXPECT_LE(bench.BlockBytes(), data.size() + kBlock + 16 * 2048);
  EXPECT_EQ(bench.StoredSha(), Sha256(data));
  EXPECT_FALSE(QFileInfo::exists(ResumeRecord::PathFor(bench.archive())));

  CancelToken stopAgain;
  run = bench.Upload(NoRetries(), stopAgain, {}, [stopAgain](qint64 taken) {
    if (taken >= 3 * kBlock) stopAgain.Cancel();
  });
  EXPECT_EQ(run.outcome.status, Outcome::Status::Stopped);
  EXPECT_FALSE(QFileInfo::exists(ResumeRecord::PathFor(bench.archive())));
  EXPECT_EQ(bench.OpenSessions(), 0);
}

// A server restarted without its sessions refuses the next block: the upload starts over from
// block 0 once, says so, and finishes.
TEST(UploadResume, ASessionTheServerForgotStartsOverOnce) {
  ResumeBench bench;
  ASSERT_TRUE(bench.ready());
  const QByteArray data = RandomBytes(12 * kBlock + 7, 31);
  WriteFile(bench.archive(), data);
  ASSERT_TRUE(bench.server().ArmFault(QStringLiteral("path=/mavo/putFile,delay=150,always")));
  CancelToken stop;
  CancelToken pause;
  ASSERT_EQ(bench.Upload(NoRetries(), stop, pause, PauseAt(3 * kBlock, stop, pause)).outcome.status,
            Outcome::Status::Stopped);
  ASSERT_TRUE(QFileInfo::exists(ResumeRecord::PathFor(bench.archive())));

  bench.server().Stop();
  ASSERT_TRUE(QDir(QDir(bench.server().DataDir()).filePath(QStringLiteral("sessions")))
                  .removeRecursively());
  ASSERT_TRUE(bench.server().Restart(true));
  const qsizetype before = bench.BlockNumbers().size();
  const ResumeBench::Run run = bench.Upload(NoRetries());
  ASSERT_TRUE(run.outcome.ok()) << run.outcome.message.toStdString();
  const QString startOver = GetResString(QStringLiteral("uploadResume"),
                                         QStringLiteral("msgStartOver"), QStringLiteral("?"));
  EXPECT_EQ(run.notes.count(startOver), 1) << run.notes.join(QLatin1Char('|')).toStdString();
  const QList<int> blocks = bench.BlockNumbers().mid(before);
  ASSERT_FALSE(blocks.isEmpty());
  EXPECT_GT(blocks.first(), 0) << bench.Log().toStdString();  // the forgotten session's block
  EXPECT_EQ(blocks.count(0), 1);
  EXPECT_EQ(bench.StoredSha(), Sha256(data));
}

// A record is never applied to an archive that changed since: not when its size or time
// changed, and not when only its content did.
TEST(UploadResume, ARecordOfAnotherArchiveIsIgnored) {
  struct Case {
    const char* name;
    std::function<void(QByteArray*)> change;
    bool keepTime;
  };
  const Case cases[] = {
      {"content changed, size and time kept", [](QByteArray* d) { (*d)[kBlock + 3] ^= 0x5A; },
       true},
      {"grown", [](QByteArray* d) { d->append("tail"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResumeBench bench;
    ASSERT_TRUE(bench.ready());
    QByteArray data = RandomBytes(10 * kBlock + 1, 41);
    WriteFile(bench.archive(), data);
    ASSERT_TRUE(bench.server().ArmFault(QStringLiteral("path=/mavo/putFile,delay=150,always")));
    CancelToken stop;
    CancelToken pause;
    ASSERT_EQ(
        bench.Upload(NoRetries(), stop, pause, PauseAt(3 * kBlock, stop, pause)).outcome.status,
        Outcome::Status::Stopped);
    ASSERT_TRUE(bench.server().ClearFaults());
    const QDateTime time = QFileInfo(bench.archive()).lastModified();
    c.change(&data);
    WriteFile(bench.archive(), data);
    if (c.keepTime) {
      QFile file(bench.archive());
      ASSERT_TRUE(file.open(QIODevice::ReadWrite));
      ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
    }
    const qsizetype before = bench.BlockNumbers().size();
    const ResumeBench::Run run = bench.Upload(NoRetries());
    ASSERT_TRUE(run.outcome.ok()) << run.outcome.message.toStdString();
    const QList<int> blocks = bench.BlockNumbers().mid(before);
    ASSERT_FALSE(blocks.isEmpty());
    EXPECT_EQ(blocks.first(), 0);
    EXPECT_TRUE(run.notes.isEmpty()) << run.notes.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(bench.StoredSha(), Sha256(data));
  }
}

// A record that cannot describe a later block of its archive is not one.
TEST(UploadResume, UnsoundRecordsAreNotLoaded) {
  QTemporaryDir dir;
  const QString archive = dir.filePath(QStringLiteral("a.zip"));
  const QByteArray good =
      "target=t\nsessID=17\nseqno=2\nurl=5\nsize=1048577\nmtime=1\nsha256=" + QByteArray(64, 'a') +
      "\n";
  struct Case {
    const char* name;
    QByteArray text;
    bool loads;
  };
  const Case cases[] = {
      {"sound", good, true},
      {"block past the end", QByteArray(good).replace("size=1048577", "size=1048576"), false},
      {"block 0", QByteArray(good).replace("seqno=2", "seqno=0"), false},
      {"no session", QByteArray(good).replace("sessID=17", "sessID="), false},
      {"short hash", QByteArray(good).replace(QByteArray(64, 'a'), "abc"), false},
      {"hash not hex", QByteArray(good).replace(QByteArray(64, 'a'), QByteArray(64, 'z')), false},
      {"size not a number", QByteArray(good).replace("size=1048577", "size=big"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(ResumeRecord::PathFor(archive), c.text);
    ResumeRecord record;
    EXPECT_EQ(ResumeRecord::Load(archive, &record), c.loads);
  }
}

}  // namespace

namespace {

// The archive is hashed on a worker thread: events posted before the hash still run before it
// is done, and the hash is the file's.
TEST(UploadResume, HashingAnArchiveLetsEventsRun) {
  QTemporaryDir dir;
  const QString archive = dir.filePath(QStringLiteral("big 'archive'.zip"));
  const QByteArray data = RandomBytes(16 * kMiB, 5);
  WriteFile(archive, data);
  bool ran = false;
  QTimer::singleShot(0, [&ran] { ran = true; });
  EXPECT_EQ(ResumeRecord::HashFileWhileEventsRun(archive), Sha256(data));
  EXPECT_TRUE(ran);
  EXPECT_TRUE(ResumeRecord::HashFileWhileEventsRun(dir.filePath(QStringLiteral("gone"))).isEmpty());
}

// A countdown keeps one line in the output box: a note led by a carriage return replaces the
// last line and nothing before it.
TEST(UploadResume, CountdownNotesReplaceOnlyTheLastLine) {
  struct Case {
    QString before;
    QString line;
    QString after;
  };
  const Case cases[] = {
      {QString(), QStringLiteral("a"), QStringLiteral("a\n")},
      {QStringLiteral("conv\n"), QStringLiteral("wait 5"), QStringLiteral("conv\nwait 5\n")},
      {QStringLiteral("conv\nwait 5\n"), QStringLiteral("\rwait 4"),
       QStringLiteral("conv\nwait 4\n")},
      {QStringLiteral("wait 5\n"), QStringLiteral("\rwait 4"), QStringLiteral("wait 4\n")},
      {QStringLiteral("conv\nno break"), QStringLiteral("\rwait 3"),
       QStringLiteral("conv\nwait 3\n")},
  };
  for (const Case& c : cases) {
    QString text = c.before;
    UploadStep::AddNote(&text, c.line);
    EXPECT_EQ(text, c.after) << c.before.toStdString() << " + " << c.line.toStdString();
  }
}

}  // namespace
