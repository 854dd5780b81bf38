#include "app/cli/AddCommand.h"

#include "app/cli/CliCommands.h"
#include "app/cli/CliOptions.h"
#include "app/cli/ServerLogin.h"
#include "app/dialogs/CFolderTree.h"
#include "app/dialogs/FolderReply.h"
#include "app/dialogs/JobSetup.h"
#include "app/media/VideoProbe.h"
#include "app/project/CProjectFile.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueAutoSave.h"
#include "app/queue/QueueFile.h"
#include "app/queue/UploadQueue.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modConfig.h"
#include "app/services/modLanguage.h"
#include "platform/desktop/SingleInstance.h"

#include <QFileInfo>
#include <QHash>

#include <cstdio>

using namespace cf::estimate;

namespace {

constexpr char kUsage[] =
    "usage: clipferry-cli add FILE --url URL --account A --folder-id ID\n"
    "         [--password P | --password-file FILE | $CLIPFERRY_PASSWORD]\n"
    "         [--resolution source|high|standard] [--conversion local|server|none]\n"
    "         [--title T] [--author A]\n";

constexpr char kQueueBusy[] =
    "clipferry-cli add: the queue is being run by another clipferry-cli; add the file when it "
    "has finished.";

void Fail(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

struct AddOptions {
  QString file;
  QHash<QString, QString> values;
  QString password;
};

bool ParseOptions(const QStringList& arguments, AddOptions* options) {
  static const QStringList kOptions = {
      QStringLiteral("--url"),          QStringLiteral("--account"),
      QStringLiteral("--password"),     QStringLiteral("--folder-id"),
      QStringLiteral("--resolution"),   QStringLiteral("--conversion"),
      QStringLiteral("--title"),        QStringLiteral("--author"),
      QStringLiteral("--password-file")};
  bool optionsEnded = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (!optionsEnded && argument == QLatin1String("--")) {
      optionsEnded = true;
    } else if (!optionsEnded && argument.startsWith(QLatin1String("--"))) {
      if (!kOptions.contains(argument) || i + 1 >= arguments.size()) {
        Fail(QStringLiteral("clipferry-cli add: unknown option or missing value: ") + argument);
        return false;
      }
      options->values.insert(argument, arguments[++i]);
    } else if (options->file.isEmpty()) {
      options->file = argument;
    } else {
      Fail(QStringLiteral("clipferry-cli add: only one file may be added at a time"));
      return false;
    }
  }
  for (const char* required : {"--url", "--account", "--folder-id"}) {
    if (!options->values.contains(QLatin1String(required))) {
      Fail(QStringLiteral("clipferry-cli add: %1 is required").arg(QLatin1String(required)));
      return false;
    }
  }
  QString why;
  if (!ReadPassword(options->values, &options->password, &why)) {
    Fail(QStringLiteral("clipferry-cli add: ") + why);
    return false;
  }
  return !options->file.isEmpty();
}

// A running window owns the queue file and would write over a job added to the file behind its
// back, so the job goes to the window instead. Returns the exit code, or -1 when no window runs.
int HandToWindow(const cf::UploadJob& job) {
  const QString title = ProgramIdentity::InstanceName();
  if (!cf::desktop::SingleInstance::IsRunning(title)) return -1;
  cf::UploadQueue one;
  one.Add(job);
  QByteArray answer;
  if (!cf::desktop::SingleInstance::Send(title, cf::QueueFile::Serialize(one), &answer)) {
    Fail(
        QStringLiteral("clipferry-cli add: clipFerry is running but did not take the job; "
                       "try again or add it in the window."));
    return 1;
  }
  if (!answer.startsWith("added ")) {
    Fail(GetResString(QStringLiteral("frmAdd"), QStringLiteral("msg_hasBeenAdded")));
    return 1;
  }
  std::printf("%s\n", job.path.toLocal8Bit().constData());
  return 0;
}

int Add(const QStringList& arguments) {
  AddOptions options;
  if (!ParseOptions(arguments, &options)) {
    std::fprintf(stderr, "%s", kUsage);
    return CliCommands::kUsageError;
  }
  static const QHash<QString, int32_t> kConversions = {{QStringLiteral("local"), kLocalCvt},
                                                       {QStringLiteral("server"), kServerCvt},
                                                       {QStringLiteral("none"), kNoCvt}};
  static const QHash<QString, int32_t> kResolutions = {{QStringLiteral("source"), kSourceRes},
                                                       {QStringLiteral("high"), kHighRes},
                                                       {QStringLiteral("standard"), kStandardRes}};
  const QString conversionName = options.values.value(QStringLiteral("--conversion"));
  const QString resolutionName = options.values.value(QStringLiteral("--resolution"));
  const auto refuse = [](const char* option, const QString& value, const char* choices) {
    Fail(QStringLiteral("clipferry-cli add: %1 \"%2\" is not one of %3")
             .arg(QLatin1String(option), value, QLatin1String(choices)));
    std::fprintf(stderr, "%s", kUsage);
    return CliCommands::kUsageError;
  };
  if (!conversionName.isEmpty() && !kConversions.contains(conversionName)) {
    return refuse("--conversion", conversionName, "local, server, none");
  }
  if (!resolutionName.isEmpty() && !kResolutions.contains(resolutionName)) {
    return refuse("--resolution", resolutionName, "source, high, standard");
  }

  cf::UploadQueue queue;
  const QString queuePath = cf::QueueFile::PathIn(ProgramFolder());
  // Said before logging in: a run that owns the file would write over the job.
  if (!cf::desktop::SingleInstance::IsRunning(ProgramIdentity::InstanceName()) &&
      cf::QueueAutoSave::HeldElsewhere(queuePath)) {
    Fail(QString::fromLatin1(kQueueBusy));
    return 1;
  }
  QString aside;
  switch (cf::QueueFile::Load(queuePath, queue, &aside)) {
    case cf::QueueFile::LoadResult::Unreadable:
      Fail(QStringLiteral("clipferry-cli add: cannot read ") + queuePath);
      return 1;
    case cf::QueueFile::LoadResult::SetAside:
      Fail(QStringLiteral("clipferry-cli add: the queue file could not be read; it was kept as ") +
           aside);
      break;
    default:
      break;
  }
  const QString path = QFileInfo(options.file).absoluteFilePath();
  const DialogMessage refusal = JobSetup::CheckFile(path, queue, QString());
  if (!refusal.isEmpty()) {
    Fail(refusal.text());
    return 1;
  }

  FolderReply reply;
  bool sentDigest = true;
  if (!LogInToServer(NormalizeServerAddress(options.values.value(QStringLiteral("--url"))),
                     options.values.value(QStringLiteral("--account")), options.password, &reply,
                     &sentDigest)) {
    return 1;
  }
  const ServerCaps& caps = reply.caps();
  CFolderTree tree;
  tree.setAdID(caps.adID);
  if (!tree.LoadFolderList(reply.root())) return 1;
  const QString folderID = options.values.value(QStringLiteral("--folder-id")).trimmed();
  bool numeric = false;
  const CFolderNode* folder = tree.FindNode(folderID.toInt(&numeric));
  if (!numeric || folder == nullptr || !folder->Uploadable) {
    Fail(QStringLiteral("Folder %1 is not a folder of this account that accepts uploads.")
             .arg(folderID));
    return 1;
  }
  tree.Select(tree.FindNode(folder->ID));

  const JobServer server{NormalizeServerAddress(options.values.value(QStringLiteral("--url"))),
                         options.values.value(QStringLiteral("--account")).trimmed(),
                         options.password, tree.SelectedID(), tree.SelectedName()};
  const auto queueJob = [&](const cf::UploadJob& job) {
    const int handed = HandToWindow(job);
    if (handed >= 0) return handed;
    if (cf::QueueAutoSave::HeldElsewhere(queuePath)) {
      Fail(QString::fromLatin1(kQueueBusy));
      return 1;
    }
    if (!queue.Add(job)) {
      Fail(GetResString(QStringLiteral("frmAdd"), QStringLiteral("msg_hasBeenAdded")));
      return 1;
    }
    if (!cf::QueueFile::Save(queuePath, queue)) {
      Fail(QStringLiteral("clipferry-cli add: cannot write ") + queuePath);
      return 1;
    }
    std::printf("%s\n", job.path.toLocal8Bit().constData());
    return 0;
  };

  JobSetup setup;
  setup.StartFile(path);
  if (JobSetup::IsProjectPath(path)) {
    QString title;
    QString author;
    DialogMessage refusal;
    if (!setup.OpenProject(caps, false, &title, &author, &refusal)) {
      Fail(refusal.isEmpty() ? QStringLiteral("The project file could not be read.")
                             : refusal.text());
      return 1;
    }
    // The texts given here become the project's own, as the dialog's boxes do.
    title = options.values.value(QStringLiteral("--title"), title);
    author = options.values.value(QStringLiteral("--author"), author);
    if (!JobSetup::SaveProjectTexts(title, author)) {
      Fail(cf::CProjectFile::Shared().saveFailure().text);
      Fail(QStringLiteral("The project file could not be saved."));
      return 1;
    }
    return queueJob(setup.BuildJob(server, caps, sentDigest, title, author));
  }
  VideoInfo info;
  QString failure;
  if (!ProbeVideo(path, false, &info, &failure)) {
    Fail(failure);
    return 1;
  }
  setup.ApplyProbe(info);
  // The same steps as the dialog: enabling the settings applies both rules, then the options the
  // user clicks are tested against the upload limit.
  JobSetup::ConversionChoices conversions = setup.ApplyConversionRule(caps, true);
  ResolutionChoices resolutions = setup.ApplyResolutionRule(caps, true);
  const QString exceed = GetResString(QStringLiteral("frmAdd"), QStringLiteral("msg_exceed2GB"));
  if (!conversionName.isEmpty()) {
    const int32_t conversion = kConversions.value(conversionName);
    const bool offered = conversion == kLocalCvt    ? conversions.local
                         : conversion == kServerCvt ? conversions.server
                                                    : conversions.noConversion;
    if (!offered) {
      Fail(QStringLiteral("The conversion \"%1\" is not offered for this file on this server.")
               .arg(conversionName));
      return 1;
    }
    if (conversion != setup.dstCvtType && !setup.ChooseConversion(conversion)) {
      Fail(exceed);
      return 1;
    }
    resolutions = setup.ApplyResolutionRule(caps, true);
  }
  if (!resolutionName.isEmpty() && setup.dstCvtType != kNoCvt) {
    const int32_t resolution = kResolutions.value(resolutionName);
    if (!resolutions.allows(resolution)) {
      std::fprintf(stderr,
                   "The %s resolution is not offered for this source; keeping the one the "
                   "dialog would choose.\n",
                   qPrintable(resolutionName));
    } else if (resolution != setup.dstResType && !setup.ChooseResolution(resolution)) {
      Fail(exceed);
      return 1;
    }
  }
  setup.Recompute();

  const QString title = options.values.contains(QStringLiteral("--title"))
                            ? options.values.value(QStringLiteral("--title"))
                            : QFileInfo(path).completeBaseName();
  return queueJob(setup.BuildJob(server, caps, sentDigest, title,
                                 options.values.value(QStringLiteral("--author"))));
}

}  // namespace

void RegisterAddCommand(CliCommands& commands) {
  commands.Register(QStringLiteral("add"),
                    QStringLiteral("add FILE --url U --account A --folder-id ID"),
                    QStringLiteral("queue a video as the add dialog would ([--password P | "
                                   "--password-file F] [--resolution source|high|standard] "
                                   "[--conversion local|server|none] [--title T] [--author A])"),
                    Add);
}
