#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueFile.h"
#include "app/services/SettingsStore.h"
#include "app/services/modConfig.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/app/queue/DriverFixture.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>

namespace {

QString Cli() { return QDir(TestClips::ProgramFolder()).filePath(QStringLiteral("clipferry-cli")); }

class RunCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start({QStringLiteral("--init-demo")}))
        << server_.ErrorText().toStdString();
  }

  cf::UploadJob Queue(const QString& name, int cvtType) {
    const QString path = clips_.filePath(name);
    EXPECT_TRUE(TestClips::MakeVideo(path, 2, QStringLiteral("320x240")));
    const cf::UploadJob job = ClipJob(path, server_.BaseUrl(), cvtType);
    EXPECT_TRUE(queue_.Add(job));
    return job;
  }
  bool SaveQueue() { return cf::QueueFile::Save(cf::QueueFile::PathIn(program_.path()), queue_); }
  QString Run(const QStringList& arguments, int* exitCode) {
    return TestClips::RunProgram(
        Cli(),
        QStringList{QStringLiteral("--program-folder"), program_.path(), QStringLiteral("run")} +
            arguments,
        exitCode);
  }
  QByteArray QueueFileText() const {
    QFile file(cf::QueueFile::PathIn(program_.path()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  LinkedProgramFolder program_;
  KqServerProcess server_;
  QTemporaryDir clips_;
  cf::UploadQueue queue_;
  cf::QueueGridModel grid_{queue_};
};

TEST_F(RunCommand, UploadsTheWaitingJobsAndReportsEachStep) {
  const cf::UploadJob job = Queue(QStringLiteral("cli.mp4"), 2);
  const cf::UploadJob changed = Queue(QStringLiteral("changed.mp4"), 1);
  QFile touched(changed.path);
  ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
  ASSERT_TRUE(touched.setFileTime(QFileInfo(changed.path).lastModified().addSecs(-30),
                                  QFileDevice::FileModificationTime));
  touched.close();
  ASSERT_TRUE(SaveQueue());

  int exitCode = -1;
  const QString output = Run({}, &exitCode);
  EXPECT_EQ(exitCode, 1) << output.toStdString();
  EXPECT_TRUE(
      output.contains(QStringLiteral("state: ") + job.path + QStringLiteral(": Transfering")))
      << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("state: ") + job.path + QStringLiteral(": Finished")));
  EXPECT_TRUE(output.contains(QStringLiteral("failure: ") + changed.path +
                              QStringLiteral(": File has been modified")));
  EXPECT_TRUE(output.contains(QStringLiteral("status: ") + GetResString("frmUpload", "msgPack")));
  EXPECT_TRUE(output.contains(QStringLiteral("progress: 100%")));
  EXPECT_TRUE(output.contains(QStringLiteral("done: 1 finished, 1 failed")))
      << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("summary: 1 uploaded, 1 failed, 0 stopped")))
      << output.toStdString();
  EXPECT_TRUE(server_.AdminGet(QStringLiteral("/admin/contents")).contains("account=\"demo\""));

  // The finished job is dropped from the queue file; the failed one stays for another try.
  const QByteArray kept = QueueFileText();
  EXPECT_FALSE(kept.contains(job.path.toUtf8()));
  EXPECT_TRUE(kept.contains(changed.path.toUtf8()));
}

