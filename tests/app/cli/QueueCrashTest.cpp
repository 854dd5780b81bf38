// The queue file under programs that die or share it: a killed run or a killed window loses no
// job, and a job added from the command line while the window runs goes to the window.
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueFile.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/app/queue/DriverFixture.h"

#include <QTest>

#include <signal.h>

namespace {

QString Program(const QString& name) { return QDir(TestClips::ProgramFolder()).filePath(name); }

class QueueCrash : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start({QStringLiteral("--init-demo")}))
        << server_.ErrorText().toStdString();
  }
  void TearDown() override {
    for (QProcess* process : {&run_, &window_}) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
      }
    }
  }

  // Names a shell or a converter would trip over.
  cf::UploadJob Queue(const QString& name) {
    const QString path = clips_.filePath(name);
    EXPECT_TRUE(TestClips::MakeVideo(path, 1, QStringLiteral("320x240")));
    const cf::UploadJob job = ClipJob(path, server_.BaseUrl(), 1);
    EXPECT_TRUE(queue_.Add(job));
    return job;
  }
  QString QueuePath() const { return cf::QueueFile::PathIn(program_.path()); }
  // The paths of the queue file as a restarted program reads them.
  QStringList Reloaded() const {
    cf::UploadQueue reloaded;
    cf::QueueFile::Load(QueuePath(), reloaded);
    QStringList paths;
    for (int i = 1; i <= reloaded.Count(); ++i) paths << reloaded.item(i)->path;
    return paths;
  }
  // The window takes its program folder from where its executable lies, so it gets a copy.
  QString WindowCopy() const {
    const QString copy = program_.filePath(QStringLiteral("clipFerry"));
    QFile::remove(copy);
    EXPECT_TRUE(QFile::copy(Program(QStringLiteral("clipFerry")), copy));
    return copy;
  }
  QByteArray QueueFileText() const {
    QFile file(QueuePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  static void KillHard(QProcess& process) {
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished(5000);
  }

  LinkedProgramFolder program_;
  KqServerProcess server_;
  QTemporaryDir clips_;
  cf::UploadQueue queue_;
  QProcess run_;
  QProcess window_;
};

TEST_F(QueueCrash, KilledRunLosesNoJobAndDropsOnlyWhatWasUploaded) {
  const cf::UploadJob first = Queue(QStringLiteral("-first 'a' $(x).mp4"));
  const cf::UploadJob second = Queue(QStringLiteral("second \"b\" café.mp4"));
  const cf::UploadJob third = Queue(QStringLiteral("third.mp4"));
  ASSERT_TRUE(cf::QueueFile::Save(QueuePath(), queue_));
  // Every upload takes a while, so the kill lands in the middle of the second job.
  ASSERT_TRUE(server_.ArmFault(QStringLiteral("path=/mavo/putFile,delay=1500,always")));

  run_.setProcessChannelMode(QProcess::MergedChannels);
  run_.start(Program(QStringLiteral("clipferry-cli")),
             {QStringLiteral("--program-folder"), program_.path(), QStringLiteral("run")});
  ASSERT_TRUE(run_.waitForStarted());
  // The first job leaves the file as soon as it is uploaded, not when the run ends.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Reloaded().contains(first.path); }, 120000))
      << run_.readAll().toStdString();
  EXPECT_EQ(run_.state(), QProcess::Running);
  // While the run owns the file, adding to it is refused in words, and the file is not touched.
  int addExit = -1;
  const QString refused = TestClips::RunProgram(
      Program(QStringLiteral("clipferry-cli")),
      {QStringLiteral("--program-folder"), program_.path(), QStringLiteral("add"), first.path,
       QStringLiteral("--url"), server_.BaseUrl(), QStringLiteral("--account"),
       QStringLiteral("demo"), QStringLiteral("--password"), QStringLiteral("demo"),
       QStringLiteral("--folder-id"), QStringLiteral("2")},
      &addExit);
  EXPECT_EQ(addExit, 1);
  EXPECT_TRUE(refused.contains(QStringLiteral("being run by another clipferry-cli")))
      << refused.toStdString();
  // So is a second run, and a window, which would show a stale queue and write over it.
  const QString secondRun = TestClips::RunProgram(
      Program(QStringLiteral("clipferry-cli")),
      {QStringLiteral("--program-folder"), program_.path(), QStringLiteral("run")}, &addExit);
  EXPECT_EQ(addExit, 1);
  EXPECT_TRUE(secondRun.contains(QStringLiteral("Another clipferry-cli is running this queue")))
      << secondRun.toStdString();
  KillHard(run_);

  EXPECT_EQ(Reloaded(), QStringList({second.path, third.path}));
  const QByteArray contents = server_.AdminGet(QStringLiteral("/admin/contents"));
  EXPECT_FALSE(contents.contains(third.fileName.toUtf8()));

  // A restart sees both jobs waiting.
  int exitCode = -1;
  const QString listed = TestClips::RunProgram(
      Program(QStringLiteral("clipferry-cli")),
      {QStringLiteral("--program-folder"), program_.path(), QStringLiteral("list")}, &exitCode);
  EXPECT_EQ(exitCode, 0) << listed.toStdString();
  EXPECT_TRUE(listed.contains(QStringLiteral("1\tWaiting\tVideo\t")));
  EXPECT_TRUE(listed.contains(QStringLiteral("2\tWaiting\tVideo\t")));
  EXPECT_TRUE(listed.contains(second.path));
}

// The window owns the queue file while it runs: a job added from the command line is handed to
// it, is on disk at once, and survives the window being killed.
// A window started beside a run says so instead of showing and later rewriting the queue.
TEST_F(QueueCrash, WindowRefusesToStartWhileARunOwnsTheQueue) {
  Queue(QStringLiteral("kept.mp4"));
  ASSERT_TRUE(cf::QueueFile::Save(QueuePath(), queue_));
  const QByteArray before = QueueFileText();
  cf::QueueAutoSave run(queue_, QueuePath());  // what clipferry-cli run holds
  const QString windowProgram = WindowCopy();
  window_.setProcessChannelMode(QProcess::MergedChannels);
  window_.start(windowProgram, {});
  ASSERT_TRUE(window_.waitForStarted());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        window_.waitForReadyRead(50);
        return window_.peek(4096).contains("clipferry-cli is running the upload queue");
      },
      30000))
      << window_.readAll().toStdString();
  EXPECT_EQ(QueueFileText(), before);
}

