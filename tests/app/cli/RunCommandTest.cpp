#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueFile.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/app/queue/DriverFixture.h"

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
  EXPECT_TRUE(server_.AdminGet(QStringLiteral("/admin/contents")).contains("account=\"demo\""));

  // The finished job is dropped from the queue file; the failed one stays for another try.
  const QByteArray kept = QueueFileText();
  EXPECT_FALSE(kept.contains(job.path.toUtf8()));
  EXPECT_TRUE(kept.contains(changed.path.toUtf8()));
}

TEST_F(RunCommand, RefusesBadOptionsAndARunningWindow) {
  Queue(QStringLiteral("idle.mp4"), 1);
  ASSERT_TRUE(SaveQueue());
  const QByteArray before = QueueFileText();
  int exitCode = -1;
  Run({QStringLiteral("--overwrite"), QStringLiteral("maybe")}, &exitCode);
  EXPECT_EQ(exitCode, 2);

  cf::desktop::SingleInstance window(ProgramIdentity::WindowTitle());
  ASSERT_TRUE(window.Acquire());
  const QString output = Run({}, &exitCode);
  EXPECT_EQ(exitCode, 1);
  EXPECT_TRUE(output.contains(QStringLiteral("clipFerry is running"))) << output.toStdString();
  EXPECT_EQ(QueueFileText(), before);
  EXPECT_TRUE(server_.AdminGet(QStringLiteral("/admin/contents")).contains("<contents"));
  EXPECT_FALSE(server_.AdminGet(QStringLiteral("/admin/contents")).contains("path=\"/"));
}

}  // namespace