// With --json every line is one event; an upload slowed to a few blocks a second shows its
// bytes, speed and time left, in the text a person reads and as numbers.
TEST_F(RunCommand, JsonEventsCarryTheUploadsSpeedAndTimeLeft) {
  const QString path = clips_.filePath(QStringLiteral("-noisy 'clip' $(x).mp4"));
  // Noise does not compress: about 3 MiB, six blocks.
  ASSERT_TRUE(TestClips::Make(
      path, {"-f", "lavfi", "-i", "testsrc=size=640x360:rate=25:duration=2,noise=alls=60:allf=t",
             "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-c:a", "aac", "-pix_fmt",
             "yuv420p", "-c:v", "libx264", "-preset", "ultrafast"}));
  ASSERT_TRUE(queue_.Add(ClipJob(path, server_.BaseUrl(), 2)));
  ASSERT_TRUE(SaveQueue());
  ASSERT_TRUE(server_.ArmFault(QStringLiteral("path=/mavo/putFile,delay=400,always")));

  int exitCode = -1;
  const QString output = Run({QStringLiteral("--json")}, &exitCode);
  ASSERT_EQ(exitCode, 0) << output.toStdString();
  static const QRegularExpression kUploadText(
      QStringLiteral("^\\d+% \\([\\d.]+ of [\\d.]+ MB, [\\d.]+ [KM]B/s, about \\d+ s left\\)$"));
  int withSpeed = 0;
  bool finished = false;
  QJsonObject done;
  for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
    ASSERT_TRUE(document.isObject()) << line.toStdString();
    const QJsonObject event = document.object();
    const QString kind = event.value(QStringLiteral("event")).toString();
    if (kind == QLatin1String("progress") && event.contains(QStringLiteral("bytesPerSecond")) &&
        event.value(QStringLiteral("bytesPerSecond")).toDouble() > 0) {
      ++withSpeed;
      EXPECT_TRUE(kUploadText.match(event.value(QStringLiteral("text")).toString()).hasMatch())
          << line.toStdString();
      EXPECT_GT(event.value(QStringLiteral("totalBytes")).toDouble(), QFileInfo(path).size());
      EXPECT_LE(event.value(QStringLiteral("bytes")).toDouble(),
                event.value(QStringLiteral("totalBytes")).toDouble());
      EXPECT_GE(event.value(QStringLiteral("secondsLeft")).toInt(-1), 0);
    }
    if (kind == QLatin1String("state") && event.value(QStringLiteral("path")) == path &&
        event.value(QStringLiteral("state")) == QLatin1String("Finished")) {
      finished = true;
    }
    if (kind == QLatin1String("done")) done = event;
  }
  EXPECT_GT(withSpeed, 0) << output.toStdString();
  EXPECT_TRUE(finished) << output.toStdString();
  EXPECT_EQ(done.value(QStringLiteral("finished")).toInt(), 1) << output.toStdString();
  EXPECT_EQ(done.value(QStringLiteral("failed")).toInt(-1), 0) << output.toStdString();
}

// The next video is converted while one uploads when --overlap says so, whatever the window's
// setting; without an option the setting decides. The job beside is reported on "next:" lines.
TEST_F(RunCommand, OverlapFollowsTheOptionElseTheWindowsSetting) {
  const QString settings = QString::fromLatin1(kSettingsSection);
  WritePlainSetting(settings, QStringLiteral("chkOverlap"), QStringLiteral("0"));
  ASSERT_TRUE(server_.ArmFault(QStringLiteral("path=/mavo/putFile,delay=800,always")));
  for (const bool option : {true, false}) {
    queue_.Clear();
    const cf::UploadJob first = Queue(QStringLiteral("first %1.mp4").arg(option ? "a" : "b"), 0);
    const cf::UploadJob second = Queue(QStringLiteral("second %1.mp4").arg(option ? "a" : "b"), 0);
    ASSERT_TRUE(SaveQueue());
    int exitCode = -1;
    const QString output =
        Run(option ? QStringList{QStringLiteral("--overlap")} : QStringList{}, &exitCode);
    ASSERT_EQ(exitCode, 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("summary: 2 uploaded, 0 failed, 0 stopped")))
        << output.toStdString();
    EXPECT_EQ(
        output.contains(QStringLiteral("next: ") + second.path + QStringLiteral(": converting")),
        option)
        << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("next: ") + first.path)) << output.toStdString();
  }
  WritePlainSetting(settings, QStringLiteral("chkOverlap"), QStringLiteral("1"));
  int exitCode = -1;
  Run({QStringLiteral("--overlap"), QStringLiteral("--no-such-option")}, &exitCode);
  EXPECT_EQ(exitCode, 2);
}

