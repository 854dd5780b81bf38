#include "TestFiles.h"
#include "app/media/ProcessRunner.h"

#include "app/media/RunContext.h"
#include "app/media/RunLog.h"
#include "app/media/modDebug.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "platform/codepage/CodePage.h"
#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

namespace {

// Running (not zombie) processes of a process group.
int LiveGroupMembers(qint64 group) {
  int live = 0;
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 2 && fields[2].toLongLong() == group && fields[0] != "Z") ++live;
  }
  return live;
}

bool WaitUntilGone(qint64 group) {
  for (int i = 0; i < 100 && LiveGroupMembers(group) > 0; ++i) usleep(10000);
  return LiveGroupMembers(group) == 0;
}

class ProcessRunnerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    SetProgramFolder(folder_.path());
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_.append(request.title + QStringLiteral("|") + request.text);
      return MsgAnswer::Ok;
    });
  }
  void TearDown() override {
    SetMessageHandler(previous_);
    SetProgramFolder({});
    cf::codepage::SetCodePage({});
  }

  QString Path(const QString& name) const { return folder_.filePath(name); }

  QTemporaryDir folder_;
  MessageHandler previous_;
  QStringList messages_;
};

TEST_F(ProcessRunnerTest, CapturedRunKeepsTheFirstChunksInDosOutput) {
  RunContext context;
  context.workFolder = folder_.path();
  // Fifteen full chunks of output.
  const QString output =
      RunCaptured(R"(sh -c "head -c 61440 /dev/zero | tr '\000' x")", true, context);
  EXPECT_EQ(output, context.outputText);
  EXPECT_TRUE(output.endsWith(QStringLiteral("xxxx")));
  const QByteArray saved = ReadFile(Path(QString::fromLatin1(kDosOutputName)));
  EXPECT_GT(saved.size(), 0);
  EXPECT_LE(saved.size(), kDosOutputChunks * kChunkBytes);
  EXPECT_EQ(saved, QByteArray(saved.size(), 'x'));
  EXPECT_EQ(context.stepResult, 1);
}

TEST_F(ProcessRunnerTest, UnwritableDosOutputEndsTheRunAsAnError) {
  RunContext context;
  context.workFolder = Path(QStringLiteral("removed work folder"));
  context.logEnabled = true;
  RunCaptured(QStringLiteral(R"(sh -c "echo first; exec sleep 30")"), true, context);
  EXPECT_EQ(context.stepResult, 0);
  EXPECT_TRUE(context.errorText.contains(QString::fromLatin1(kDosOutputName)));
  EXPECT_TRUE(WaitUntilGone(context.processId));
  EXPECT_FALSE(QFile::exists(Path(QString::fromLatin1(RunLog::kFileName))));
}

TEST_F(ProcessRunnerTest, MultiByteCharactersSplitBetweenChunksStayWhole) {
  cf::codepage::SetCodePage(QStringLiteral("UTF-8"));
  RunContext context;
  context.outputLimit = 1 << 20;
  // 3001 two-byte characters after one byte: every chunk boundary falls inside a character.
  const QString output = RunCaptured(
      R"(sh -c "printf a; i=0; while [ $i -lt 3001 ]; do printf '\303\251'; i=$((i+1)); done")",
      false, context);
  EXPECT_EQ(output, QStringLiteral("a") + QString(3001, QChar(0xE9)));
}

TEST_F(ProcessRunnerTest, FatalMessagesEndTheChildAndSkipTheLog) {
  const struct {
    const char* name;
    const char* script;
    int stepResult;
  } cases[] = {
      {"decoding error early",
       R"(printf 'frame= 1 time=10.00 x\n'; sleep 0.2; echo 'Error while decoding stream #0.0'; exec sleep 30)",
       -3},
      {"too many audio channels",
       R"(echo 'Resampling with input channels greater than 2 unsupported'; exec sleep 30)", -8},
      {"decoding error at the end",
       R"(printf 'frame= 1 time=98.50 x\n'; sleep 0.2; echo 'Error while decoding stream #0.0'; echo finished)",
       1},
  };
  for (const auto& c : cases) {
    QFile::remove(Path(QString::fromLatin1(RunLog::kFileName)));
    RunContext context;
    context.parseProgress = true;
    context.totalSeconds = 100;
    context.logEnabled = true;
    RunCaptured(QStringLiteral("sh -c \"%1\"").arg(QString::fromLatin1(c.script)), false, context);
    EXPECT_EQ(context.stepResult, c.stepResult) << c.name;
    EXPECT_TRUE(WaitUntilGone(context.processId)) << c.name;
    EXPECT_EQ(QFile::exists(Path(QString::fromLatin1(RunLog::kFileName))), c.stepResult == 1)
        << c.name;
  }
}

TEST_F(ProcessRunnerTest, StopEndsTheConverterWithinASecond) {
  TestClips::MakeVideo(Path(QStringLiteral("src.mp4")), 2);
  SetProgramFolder(TestClips::ProgramFolder());
  RunContext context;
  context.parseProgress = true;
  context.totalSeconds = 600;
  context.workingFolder = folder_.path();
  QElapsedTimer sinceStop;
  QObject::connect(&context, &RunContext::progressChanged, [&] {
    if (context.cancel.cancelled()) return;
    context.cancel.Cancel();
    sinceStop.start();
  });
  // Read at its own pace, the input keeps the converter busy for ten minutes unless stopped.
  RunCaptured(JoinPath(TestClips::ProgramFolder(), QStringLiteral("ffmpeg")) +
                  QStringLiteral(" -y -re -f lavfi -i testsrc=size=160x120:rate=30:duration=600 "
                                 "-vcodec libx264 -f mp4 out.mp4"),
              false, context);
  ASSERT_TRUE(context.cancel.cancelled()) << context.outputText.toStdString();
  EXPECT_LT(sinceStop.elapsed(), 1000);
  EXPECT_TRUE(WaitUntilGone(context.processId));
}

