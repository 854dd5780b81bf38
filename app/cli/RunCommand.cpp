#include "app/cli/RunCommand.h"

#include "app/cli/CliCommands.h"
#include "app/cli/InterruptPause.h"
#include "app/cli/RunOutput.h"
#include "app/queue/JobDriver.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueFile.h"
#include "app/queue/RunProgress.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/UserQuestions.h"
#include "app/services/MavoControl.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/modConfig.h"
#include "app/services/modGlobal.h"
#include "platform/desktop/SingleInstance.h"

#include <QEventLoop>
#include <QHash>
#include <QMetaEnum>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

constexpr const char* kUsage =
    "usage: clipferry-cli run [--overwrite yes|no|cancel] [--overlap|--no-overlap] [--json]\n";

void Print(const QString& text, const QJsonObject& fields = {}) { RunOutput::Print(text, fields); }

// Answers the engine's questions on the terminal: notices are printed, the overwrite question
// takes the --overwrite choice.
class CliQuestions : public cf::UserQuestions {
 public:
  explicit CliQuestions(MsgAnswer overwrite) : overwrite_(overwrite) {}
  void Tell(const QString& text, MsgIcon) override { Print(QStringLiteral("message: ") + text); }
  MsgAnswer AskOverwrite(const QString& text) override {
    Print(QStringLiteral("message: ") + text);
    return overwrite_;
  }

 private:
  MsgAnswer overwrite_;
};

// Prints what happens, one line per event.
class RunReporter {
 public:
  RunReporter(cf::JobDriver& driver, const cf::UploadQueue& queue) : queue_(queue) {
    QObject::connect(&driver, &cf::JobDriver::statusChanged, [](const QString& text) {
      if (!text.isEmpty()) Print(QStringLiteral("status: ") + text);
    });
    progress_.Follow(driver);
    QObject::connect(&driver, &cf::JobDriver::progress,
                     [this](const QString&, cf::JobRun::Phase, qint64 done, qint64 total, qint64) {
                       if (total <= 0) return;
                       const int percent = static_cast<int>(done * 100 / total);
                       // Conversion progress arrives many times a second; every tenth percent is
                       // enough.
                       const int step = percent / 10;
                       if (step == lastStep_) return;
                       lastStep_ = step;
                       PrintProgress(percent);
                     });
    QObject::connect(&driver, &cf::JobDriver::jobChanged,
                     [this](const QString& path) { ReportState(path); });
    QObject::connect(&driver, &cf::JobDriver::nextJobChanged,
                     [this](const QString& path, cf::JobRun::Phase phase, int percent, bool ready) {
                       ReportNextJob(path, phase, percent, ready);
                     });
    QObject::connect(&driver, &cf::JobDriver::queueFinished, [](const cf::QueueSummary& summary) {
      Print(
          QStringLiteral("done: %1 finished, %2 failed").arg(summary.finished).arg(summary.failed));
      Print(QStringLiteral("summary: ") + summary.Text());
    });
  }

  bool anyFailed() const { return failed_; }

 private:
  void ReportState(const QString& path) {
    const cf::UploadJob* job = queue_.item(path);
    if (job == nullptr) return;
    const QString state = cf::StateText(job->live);
    QString& known = states_[path];
    if (known == state) return;
    known = state;
    lastStep_ = -1;
    Print(QStringLiteral("state: ") + path + QStringLiteral(": ") + state,
          {{QStringLiteral("path"), path}, {QStringLiteral("state"), state}});
    if (job->live == cf::JobState::Failed) {
      failed_ = true;
      Print(QStringLiteral("failure: ") + path + QStringLiteral(": ") + job->errorText,
            {{QStringLiteral("path"), path}, {QStringLiteral("error"), job->errorText}});
    }
  }

  // The job converted beside an upload: its phase changes, every tenth percent, and once it is
  // ready to go next.
  void ReportNextJob(const QString& path, cf::JobRun::Phase phase, int percent, bool ready) {
    if (phase == cf::JobRun::Phase::Done) return;
    QString doing = ready ? QStringLiteral("ready")
                          : QString::fromLatin1(QMetaEnum::fromType<cf::JobRun::Phase>().valueToKey(
                                                    static_cast<int>(phase)))
                                .toLower();
    if (!ready && percent >= 0) doing += QStringLiteral(" %1%").arg(percent / 10 * 10);
    if (doing == nextDoing_) return;
    nextDoing_ = doing;
    QJsonObject fields{{QStringLiteral("path"), path}, {QStringLiteral("next"), doing}};
    if (percent >= 0) fields.insert(QStringLiteral("percent"), percent);
    Print(QStringLiteral("next: ") + path + QStringLiteral(": ") + doing, fields);
  }

  // An upload's line carries the bytes sent, the speed and the time left.
  void PrintProgress(int percent) {
    if (!progress_.uploading()) {
      Print(QStringLiteral("progress: %1%").arg(percent), {{QStringLiteral("percent"), percent}});
      return;
    }
    const cf::UploadFigures& figures = progress_.figures();
    Print(QStringLiteral("progress: ") + cf::UploadProgressText(QString(), figures),
          {{QStringLiteral("percent"), figures.percent},
           {QStringLiteral("bytes"), figures.bytes},
           {QStringLiteral("totalBytes"), figures.total},
           {QStringLiteral("bytesPerSecond"), std::round(figures.bytesPerSecond)},
           {QStringLiteral("secondsLeft"), figures.secondsLeft}});
  }

  const cf::UploadQueue& queue_;
  cf::RunProgress progress_{queue_};
  QHash<QString, QString> states_;
  QString nextDoing_;
  int lastStep_ = -1;
  bool failed_ = false;
};

