#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueFile.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/app/queue/DriverFixture.h"

#include <QEventLoop>
#include <QProcess>

namespace {

QString Cli() { return QDir(TestClips::ProgramFolder()).filePath(QStringLiteral("clipferry-cli")); }

cf::UploadJob Job(const QString& path) {
  cf::UploadJob job;
  job.path = path;
  job.fileName = QFileInfo(path).fileName();
  job.title = job.fileName;
  job.Url = QStringLiteral("127.0.0.1:1");
  return job;
}

class RetryCommand : public ::testing::Test {
 protected:
  // Three jobs in the queue file: two failed, one waiting.
  void SetUp() override {
    for (const QString& path : {failed1, failed2, waiting}) ASSERT_TRUE(queue_.Add(Job(path)));
    queue_.SetFailure(failed1, QStringLiteral("quota exceeded"));
    queue_.SetFailure(failed2, QStringLiteral("refused"));
    ASSERT_TRUE(cf::QueueFile::Save(QueuePath(), queue_));
  }
  QString QueuePath() const { return cf::QueueFile::PathIn(program_.path()); }
  QStringList Args(const QStringList& arguments) const {
    return QStringList{QStringLiteral("--program-folder"), program_.path(),
                       QStringLiteral("retry")} +
           arguments;
  }
  // The states in the queue file, in queue order.
  QStringList SavedStates() const {
    cf::UploadQueue loaded;
    cf::QueueFile::Load(QueuePath(), loaded);
    QStringList states;
    for (int row = 1; row <= loaded.RowCount(); ++row) {
      const cf::UploadJob& job = *loaded.AtRow(row);
      // A failure's text goes with its state.
      EXPECT_EQ(job.errorText.isEmpty(), job.live != cf::JobState::Failed) << row;
      states << cf::StateText(job.live);
    }
    return states;
  }

  const QString failed1 = QStringLiteral("/lectures/week 1 'intro' $(id).mp4");
  const QString failed2 = QStringLiteral("/lectures/-week 2 講義.mp4");
  const QString waiting = QStringLiteral("/lectures/week 3.mp4");
  LinkedProgramFolder program_;
  cf::UploadQueue queue_;
};

TEST_F(RetryCommand, PutsFailedJobsOfTheQueueFileBackAndRefusesOthersClearly) {
  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
    QString said;
    QStringList states;
  } cases[] = {
      {"one path",
       {failed2},
       0,
       failed2,
       {QStringLiteral("Failed"), QStringLiteral("Waiting"), QStringLiteral("Waiting")}},
      {"every failed job",
       {QStringLiteral("--all-failed")},
       0,
       failed1,
       {QStringLiteral("Waiting"), QStringLiteral("Waiting"), QStringLiteral("Waiting")}},
      {"unknown path",
       {QStringLiteral("/lectures/none.mp4")},
       1,
       QStringLiteral("no job of the queue has the path /lectures/none.mp4"),
       {QStringLiteral("Failed"), QStringLiteral("Failed"), QStringLiteral("Waiting")}},
      {"job that has not failed",
       {waiting},
       1,
       QStringLiteral("the job has not failed: ") + waiting,
       {QStringLiteral("Failed"), QStringLiteral("Failed"), QStringLiteral("Waiting")}},
      {"nothing named",
       {},
       2,
       QStringLiteral("usage: clipferry-cli retry"),
       {QStringLiteral("Failed"), QStringLiteral("Failed"), QStringLiteral("Waiting")}},
      {"a path and --all-failed",
       {failed1, QStringLiteral("--all-failed")},
       2,
       QStringLiteral("usage: clipferry-cli retry"),
       {QStringLiteral("Failed"), QStringLiteral("Failed"), QStringLiteral("Waiting")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(cf::QueueFile::Save(QueuePath(), queue_));
    int exitCode = -1;
    const QString output = TestClips::RunProgram(Cli(), Args(c.arguments), &exitCode);
    EXPECT_EQ(exitCode, c.exitCode) << output.toStdString();
    EXPECT_TRUE(output.contains(c.said)) << output.toStdString();
    EXPECT_EQ(SavedStates(), c.states);
  }
  int exitCode = -1;
  const QString help = TestClips::RunProgram(Cli(), {QStringLiteral("--help")}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(help.contains(QStringLiteral("retry PATH | --all-failed"))) << help.toStdString();
}

// With the window running, the window's queue changes and the queue file is left to it.
TEST_F(RetryCommand, GoesThroughARunningWindow) {
  cf::UploadQueue windowQueue;
  cf::UploadQueue saved;
  ASSERT_EQ(cf::QueueFile::Load(QueuePath(), saved), cf::QueueFile::LoadResult::Loaded);
  for (int row = 1; row <= saved.RowCount(); ++row) {
    const cf::UploadJob& job = *saved.AtRow(row);
    ASSERT_TRUE(windowQueue.Add(job));
    if (job.live == cf::JobState::Failed) windowQueue.SetFailure(job.path, job.errorText);
  }
  cf::QueueCommands commands(windowQueue);
  cf::desktop::SingleInstance window(ProgramIdentity::InstanceName());
  ASSERT_TRUE(window.Acquire());
  window.SetHandler(
      [&](const QByteArray& message) { return commands.acceptHanded(message).answer; });
  QFile file(QueuePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray before = file.readAll();
  file.close();

  for (const auto& [arguments, exitCode, waitingAfter] :
       {std::tuple{QStringList{failed1}, 0, 2},
        std::tuple{QStringList{QStringLiteral("/lectures/none.mp4")}, 1, 2},
        std::tuple{QStringList{QStringLiteral("--all-failed")}, 0, 3}}) {
    // The window answers from this process's event loop, so the command runs beside it.
    QProcess cli;
    cli.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&cli, &QProcess::finished, &loop, &QEventLoop::quit);
    cli.start(Cli(), Args(arguments));
    loop.exec();
    const QString output = QString::fromLocal8Bit(cli.readAll());
    EXPECT_EQ(cli.exitCode(), exitCode) << output.toStdString();
    int waitingRows = 0;
    for (int row = 1; row <= windowQueue.RowCount(); ++row) {
      waitingRows += windowQueue.AtRow(row)->live == cf::JobState::Waiting ? 1 : 0;
    }
    EXPECT_EQ(waitingRows, waitingAfter) << output.toStdString();
  }
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
}

}  // namespace