TEST_F(QueueCrash, CliAddGoesToTheRunningWindowAndSurvivesItsKill) {
  const cf::UploadJob queued = Queue(QStringLiteral("queued.mp4"));
  ASSERT_TRUE(cf::QueueFile::Save(QueuePath(), queue_));
  const QString windowProgram = WindowCopy();

  window_.setProcessChannelMode(QProcess::MergedChannels);
  window_.start(windowProgram, {});
  ASSERT_TRUE(window_.waitForStarted());
  ASSERT_TRUE(QTest::qWaitFor(
      [] { return cf::desktop::SingleInstance::IsRunning(ProgramIdentity::WindowTitle()); },
      30000));

  const QString added = clips_.filePath(QStringLiteral("added 'late' $(y).mp4"));
  ASSERT_TRUE(TestClips::MakeVideo(added, 1, QStringLiteral("320x240")));
  int exitCode = -1;
  const QStringList addArguments = {QStringLiteral("--program-folder"),
                                    program_.path(),
                                    QStringLiteral("add"),
                                    added,
                                    QStringLiteral("--url"),
                                    QStringLiteral("http://") + server_.BaseUrl(),
                                    QStringLiteral("--account"),
                                    QStringLiteral("demo"),
                                    QStringLiteral("--password"),
                                    QStringLiteral("demo"),
                                    QStringLiteral("--folder-id"),
                                    QStringLiteral("2")};
  const QString output =
      TestClips::RunProgram(Program(QStringLiteral("clipferry-cli")), addArguments, &exitCode);
  ASSERT_EQ(exitCode, 0) << output.toStdString() << window_.readAll().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Reloaded().contains(added); }, 2000));
  EXPECT_EQ(Reloaded(), QStringList({queued.path, added}));

  // The same file again is refused by the window, not written twice.
  const QString again =
      TestClips::RunProgram(Program(QStringLiteral("clipferry-cli")), addArguments, &exitCode);
  EXPECT_EQ(exitCode, 1) << again.toStdString();

  KillHard(window_);
  EXPECT_EQ(Reloaded(), QStringList({queued.path, added}));
}

}  // namespace
