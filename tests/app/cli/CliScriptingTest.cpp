// clipferry-cli as scripts use it: help and version, exit codes and what a bad value is told,
// the folder list, remove and clear with and without a running window, and --json output.

#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueFile.h"
#include "app/queue/QueueRequests.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/app/queue/DriverFixture.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

struct CliRun {
  int exitCode = -1;
  QString out;
  QString err;
};

class CliScripting : public ::testing::Test {
 protected:
  void SetUp() override {
    // A runtime folder of its own, so no other test's window answers these runs.
    ASSERT_TRUE(runtime_.isValid());
    savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
  }
  void TearDown() override { qputenv("XDG_RUNTIME_DIR", savedRuntime_); }

  // Runs clipferry-cli on this test's program folder while this thread's event loop turns, so a
  // window stood in for here can answer it.
  CliRun Run(const QStringList& arguments,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    process.start(QDir(TestClips::ProgramFolder()).filePath(QStringLiteral("clipferry-cli")),
                  QStringList{QStringLiteral("--program-folder"), program_.path()} + arguments);
    loop.exec();
    CliRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
  }
  QStringList Login(const QString& password = QStringLiteral("demo")) const {
    QStringList login{QStringLiteral("--url"), server_.BaseUrl(), QStringLiteral("--account"),
                      QStringLiteral("demo")};
    if (!password.isNull()) login << QStringLiteral("--password") << password;
    return login;
  }
  // Jobs with hostile names; the files need not exist for the queue commands.
  QStringList SaveQueue(const QStringList& names) {
    cf::UploadQueue queue;
    QStringList paths;
    for (const QString& name : names) {
      const QString path = clips_.filePath(name);
      EXPECT_TRUE(queue.Add(ClipJob(path, QStringLiteral("127.0.0.1:1"), 1)));
      paths << QFileInfo(path).absoluteFilePath();
    }
    EXPECT_TRUE(cf::QueueFile::Save(cf::QueueFile::PathIn(program_.path()), queue));
    return paths;
  }
  QStringList QueuedPaths() {
    cf::UploadQueue queue;
    cf::QueueFile::Load(cf::QueueFile::PathIn(program_.path()), queue);
    QStringList paths;
    for (int row = 1; row <= queue.RowCount(); ++row) paths << queue.AtRow(row)->path;
    return paths;
  }

  QTemporaryDir runtime_;
  QByteArray savedRuntime_;
  LinkedProgramFolder program_;
  KqServerProcess server_;
  QTemporaryDir clips_;
};

QList<QJsonObject> JsonLines(const QString& out) {
  QList<QJsonObject> objects;
  for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
    EXPECT_TRUE(document.isObject())
        << line.toStdString() << ": " << error.errorString().toStdString();
    objects << document.object();
  }
  return objects;
}

TEST_F(CliScripting, HelpVersionAndBadValuesGiveTheirExitCodes) {
  const QString clip = clips_.filePath(QStringLiteral("-a 'b' $(c).mp4"));
  const QString missingFile = clips_.filePath(QStringLiteral("no such file"));
  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
    bool onStdout;
    QString says;
  } cases[] = {
      {"help", {"--help"}, 0, true, "folders --url"},
      {"help word", {"help"}, 0, true, "remove PATH"},
      {"command help", {"folders", "--help"}, 0, true, "usage: clipferry-cli folders"},
      {"command help after options", {"run", "--json", "-h"}, 0, true, "usage: clipferry-cli run"},
      {"version", {"--version"}, 0, true, "clipferry-cli " + ProgramIdentity::Version()},
      {"nothing", {}, 2, false, "usage: clipferry-cli"},
      {"overwrite value", {"run", "--overwrite", "maybe"}, 2, false, "\"maybe\""},
      {"unknown list option", {"list", "--jsn"}, 2, false, "\"--jsn\""},
      {"folders without account",
       {"folders", "--url", "127.0.0.1:1"},
       2,
       false,
       "--account is required"},
      {"folders without password",
       {"folders", "--url", "127.0.0.1:1", "--account", "demo"},
       2,
       false,
       "--password-file or CLIPFERRY_PASSWORD"},
      {"unreadable password file",
       {"folders", "--url", "127.0.0.1:1", "--account", "demo", "--password-file", missingFile},
       2,
       false,
       missingFile},
      {"folders option without value", {"folders", "--url"}, 2, false, "--url needs a value"},
      {"resolution value",
       {"add", clip, "--url", "127.0.0.1:1", "--account", "a", "--password", "p", "--folder-id",
        "2", "--resolution", "huge"},
       2,
       false,
       "--resolution \"huge\""},
      {"conversion value",
       {"add", clip, "--url", "127.0.0.1:1", "--account", "a", "--password", "p", "--folder-id",
        "2", "--conversion", "fast"},
       2,
       false,
       "--conversion \"fast\""},
      {"remove without path", {"remove"}, 2, false, "usage: clipferry-cli remove"},
      {"clear with an argument", {"clear", "all"}, 2, false, "usage: clipferry-cli clear"},
      {"server address", {"set-server", "host/path"}, 2, false, "\"host/path\""},
  };
  for (const auto& c : cases) {
    const CliRun run = Run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.err.toStdString();
    EXPECT_TRUE((c.onStdout ? run.out : run.err).contains(c.says))
        << c.name << "\nout: " << run.out.toStdString() << "\nerr: " << run.err.toStdString();
    if (c.onStdout) {
      EXPECT_TRUE(run.err.isEmpty()) << c.name << ": " << run.err.toStdString();
    }
  }
}