TEST_F(ProcessRunnerTest, CancelledHiddenRunReturnsFalseAndEndsTheChild) {
  const QString pidFile = Path(QStringLiteral("pid.txt"));
  RunOptions options;
  QTimer::singleShot(300, [token = options.cancel] { token.Cancel(); });
  const RunResult result =
      RunProcess(QStringLiteral(R"(sh -c "echo $$ > '%1'; exec sleep 30")").arg(pidFile), options);
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.cancelled);
  const qint64 pid = ReadFile(pidFile).trimmed().toLongLong();
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(WaitUntilGone(pid));
  // A cancelled token stops only its own runs: a run with a token of its own goes ahead, and a
  // run handed the cancelled one does not start at all.
  EXPECT_TRUE(RunHidden(QStringLiteral(R"(sh -c "exit 3")")));
  const RunResult again = RunProcess(QStringLiteral(R"(sh -c "exit 0")"), options);
  EXPECT_FALSE(again.started);
  EXPECT_TRUE(again.cancelled);
}

TEST_F(ProcessRunnerTest, HiddenRunExpandsWildcardsInItsWorkingFolder) {
  const QString work = Path(QStringLiteral("work"));
  ASSERT_TRUE(QDir().mkpath(work));
  for (const char* name : {"video.mp4", "video.xml", "thumb.jpg"}) {
    QFile file(JoinPath(work, QString::fromLatin1(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(name);
  }
  const QString archive = Path(QStringLiteral("zip folder/mavo_file.zip"));
  ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("zip folder"))));
  EXPECT_TRUE(RunHidden(QStringLiteral("zip -0 -r -q \"%1\" *").arg(archive), work));
  const QString listing = TestClips::RunProgram(QStringLiteral("unzip"), {"-Z1", archive});
  EXPECT_EQ(listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            QStringList({"thumb.jpg", "video.mp4", "video.xml"}));
}

TEST_F(ProcessRunnerTest, ProgramThatCannotStartIsReported) {
  RunContext context;
  context.logEnabled = true;
  EXPECT_TRUE(RunCaptured(QStringLiteral("no-such-converter -i x"), false, context).isEmpty());
  // Reported to the caller, whose step fails with the text; nothing is shown from here.
  EXPECT_EQ(context.stepResult, 0);
  EXPECT_EQ(context.errorText, QStringLiteral("CreateProcess failed"));
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_FALSE(ShellRun(Path(QStringLiteral("missing.bin")), {}, true));
}

TEST_F(ProcessRunnerTest, ShellRunStartsProgramsAndWaits) {
  const QString made = Path(QStringLiteral("made.txt"));
  EXPECT_TRUE(ShellRun(QStringLiteral("sh"),
                       QStringLiteral(R"(-c "sleep 0.2; echo hi > '%1'")").arg(made), true));
  EXPECT_EQ(ReadFile(made), QByteArray("hi\n"));
}

TEST_F(ProcessRunnerTest, LogKeepsTodayAndDropsEarlierDays) {
  const QDate today(2026, 3, 10);
  const QString yesterday = RunLog::Header(today.addDays(-1));
  const QString todays = RunLog::Header(today);
  const QString path = Path(QString::fromLatin1(RunLog::kFileName));
  const struct {
    const char* name;
    QString before;
    QString after;
  } cases[] = {
      {"first run of the day keeps older days", "\r\n" + yesterday + "\r\nold",
       "\r\n" + yesterday + "\r\nold\r\n" + todays + "\r\nnew"},
      {"later run drops older days", "\r\n" + yesterday + "\r\nold\r\n" + todays + "\r\nearlier",
       todays + "\r\nearlier\r\n" + todays + "\r\nnew"},
      {"a header quoted inside a line is not an entry",
       "\r\n" + yesterday + "\r\nsaw " + todays + " here",
       "\r\n" + yesterday + "\r\nsaw " + todays + " here\r\n" + todays + "\r\nnew"},
      {"no file yet", QString(), "\r\n" + todays + "\r\nnew"},
  };
  for (const auto& c : cases) {
    QFile::remove(path);
    if (!c.before.isNull()) {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(c.before.toUtf8());
    }
    EXPECT_TRUE(RunLog::Append(folder_.path(), QStringLiteral("new"), today)) << c.name;
    EXPECT_EQ(QString::fromUtf8(ReadFile(path)), c.after) << c.name;
  }

  // A finished captured run writes its output under today's header.
  QFile::remove(path);
  RunContext context;
  context.logEnabled = true;
  RunCaptured(QStringLiteral(R"(sh -c "echo converted")"), false, context);
  EXPECT_EQ(QString::fromUtf8(ReadFile(path)),
            "\r\n" + RunLog::Header(QDate::currentDate()) + "\r\nconverted\n");
}

TEST_F(ProcessRunnerTest, ErrorReportNamesTheRunningStep) {
  SetRunningStep(QStringLiteral("SetTreeViewData"));
  EXPECT_EQ(StepErrorText(QStringLiteral("Subscript out of range")),
            QStringLiteral("Subscript out of range: SetTreeViewData"));
  EXPECT_TRUE(messages_.isEmpty());
}

}  // namespace
