// clipferry-cli add and list, run as a user runs them, and the queued job run to the server.

#include "app/queue/QueueFile.h"
#include "tests/app/queue/DriverFixture.h"

#include <cstdio>

namespace {

QString Cli() { return QDir(TestClips::ProgramFolder()).filePath(QStringLiteral("clipferry-cli")); }

class AddCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start({QStringLiteral("--init-demo")}))
        << server_.ErrorText().toStdString();
  }

  QString Clip(const QString& name, const QString& size = QStringLiteral("320x240")) {
    const QString path = clips_.filePath(name);
    if (!QFile::exists(path)) {
      EXPECT_TRUE(TestClips::MakeVideo(path, 2, size));
    }
    return path;
  }
  QString Run(const QStringList& arguments, int* exitCode) {
    return TestClips::RunProgram(
        Cli(), QStringList{QStringLiteral("--program-folder"), program_.path()} + arguments,
        exitCode);
  }
  QStringList Login(const QString& folderID = QStringLiteral("2"),
                    const QString& account = QStringLiteral("demo"),
                    const QString& password = QStringLiteral("demo")) const {
    return {QStringLiteral("--url"),       QStringLiteral("http://") + server_.BaseUrl(),
            QStringLiteral("--account"),   account,
            QStringLiteral("--password"),  password,
            QStringLiteral("--folder-id"), folderID};
  }

  LinkedProgramFolder program_;
  KqServerProcess server_;
  QTemporaryDir clips_;
};

TEST_F(AddCommand, QueuesListsAndUploadsTheJob) {
  const QString clip = Clip(QStringLiteral("talk.mp4"));
  int exitCode = -1;
  QString output = Run(QStringList{QStringLiteral("add"), clip} + Login() +
                           QStringList{QStringLiteral("--title"), QStringLiteral("Week 1"),
                                       QStringLiteral("--resolution"), QStringLiteral("high")},
                       &exitCode);
  ASSERT_EQ(exitCode, 0) << output.toStdString();
  // 320 wide offers only the source resolution: the request for high falls back to it.
  EXPECT_TRUE(output.contains(QStringLiteral("not offered"))) << output.toStdString();

  cf::UploadQueue queue;
  cf::QueueGridModel grid(queue);
  ASSERT_EQ(cf::QueueFile::Load(cf::QueueFile::PathIn(program_.path()), queue),
            cf::QueueFile::LoadResult::Loaded);
  ASSERT_EQ(queue.Count(), 1);
  const cf::UploadJob& job = *queue.item(1);
  EXPECT_EQ(job.title, QStringLiteral("Week 1"));
  EXPECT_EQ(job.folderName, QStringLiteral("Physics 101"));
  EXPECT_EQ(job.dstResType, 0);
  EXPECT_EQ(job.videoWidth, 320);
  EXPECT_EQ(job.vBitRate, QStringLiteral("336k"));
  EXPECT_EQ(job.aBitRate, QStringLiteral("64k"));
  EXPECT_FALSE(job.bEncPassword);  // the demo account takes the plain password

  output = Run({QStringLiteral("list")}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(output, QStringLiteral("1\tWaiting\tVideo\tWeek 1\t") + server_.BaseUrl() +
                        QStringLiteral("\tPhysics 101\t") + clip + QLatin1Char('\n'));

  output = Run({QStringLiteral("run")}, &exitCode);
  EXPECT_EQ(exitCode, 0) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("state: ") + clip + QStringLiteral(": Finished")))
      << output.toStdString();
  EXPECT_TRUE(server_.AdminGet(QStringLiteral("/admin/contents")).contains("folder=\"2\""));
}

TEST_F(AddCommand, RefusesWhatTheDialogRefuses) {
  const QString clip = Clip(QStringLiteral("a.mkv"));
  int exitCode = -1;
  ASSERT_EQ((Run(QStringList{QStringLiteral("add"), clip} + Login(), &exitCode), exitCode), 0);
  // A Latin-1 name: its bytes cannot come through as text, so it is refused by name, not
  // reported missing.
  const QByteArray latin1 = QFile::encodeName(clips_.path()) + "/caf\xe9.mp4";
  ASSERT_EQ(
      std::rename(QFile::encodeName(Clip(QStringLiteral("d.mp4"))).constData(), latin1.constData()),
      0);
  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
    QString message;
  } cases[] = {
      {"duplicate", QStringList{QStringLiteral("add"), clip} + Login(), 1,
       GetResString("frmAdd", "msg_hasBeenAdded")},
      {"missing file",
       QStringList{QStringLiteral("add"), clips_.filePath(QStringLiteral("x.mp4"))} + Login(), 1,
       QStringLiteral("does not exists!")},
      {"name that is not UTF-8",
       QStringList{QStringLiteral("add"), QFile::decodeName(latin1)} + Login(), 1,
       QStringLiteral("is not valid UTF-8 text")},
      {"folder taking no uploads",
       QStringList{QStringLiteral("add"), Clip(QStringLiteral("b.mp4"))} +
           Login(QStringLiteral("1")),
       1, QStringLiteral("Folder 1 is not")},
      {"unknown folder",
       QStringList{QStringLiteral("add"), Clip(QStringLiteral("b.mp4"))} +
           Login(QStringLiteral("999")),
       1, QStringLiteral("Folder 999 is not")},
      {"wrong password",
       QStringList{QStringLiteral("add"), Clip(QStringLiteral("b.mp4"))} +
           Login(QStringLiteral("2"), QStringLiteral("demo"), QStringLiteral("nope")),
       1, GetResString("frmUpload", "msg_1103")},
      {"no conversion for another kind of file",
       QStringList{QStringLiteral("add"), Clip(QStringLiteral("c.mkv")),
                   QStringLiteral("--conversion"), QStringLiteral("none")} +
           Login(),
       1, QStringLiteral("not offered")},
      {"missing login",
       {QStringLiteral("add"), Clip(QStringLiteral("b.mp4"))},
       2,
       QStringLiteral("--url is required")},
      {"unknown resolution",
       QStringList{QStringLiteral("add"), Clip(QStringLiteral("b.mp4")),
                   QStringLiteral("--resolution"), QStringLiteral("huge")} +
           Login(),
       2, QStringLiteral("usage:")},
  };
  for (const auto& c : cases) {
    const QString output = Run(c.arguments, &exitCode);
    EXPECT_EQ(exitCode, c.exitCode) << c.name << ": " << output.toStdString();
    EXPECT_TRUE(output.contains(c.message)) << c.name << ": " << output.toStdString();
  }
  std::remove(latin1.constData());
  // Nothing refused reached the queue.
  const QString listed = Run({QStringLiteral("list")}, &exitCode);
  EXPECT_EQ(listed.count(QLatin1Char('\n')), 1) << listed.toStdString();
}

}  // namespace