TEST_F(CliScripting, FoldersListsTheAccountFromEveryPasswordSource) {
  ASSERT_TRUE(server_.Start({QStringLiteral("--init-demo")})) << server_.ErrorText().toStdString();
  const CliRun plain = Run(QStringList{QStringLiteral("folders")} + Login());
  ASSERT_EQ(plain.exitCode, 0) << plain.err.toStdString();
  // The demo account's tree as the add dialog holds it, parents first, with paths from the top.
  EXPECT_TRUE(
      plain.out.startsWith(QStringLiteral("1\tCourses\t-\n2\tCourses/Physics 101\tuploadable\n")))
      << plain.out.toStdString();
  EXPECT_TRUE(
      plain.out.contains(QStringLiteral("\n7\tCourses/Physics 101/Lab sessions\tuploadable\n")))
      << plain.out.toStdString();

  // The same list whichever way the password comes, and as JSON an object a line.
  QProcessEnvironment withVariable = QProcessEnvironment::systemEnvironment();
  withVariable.insert(QStringLiteral("CLIPFERRY_PASSWORD"), QStringLiteral("demo"));
  EXPECT_EQ(Run(QStringList{QStringLiteral("folders")} + Login(QString()), withVariable).out,
            plain.out);
  const QString passwordFile = clips_.filePath(QStringLiteral("pass word"));
  QFile file(passwordFile);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("demo\nnot part of it\n");
  file.close();
  EXPECT_EQ(Run(QStringList{QStringLiteral("folders")} + Login(QString()) +
                QStringList{QStringLiteral("--password-file"), passwordFile})
                .out,
            plain.out);

  const CliRun json =
      Run(QStringList{QStringLiteral("folders"), QStringLiteral("--json")} + Login());
  ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
  const QList<QJsonObject> folders = JsonLines(json.out);
  EXPECT_EQ(folders.size(), plain.out.count(QLatin1Char('\n')));
  bool found = false;
  for (const QJsonObject& folder : folders) {
    if (folder.value(QStringLiteral("id")).toInt() != 2) continue;
    found = true;
    EXPECT_EQ(folder.value(QStringLiteral("path")).toString(),
              QStringLiteral("Courses/Physics 101"));
    EXPECT_TRUE(folder.value(QStringLiteral("uploadable")).toBool());
  }
  EXPECT_TRUE(found) << json.out.toStdString();

  // A refused login is a failure with the server's reason, and prints no folder.
  const CliRun refused = Run(QStringList{QStringLiteral("folders")} + Login(QStringLiteral("no")));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.out.isEmpty()) << refused.out.toStdString();
  EXPECT_TRUE(refused.err.contains(GetResString("frmUpload", "msg_1103")))
      << refused.err.toStdString();
}

TEST_F(CliScripting, RemoveAndClearEditTheQueueFileWhenNoWindowRuns) {
  const QStringList paths =
      SaveQueue({QStringLiteral("-first 'a'.mp4"), QStringLiteral("second $(rm -rf x) ü.mp4"),
                 QStringLiteral("third \"c\".mp4")});
  CliRun run = Run({QStringLiteral("remove"), QStringLiteral("--"), paths[0]});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, QStringLiteral("removed ") + paths[0] + QLatin1Char('\n'));
  EXPECT_EQ(QueuedPaths(), paths.mid(1));

  run = Run({QStringLiteral("remove"), paths[0]});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, QStringLiteral("unknown ") + paths[0] + QLatin1Char('\n'));

  run = Run({QStringLiteral("list"), QStringLiteral("--json")});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  const QList<QJsonObject> jobs = JsonLines(run.out);
  ASSERT_EQ(jobs.size(), 2);
  EXPECT_EQ(jobs[0].value(QStringLiteral("path")).toString(), paths[1]);
  EXPECT_EQ(jobs[1].value(QStringLiteral("number")).toInt(), 2);
  EXPECT_EQ(jobs[1].value(QStringLiteral("state")).toString(), QStringLiteral("Waiting"));

  run = Run({QStringLiteral("clear")});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.out.count(QStringLiteral("removed ")), 2);
  EXPECT_TRUE(QueuedPaths().isEmpty());
}

TEST_F(CliScripting, RemoveAndClearGoToTheRunningWindowWhichKeepsTheJobBeingSent) {
  cf::UploadQueue queue;
  cf::QueueCommands commands(queue);
  QStringList paths;
  for (const QString& name : {QStringLiteral("sending.mp4"), QStringLiteral("-b $(x).mp4"),
                              QStringLiteral("c 'd'.mp4")}) {
    paths << clips_.filePath(name);
    ASSERT_TRUE(queue.Add(ClipJob(paths.last(), QStringLiteral("127.0.0.1:1"), 1)));
  }
  queue.SetState(paths[0], cf::JobState::Transfering);
  cf::desktop::SingleInstance window(ProgramIdentity::InstanceName());
  ASSERT_TRUE(window.Acquire());
  window.SetHandler([&](const QByteArray& request) {
    return cf::AnswerQueueRequest(commands, queue, request).answer;
  });

  CliRun run = Run({QStringLiteral("remove"), paths[0]});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, QStringLiteral("running ") + paths[0] + QLatin1Char('\n'));
  run = Run({QStringLiteral("remove"), paths[1]});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(queue.RowCount(), 2);
  EXPECT_FALSE(queue.itemExist(paths[1]));

  run = Run({QStringLiteral("clear")});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, QStringLiteral("running ") + paths[0] + QStringLiteral("\nremoved ") +
                         paths[2] + QLatin1Char('\n'));
  ASSERT_EQ(queue.RowCount(), 1);
  EXPECT_EQ(queue.AtRow(1)->path, paths[0]);
  // The window owns the queue file: nothing was written behind its back.
  EXPECT_FALSE(QFile::exists(cf::QueueFile::PathIn(program_.path())));
}

}  // namespace