TEST_F(RunCommand, RefusesBadOptionsAndARunningWindow) {
  Queue(QStringLiteral("idle.mp4"), 1);
  ASSERT_TRUE(SaveQueue());
  const QByteArray before = QueueFileText();
  int exitCode = -1;
  Run({QStringLiteral("--overwrite"), QStringLiteral("maybe")}, &exitCode);
  EXPECT_EQ(exitCode, 2);

  cf::desktop::SingleInstance window(ProgramIdentity::InstanceName());
  ASSERT_TRUE(window.Acquire());
  const QString output = Run({}, &exitCode);
  EXPECT_EQ(exitCode, 1);
  EXPECT_TRUE(output.contains(QStringLiteral("clipFerry is running"))) << output.toStdString();
  EXPECT_EQ(QueueFileText(), before);
  EXPECT_TRUE(server_.AdminGet(QStringLiteral("/admin/contents")).contains("<contents"));
  EXPECT_FALSE(server_.AdminGet(QStringLiteral("/admin/contents")).contains("path=\"/"));
}

// The server offers to replace earlier content on the check after conversion; the run answers
// with its --overwrite choice: yes and no both go up (a fresh video has no earlier content
// number, so both send 0), cancel stops the job without sending anything.
TEST_F(RunCommand, OverwriteQuestionTakesTheCommandLineChoice) {
  struct Case {
    const char* choice;
    bool uploaded;
    const char* state;
  };
  for (const Case& c : {Case{"yes", true, "Finished"}, Case{"no", true, "Finished"},
                        Case{"cancel", false, "Canceled"}}) {
    SCOPED_TRACE(c.choice);
    KqServerProcess server;
    ASSERT_TRUE(server.Start({QStringLiteral("--init-demo"), QStringLiteral("--fault"),
                              QStringLiteral("path=/mavo/getVersion/,overwrite=1,always")}));
    cf::UploadQueue queue;
    const QString path = clips_.filePath(QStringLiteral("replace %1.mp4").arg(c.choice));
    ASSERT_TRUE(TestClips::MakeVideo(path, 2, QStringLiteral("320x240")));
    ASSERT_TRUE(queue.Add(ClipJob(path, server.BaseUrl(), 2)));
    ASSERT_TRUE(cf::QueueFile::Save(cf::QueueFile::PathIn(program_.path()), queue));

    int exitCode = -1;
    const QString output =
        Run({QStringLiteral("--overwrite"), QString::fromLatin1(c.choice)}, &exitCode);
    EXPECT_TRUE(
        output.contains(QStringLiteral("message: ") + GetResString("frmUpload", "msgOverwrite")))
        << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("state: ") + path + QStringLiteral(": ") +
                                QLatin1String(c.state)))
        << output.toStdString();
    const QByteArray contents = server.AdminGet(QStringLiteral("/admin/contents"));
    EXPECT_EQ(contents.count("path=\"/"), c.uploaded ? 1 : 0) << contents.toStdString();
    EXPECT_EQ(contents.contains("id=\"101\""), c.uploaded) << contents.toStdString();

    // A finished job leaves the queue file; a cancelled one stays for another try.
    cf::UploadQueue reloaded;
    cf::QueueFile::Load(cf::QueueFile::PathIn(program_.path()), reloaded);
    if (c.uploaded) {
      EXPECT_EQ(exitCode, 0) << output.toStdString();
      EXPECT_EQ(reloaded.Count(), 0);
    } else {
      ASSERT_EQ(reloaded.Count(), 1);
      EXPECT_EQ(reloaded.item(1)->path, path);
    }
  }
}