int Run(const QStringList& arguments) {
  MsgAnswer overwrite = MsgAnswer::Cancel;
  std::optional<bool> overlap;  // the window's setting unless given
  for (int i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("--json")) {
      RunOutput::SetJson(true);
    } else if (arguments[i] == QLatin1String("--overlap") ||
               arguments[i] == QLatin1String("--no-overlap")) {
      overlap = arguments[i] == QLatin1String("--overlap");
    } else if (arguments[i] == QLatin1String("--overwrite") && i + 1 < arguments.size()) {
      const QString answer = arguments[++i];
      if (answer == QLatin1String("yes")) {
        overwrite = MsgAnswer::Yes;
      } else if (answer == QLatin1String("no")) {
        overwrite = MsgAnswer::No;
      } else if (answer == QLatin1String("cancel")) {
        overwrite = MsgAnswer::Cancel;
      } else {
        std::fprintf(stderr,
                     "clipferry-cli run: --overwrite \"%s\" is not one of yes, no, cancel\n%s",
                     qPrintable(answer), kUsage);
        return CliCommands::kUsageError;
      }
    } else {
      std::fprintf(stderr, "clipferry-cli run: unknown option or missing value: %s\n%s",
                   qPrintable(arguments[i]), kUsage);
      return CliCommands::kUsageError;
    }
  }

  // Both would run jobs from, and rewrite, the same queue file.
  if (cf::desktop::SingleInstance::IsRunning(ProgramIdentity::InstanceName())) {
    std::fprintf(stderr, "clipFerry is running; close it before running the queue here.\n");
    return 1;
  }

  if (cf::QueueAutoSave::HeldElsewhere(cf::QueueFile::PathIn(ProgramFolder()))) {
    std::fprintf(stderr, "Another clipferry-cli is running this queue.\n");
    return 1;
  }

  // Anything else that would ask (a library deep down) is printed and declined.
  const MessageHandler previous = SetMessageHandler([](const MessageRequest& request) {
    Print(QStringLiteral("message: ") + request.text);
    return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
  });
  CliQuestions questions(overwrite);

  cf::UploadQueue queue;
  const QString queuePath = cf::QueueFile::PathIn(ProgramFolder());
  const cf::QueueFile::LoadResult loaded = cf::QueueFile::Load(queuePath, queue);
  if (loaded == cf::QueueFile::LoadResult::Unreadable) {
    std::fprintf(stderr, "The queue file %s cannot be read.\n", qPrintable(queuePath));
    SetMessageHandler(previous);
    return 1;
  }

  QWidget host;
  QString why;
  std::unique_ptr<MavoControl> control = MavoControl::Create(&host, &why);
  if (!control) {
    std::fprintf(stderr, "%s\n", why.toLocal8Bit().constData());
    SetMessageHandler(previous);
    return 1;
  }
  cf::JobDriver driver(queue, *control, questions);
  // Every finished job is on disk at once, so a killed run repeats nothing and loses nothing.
  cf::QueueAutoSave autoSave(queue, queuePath);
  autoSave.setEnabled(ReadPlainSetting(QString::fromLatin1(kSettingsSection),
                                       QStringLiteral("chkRemQueue"),
                                       QStringLiteral("1")) == QLatin1String("1"));
  const QString settings = QString::fromLatin1(kSettingsSection);
  driver.setProcessors(LogicalProcessorCount());
  driver.setHighSpeed(HighSpeedAvailable(LogicalProcessorCount()) &&
                      ReadPlainSetting(settings, QStringLiteral("chkHighSpeed"),
                                       QStringLiteral("1")) == QLatin1String("1"));
  driver.setOverlap(overlap.value_or(ReadPlainSetting(settings, QStringLiteral("chkOverlap"),
                                                      QStringLiteral("1")) == QLatin1String("1")));
  // Made before the reporter's, so the numbers are there when its closing line is printed.
  QObject::connect(&driver, &cf::JobDriver::queueFinished, [](const cf::QueueSummary& summary) {
    RunOutput::Attach(QStringLiteral("done"), {{QStringLiteral("finished"), summary.finished},
                                               {QStringLiteral("failed"), summary.failed}});
  });
  RunReporter reporter(driver, queue);

  QEventLoop loop;
  QObject::connect(&driver, &cf::JobDriver::runningChanged, &loop, [&loop](bool running) {
    if (!running) loop.quit();
  });
  // Ctrl+C pauses: the upload stops without discarding the server's session, so the next run
  // continues it at the next block. A second Ctrl+C ends the program at once.
  const InterruptPause interrupt([&driver] {
    Print(QStringLiteral("status: pausing"));
    driver.Pause();
  });
  driver.Start();
  if (driver.running()) loop.exec();

  driver.Close();
  if (ReadPlainSetting(settings, QStringLiteral("chkRemQueue"), QStringLiteral("1")) ==
      QLatin1String("1")) {
    if (!cf::QueueFile::Save(queuePath, queue)) {
      std::fprintf(stderr, "The queue could not be saved to %s\n", qPrintable(queuePath));
    }
  } else {
    DeleteFileForce(queuePath);
  }
  SetMessageHandler(previous);
  return reporter.anyFailed() ? 1 : 0;
}

}  // namespace

void RegisterRunCommand(CliCommands& commands) {
  commands.Register(QStringLiteral("run"),
                    QStringLiteral("run [--overwrite yes|no|cancel] [--overlap|--no-overlap]"),
                    QStringLiteral("upload every waiting job of the queue file (--json: an "
                                   "object a line for each event)"),
                    Run);
}
