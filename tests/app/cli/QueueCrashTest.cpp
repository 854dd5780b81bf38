// The queue file under programs that die or share it: a killed run or a killed window loses no
// job, and a job added from the command line while the window runs goes to the window.
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueFile.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/app/queue/DriverFixture.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <signal.h>
#include <algorithm>
#include <map>
#include <vector>

namespace {

// Output of a short X tool; empty when it failed.
QString XTool(const QString& program, const QStringList& arguments, const QString& display) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), display);
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  if (!process.waitForFinished(10000) || process.exitCode() != 0) return {};
  return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// A private X server, so the window is a real one and a real mouse click presses its buttons.
class XServer {
 public:
  ~XServer() {
    // Ended as a user would end it, so that it removes its lock and socket; a killed server
    // leaves them behind and the display looks taken to the next test.
    if (process_.state() != QProcess::NotRunning) {
      process_.terminate();
      if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
      }
    }
  }
  bool Start() {
    // The server picks a free display itself and writes its number to standard output; it takes
    // over locks whose owner is gone, which a search of its own here would count as taken. It
    // must not reset when its last client leaves: the window connecting then would be refused.
    process_.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                    QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x800x24"),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!process_.waitForStarted()) return false;
    QByteArray number;
    const bool announced = QTest::qWaitFor(
        [&] {
          number += process_.readAllStandardOutput();
          return number.contains('\n') || process_.state() == QProcess::NotRunning;
        },
        10000);
    if (!announced || number.trimmed().isEmpty()) return false;
    display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    return QTest::qWaitFor(
        [&] {
          return !XTool(QStringLiteral("xwininfo"), {QStringLiteral("-root")}, display_).isEmpty();
        },
        10000);
  }
  const QString& display() const { return display_; }

  // Clicks the leftmost of the window's row of four buttons (Start, Stop, Pause, Exit). Every
  // widget gets an X window of its own (QT_USE_NATIVE_WINDOWS), so the buttons' places can be read.
  bool ClickStart(const QString& titlePattern) const {
    const QString window =
        XTool(QStringLiteral("xdotool"),
              {QStringLiteral("search"), QStringLiteral("--name"), titlePattern}, display_)
            .section(QLatin1Char('\n'), 0, 0)
            .trimmed();
    if (window.isEmpty()) return false;
    const QString children =
        XTool(QStringLiteral("xwininfo"),
              {QStringLiteral("-children"), QStringLiteral("-id"), window}, display_);
    // Children by row (top and height): x and width of each.
    std::map<std::pair<int, int>, std::vector<std::pair<int, int>>> rows;
    static const QRegularExpression geometry(
        QStringLiteral("\\s(\\d+)x(\\d+)\\+(\\d+)\\+(\\d+)\\s"));
    for (auto match = geometry.globalMatch(children); match.hasNext();) {
      const auto m = match.next();
      rows[{m.captured(4).toInt(), m.captured(2).toInt()}].push_back(
          {m.captured(3).toInt(), m.captured(1).toInt()});
    }
    for (auto& [row, cells] : rows) {
      if (cells.size() != 4) continue;
      std::sort(cells.begin(), cells.end());
      const int x = cells.front().first + cells.front().second / 2;
      const int y = row.first + row.second / 2;
      return !XTool(QStringLiteral("xdotool"),
                    {QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                     QString::number(x), QString::number(y), QStringLiteral("click"),
                     QStringLiteral("1"), QStringLiteral("getmouselocation")},
                    display_)
                  .isEmpty();
    }
    return false;
  }

 private:
  QProcess process_;
  QString display_;
};

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
      [] { return cf::desktop::SingleInstance::IsRunning(ProgramIdentity::InstanceName()); },
      30000))
      << "window state " << window_.state() << ", exit code " << window_.exitCode() << ": "
      << window_.readAll().toStdString();

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

// A window killed in the middle of an upload loses no job: the file still holds every one, the
// killed job waiting, and a restarted window shows them and uploads them on Start.
TEST_F(QueueCrash, KilledWindowMidUploadLosesNoJob) {
  if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
      QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
    GTEST_SKIP() << "needs Xvfb and xdotool";
  }
  const cf::UploadJob first = Queue(QStringLiteral("-first 'a' $(x).mp4"));
  const cf::UploadJob second = Queue(QStringLiteral("second \"b\" café.mp4"));
  ASSERT_TRUE(cf::QueueFile::Save(QueuePath(), queue_));
  // The upload hangs until the kill.
  const QString held = QStringLiteral("path=/mavo/putFile,delay=30000,once");
  ASSERT_TRUE(server_.ArmFault(held));
  XServer x;
  ASSERT_TRUE(x.Start());
  const QString windowProgram = WindowCopy();
  // How often an armed rule fired; the version checks are counted by a rule that changes nothing.
  const auto hitsOf = [&](const QString& rule) {
    const QRegularExpression hits(QStringLiteral("rule=\"") + QRegularExpression::escape(rule) +
                                  QStringLiteral("\"[^>]*hits=\"(\\d+)\""));
    return hits.match(QString::fromUtf8(server_.AdminGet(QStringLiteral("/admin/faults"))))
        .captured(1)
        .toInt();
  };
  const QString counter = QStringLiteral("path=/mavo/getVersion/,delay=0,always");
  const auto versionChecks = [&] { return hitsOf(counter); };
  ASSERT_TRUE(server_.ArmFault(counter));
  const auto startWindow = [&] {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), x.display());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_USE_NATIVE_WINDOWS"), QStringLiteral("1"));
    window_.setProcessEnvironment(environment);
    window_.setProcessChannelMode(QProcess::MergedChannels);
    window_.start(windowProgram, {});
    ASSERT_TRUE(window_.waitForStarted());
    // A click before the queue is shown finds Start disabled, so it is repeated until the
    // server is asked.
    const int asked = versionChecks();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          return x.ClickStart(QStringLiteral("v\\.2\\.100603")) &&
                 QTest::qWaitFor([&] { return versionChecks() > asked; }, 1000);
        },
        20000))
        << window_.readAll().toStdString();
  };
  const auto uploads = [&] {
    return server_.AdminGet(QStringLiteral("/admin/contents")).count("path=\"/");
  };
  startWindow();
  // The first block of the first job is held by the server: the window is uploading.
  ASSERT_TRUE(QTest::qWaitFor([&] { return hitsOf(held) == 1; }, 20000))
      << window_.readAll().toStdString();
  KillHard(window_);

  EXPECT_EQ(Reloaded(), QStringList({first.path, second.path}));
  {
    cf::UploadQueue reloaded;
    cf::QueueFile::Load(QueuePath(), reloaded);
    for (int i = 1; i <= reloaded.Count(); ++i) {
      EXPECT_EQ(reloaded.item(i)->live, cf::JobState::Waiting) << i;
    }
  }
  // The held block may already be stored, but the window never heard so: the job goes up again.
  const int before = uploads();
  EXPECT_LE(before, 1);

  // The restarted window has both rows waiting: Start uploads both.
  ASSERT_TRUE(server_.ClearFaults());
  ASSERT_TRUE(server_.ArmFault(counter));
  startWindow();
  EXPECT_TRUE(QTest::qWaitFor([&] { return uploads() == before + 2; }, 30000))
      << window_.readAll().toStdString() << QueueFileText().toStdString();
}

}  // namespace