// Ctrl+C pauses the run: the upload ends without the cancel request, the job stays queued, and
// the server keeps the session for the next run.
TEST_F(RunCommand, CtrlCPausesTheUploadAndKeepsTheJob) {
  const QString path = clips_.filePath(QStringLiteral("interrupted -x $(y) \u00e9.mp4"));
  // Noise at a fixed bitrate: several blocks to send.
  ASSERT_TRUE(TestClips::MakeNoiseVideo(path, QStringLiteral("6M")));
  ASSERT_TRUE(queue_.Add(ClipJob(path, server_.BaseUrl(), 1)));
  ASSERT_TRUE(SaveQueue());
  ASSERT_TRUE(server_.ArmFault(QStringLiteral("path=/mavo/putFile,delay=400,always")));

  QProcess run;
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.setStandardInputFile(QProcess::nullDevice());
  run.start(Cli(), {QStringLiteral("--program-folder"), program_.path(), QStringLiteral("run")});
  ASSERT_TRUE(run.waitForStarted());
  QByteArray output;
  QElapsedTimer clock;
  clock.start();
  // Interrupted once the server holds a block of the session.
  while (clock.elapsed() < 60000 &&
         server_.AdminGet(QStringLiteral("/admin/sessions")).count("<session ") == 0) {
    run.waitForReadyRead(100);
    output += run.readAll();
  }
  ASSERT_EQ(run.state(), QProcess::Running) << output.toStdString();
  ::kill(static_cast<pid_t>(run.processId()), SIGINT);
  ASSERT_TRUE(run.waitForFinished(30000));
  output += run.readAll();
  EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << output.toStdString();
  EXPECT_TRUE(output.contains("status: pausing")) << output.toStdString();
  EXPECT_TRUE(output.contains(": Waiting")) << output.toStdString();
  EXPECT_TRUE(QueueFileText().contains(path.toUtf8()));
  EXPECT_EQ(server_.AdminGet(QStringLiteral("/admin/sessions")).count("<session "), 1);
  EXPECT_EQ(server_.AdminGet(QStringLiteral("/admin/contents")).count("path=\"/"), 0);
}

// A 64 MiB archive whose upload is cut off by kill -9 at about 60 %: the next run neither packs
// nor sends the acknowledged blocks again, and the server stores the very archive.
TEST_F(RunCommand, AKilledRunResumesTheUploadAtTheNextBlock) {
  constexpr qint64 kSize = 64 * 1024 * 1024;
  constexpr int kBlocks = static_cast<int>(kSize / (512 * 1024));
  const QString path = clips_.filePath(QStringLiteral("-killed $(y) \u00e9.mp4"));
  // The server converts this job, so its archive carries the source as it is.
  ASSERT_TRUE(TestClips::WriteNoise(path, kSize, 7));
  ASSERT_TRUE(queue_.Add(ClipJob(path, server_.BaseUrl(), 1)));
  ASSERT_TRUE(SaveQueue());
  ASSERT_TRUE(server_.ArmFault(QStringLiteral("path=/mavo/putFile,delay=100,always")));

  QProcess run;
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.setStandardInputFile(QProcess::nullDevice());
  run.start(Cli(), {QStringLiteral("--program-folder"), program_.path(), QStringLiteral("run")});
  ASSERT_TRUE(run.waitForStarted());
  static const QRegularExpression next(QStringLiteral("nextSeqno=\"(\\d+)\""));
  QByteArray output;
  QElapsedTimer clock;
  clock.start();
  int sent = 0;
  while (clock.elapsed() < 240000 && run.state() == QProcess::Running && sent < kBlocks * 6 / 10) {
    run.waitForReadyRead(50);
    output += run.readAll();
    const QRegularExpressionMatch match =
        next.match(QString::fromUtf8(server_.AdminGet(QStringLiteral("/admin/sessions"))));
    if (match.hasMatch()) sent = match.captured(1).toInt();
  }
  ASSERT_EQ(run.state(), QProcess::Running) << output.toStdString();
  ASSERT_GE(sent, kBlocks * 6 / 10) << output.toStdString();
  run.kill();
  ASSERT_TRUE(run.waitForFinished(30000));
  ASSERT_TRUE(server_.ClearFaults());

  // The archive the killed run packed, still kept in the user's data folder.
  const QByteArray packed = KeptArchiveSha256();
  ASSERT_FALSE(packed.isEmpty());
  int exitCode = -1;
  const QString again = Run({}, &exitCode);
  EXPECT_EQ(exitCode, 0) << again.toStdString();
  EXPECT_EQ(server_.LastStoredSha256(), packed) << again.toStdString();
  EXPECT_LT(server_.BodyBytesReceived(QStringLiteral("/mavo/putFile")), kSize * 11 / 10)
      << again.toStdString();
  EXPECT_FALSE(again.contains(QStringLiteral("Packing"))) << again.toStdString();
}

}  // namespace
