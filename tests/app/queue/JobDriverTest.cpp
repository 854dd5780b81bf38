#include "DriverFixture.h"
#include "TestFiles.h"
#include "app/queue/QueueFile.h"
#include "app/services/modConfig.h"

#include <QRegularExpression>

namespace {

using cf::kStateCanceled;
using cf::kStateFailed;
using cf::kStateFinished;
using cf::kStateWaiting;

QString Res(const char* key) {
  return GetResString(QStringLiteral("frmUpload"), QString::fromLatin1(key));
}

// The answer with one element set (added before the root's end tag when it is missing).
QString WithElement(QString answer, const QString& name, const QString& value) {
  const QRegularExpression element(QStringLiteral("<%1>.*</%1>").arg(name),
                                   QRegularExpression::DotMatchesEverythingOption |
                                       QRegularExpression::InvertedGreedinessOption);
  const QString replacement = QStringLiteral("<%1>%2</%1>").arg(name, value);
  if (answer.contains(element)) return answer.replace(element, replacement);
  return answer.replace(QStringLiteral("</getVersion>"),
                        replacement + QStringLiteral("</getVersion>"));
}

QString Quota(const QString& total, const QString& free, const QString& maxsize) {
  return QStringLiteral("<total>%1</total><free>%2</free><maxsize>%3</maxsize>")
      .arg(total, free, maxsize);
}

class JobDriverTest : public ::testing::Test {
 protected:
  LinkedProgramFolder program_;
  DriverBench bench_;
};

// The whole road of a locally converted MP4: two passes, keyframes, pictures, package, upload.
TEST_F(JobDriverTest, Mp4ConversionEndsFinishedWithTheWholePackageOnTheServer) {
  ASSERT_TRUE(bench_.ready());
  const cf::UploadJob job = bench_.AddClip(QStringLiteral("lecture.mp4"), 0);
  bench_.RunQueue();
  ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
  EXPECT_FALSE(cf::testing::Cell(bench_.grid(), job.path, cf::kColCvtEndTime).isEmpty());
  EXPECT_FALSE(cf::testing::Cell(bench_.grid(), job.path, cf::kColUploadEndTime).isEmpty());

  ProjectProfile profile;
  ASSERT_TRUE(ReadProjectProfile(bench_.driver().lastWorkFolder(), &profile));
  EXPECT_EQ(profile.url, bench_.server().BaseUrl());
  EXPECT_EQ(profile.folderID, QStringLiteral("2"));
  const QString archive = bench_.LastArchive();
  EXPECT_TRUE(bench_.server()
                  .AdminGet(QStringLiteral("/admin/contents"))
                  .contains(("id=\"" + profile.contentID + "\"").toUtf8()));

  const QDir unpacked(bench_.Unpack(archive));
  for (const char* name :
       {"video.mp4", "video.xml", "fileList.xml", "mavo_profile.xml", "video.jpg", "thumb.jpg"}) {
    EXPECT_TRUE(unpacked.exists(QString::fromLatin1(name))) << name;
  }
  // Nothing of the encoder's own bookkeeping travels.
  EXPECT_TRUE(unpacked.entryList({QStringLiteral("log*")}, QDir::Files).isEmpty());

  const QString streams = TestClips::Probe(unpacked.filePath(QStringLiteral("video.mp4")),
                                           QStringLiteral("stream=codec_name,width,height"));
  EXPECT_TRUE(streams.contains(QStringLiteral("codec_name=h264"))) << streams.toStdString();
  EXPECT_TRUE(streams.contains(QStringLiteral("codec_name=aac"))) << streams.toStdString();
  EXPECT_TRUE(streams.contains(QStringLiteral("width=320")));
  EXPECT_TRUE(streams.contains(QStringLiteral("height=240")));

  const QString keyframes = TestClips::Probe(
      unpacked.filePath(QStringLiteral("video.mp4")), QStringLiteral("packet=flags"),
      {QStringLiteral("-select_streams"), QStringLiteral("v")});
  const int keyframeCount = static_cast<int>(keyframes.count(QStringLiteral("flags=K")));
  const QByteArray description = ReadFile(unpacked.filePath(QStringLiteral("video.xml")));
  EXPECT_EQ(description.count("<value id="), keyframeCount) << description.toStdString();
  EXPECT_TRUE(description.contains("<width>320</width>"));
  EXPECT_TRUE(description.contains("<duration>2</duration>"));

  const QByteArray fileList =
      ReadFile(unpacked.filePath(QStringLiteral("fileList.xml"))).replace("\r\n", "");
  EXPECT_TRUE(
      fileList.contains("<item><fileName>video.mp4</fileName><caption>180p</caption>"
                        "<width>320</width><height>240</height></item>"))
      << fileList.toStdString();
  const QByteArray metadata = ReadFile(unpacked.filePath(QStringLiteral("mavo_profile.xml")));
  EXPECT_TRUE(metadata.contains("<title>Lab lecture</title>")) << metadata.toStdString();
  EXPECT_TRUE(metadata.contains("<author>Dr. Test</author>"));
  EXPECT_TRUE(metadata.contains("<width>320</width>"));
  EXPECT_TRUE(metadata.contains("<height>240</height>"));

  EXPECT_TRUE(bench_.driver().Close());
  EXPECT_TRUE(bench_.LeftoverFolders().isEmpty())
      << bench_.LeftoverFolders().join(' ').toStdString();
}

TEST_F(JobDriverTest, FlvConversionPacksTheInjectorsDescriptionWithTheJobsSize) {
  ASSERT_TRUE(bench_.ready());
  ASSERT_TRUE(bench_.server().Seed(
      QStringLiteral("<kqserver><account name=\"demo\" videotype=\"flv\"/></kqserver>")));
  const cf::UploadJob job = bench_.AddClip(QStringLiteral("talk.mp4"), 0);
  bench_.RunQueue();
  ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
  const QDir unpacked(bench_.Unpack(bench_.LastArchive()));
  EXPECT_TRUE(unpacked.exists(QStringLiteral("video.flv")));
  EXPECT_FALSE(unpacked.exists(QStringLiteral("video.tmp.flv")));
  const QByteArray description = ReadFile(unpacked.filePath(QStringLiteral("video.xml")));
  EXPECT_TRUE(description.contains("<flv name=\"\">")) << description.toStdString();
  EXPECT_TRUE(description.contains("<width>320</width>"));
  EXPECT_TRUE(description.contains("<height>240</height>"));
  EXPECT_TRUE(description.contains("<keyframes>"));
}

// Server-side conversion sends the source as it is; no conversion sends the MP4 itself, and the
// server's wish for the source adds it.
TEST_F(JobDriverTest, ServerSideAndUnconvertedJobsPackWhatTheServerAskedFor) {
  ASSERT_TRUE(bench_.ready());
  ASSERT_TRUE(bench_.server().Seed(
      QStringLiteral("<kqserver><account name=\"demo\" videosrc=\"1\"/></kqserver>")));
  struct Case {
    int cvtType;
    QStringList files;
    const char* type;
  };
  const QList<Case> cases = {
      {1, {QStringLiteral("src.mp4"), QStringLiteral("mavo_profile.xml")}, "<type>Source</type>"},
      {2,
       {QStringLiteral("video.mp4"), QStringLiteral("src.mp4"), QStringLiteral("video.xml"),
        QStringLiteral("mavo_profile.xml"), QStringLiteral("fileList.xml"),
        QStringLiteral("video.jpg"), QStringLiteral("thumb.jpg")},
       "<type>Mp4</type>"},
  };
  for (const Case& c : cases) {
    const cf::UploadJob job =
        bench_.AddClip(QStringLiteral("clip%1.mp4").arg(c.cvtType), c.cvtType);
    bench_.RunQueue();
    ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
    const QDir unpacked(bench_.Unpack(bench_.LastArchive()));
    QStringList expected = c.files;
    expected.sort();
    EXPECT_EQ(unpacked.entryList(QDir::Files, QDir::Name), expected) << c.cvtType;
    const QByteArray metadata = ReadFile(unpacked.filePath(QStringLiteral("mavo_profile.xml")));
    EXPECT_TRUE(metadata.contains(c.type)) << metadata.toStdString();
    EXPECT_TRUE(metadata.contains("<srcname>src.mp4</srcname>"));
    EXPECT_TRUE(
        metadata.contains(("<srcsize>" + QString::number(job.fileSize) + "</srcsize>").toUtf8()));
    EXPECT_EQ(ReadFile(unpacked.filePath(QStringLiteral("src.mp4"))), ReadFile(job.path));
  }
}

// Each refusal of the first check fails the job with its text; the next job still runs.
TEST_F(JobDriverTest, ServerRefusalsFailTheJobWithTheirTextsAndTheQueueGoesOn) {
  ASSERT_TRUE(bench_.ready());
  struct Case {
    const char* name;
    std::function<QString(const QString&)> rewrite;
    QString failure;  // empty: the job passes
  };
  const auto quota = [](const char* total, const char* free, const char* maxsize) {
    return [=](const QString& answer) {
      return WithElement(answer, QStringLiteral("quota"),
                         Quota(QString::fromLatin1(total), QString::fromLatin1(free),
                               QString::fromLatin1(maxsize)));
    };
  };
  // (2000 + 64) kbps for an hour: 885.86 MB, rounded to 886.
  const QList<Case> cases = {
      {"localized code",
       [](const QString& a) {
         return WithElement(a, QStringLiteral("errInfo"), QStringLiteral("1201"));
       },
       QStringLiteral("GetVersion: ") + Res("msg_1201")},
      {"unknown code",
       [](const QString& a) {
         return WithElement(a, QStringLiteral("errInfo"), QStringLiteral("7777"));
       },
       QStringLiteral("GetVersion: ") + Res("mavoError") + QStringLiteral(" (7777)")},
      {"server's own text",
       [](const QString& a) {
         return WithElement(
             WithElement(a, QStringLiteral("errInfo"), QStringLiteral("Closed today")),
             QStringLiteral("showInfo"), QStringLiteral("1"));
       },
       QStringLiteral("GetVersion: Closed today")},
      {"maxsize equal", quota("2048", "1536", "886"), QString()},
      {"maxsize one less", quota("2048", "1536", "885"),
       QStringLiteral("Exceed the maximum upload size!, maxsize=885MB, required=886MB")},
      {"free one less", quota("2048", "885", "1024"),
       QStringLiteral("No enough space to upload data, total=2048MB, free=885MB, required=886MB")},
      {"refused target",
       [](const QString& a) {
         return WithElement(a, QStringLiteral("overwrite"), QStringLiteral("2"));
       },
       QStringLiteral("GetVersion: ") + Res("msg_folder2")},
  };
  int n = 0;
  for (const Case& c : cases) {
    cf::UploadJob job =
        ClipJob(bench_.MakeClip(QStringLiteral("r%1.mp4").arg(++n)), bench_.server().BaseUrl(), 1);
    job.secDuration = 3600;
    job.vBitRate = QStringLiteral("2000k");
    bench_.Add(job);
    const cf::UploadJob next = bench_.AddClip(QStringLiteral("n%1.mp4").arg(n), 1);
    bool first = true;
    bench_.control().setVersionRewrite([&](const QString& answer) {
      const bool mine = first;
      first = false;
      return mine ? c.rewrite(answer) : answer;
    });
    bench_.RunQueue();
    if (c.failure.isEmpty()) {
      EXPECT_EQ(bench_.State(job.path), kStateFinished)
          << c.name << bench_.Error(job.path).toStdString();
    } else {
      EXPECT_EQ(bench_.State(job.path), kStateFailed) << c.name;
      EXPECT_EQ(bench_.Error(job.path), c.failure) << c.name;
    }
    EXPECT_EQ(bench_.State(next.path), kStateFinished) << c.name;
    bench_.control().setVersionRewrite({});
  }
}

TEST_F(JobDriverTest, OverwriteQuestionDecidesTheUpload) {
  ASSERT_TRUE(bench_.ready());
  bench_.control().setVersionRewrite([](const QString& a) {
    return WithElement(a, QStringLiteral("overwrite"), QStringLiteral("1"));
  });
  struct Case {
    MsgAnswer answer;
    QLatin1String state;
  };
  const QList<Case> cases = {{MsgAnswer::Yes, kStateFinished},
                             {MsgAnswer::No, kStateFinished},
                             {MsgAnswer::Cancel, kStateCanceled}};
  int n = 0;
  for (const Case& c : cases) {
    bench_.answerOverwrite(c.answer);
    const int uploadsBefore = static_cast<int>(bench_.control().putFileContentNumbers().size());
    const cf::UploadJob job = bench_.AddClip(QStringLiteral("o%1.mp4").arg(++n), 1);
    bench_.RunQueue();
    EXPECT_EQ(bench_.State(job.path), c.state) << n;
    const QList<int> uploads = bench_.control().putFileContentNumbers();
    if (c.state == kStateCanceled) {
      EXPECT_EQ(uploads.size(), uploadsBefore);
    } else {
      ASSERT_EQ(uploads.size(), uploadsBefore + 1);
      // A video's work folder is new: there is no earlier content to keep, so both answers
      // upload as new content.
      EXPECT_EQ(uploads.last(), 0);
    }
  }
  EXPECT_TRUE(bench_.messages().contains(Res("msgOverwrite")));
}

TEST_F(JobDriverTest, MissingOrChangedSourceFailsAndTheNextJobStarts) {
  ASSERT_TRUE(bench_.ready());
  const cf::UploadJob missing = bench_.AddClip(QStringLiteral("gone.mp4"), 1);
  const cf::UploadJob changed = bench_.AddClip(QStringLiteral("saved-again.mp4"), 1);
  const cf::UploadJob fine = bench_.AddClip(QStringLiteral("fine.mp4"), 1);
  ASSERT_TRUE(QFile::remove(missing.path));
  QFile touched(changed.path);
  ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
  ASSERT_TRUE(touched.setFileTime(QFileInfo(changed.path).lastModified().addSecs(5),
                                  QFileDevice::FileModificationTime));
  touched.close();

  bench_.RunQueue();
  EXPECT_EQ(bench_.Error(missing.path), QStringLiteral("File not found"));
  EXPECT_EQ(bench_.Error(changed.path), QStringLiteral("File has been modified"));
  EXPECT_EQ(bench_.State(fine.path), kStateFinished);

  // Nothing left to run.
  bench_.messages().clear();
  bench_.driver().Start();
  EXPECT_EQ(bench_.messages(), QStringList{QStringLiteral("Please add a video file!")});
}

// Stop in each phase puts the row back to "Waiting", removes what the run made, leaves the next row
// alone and stops the queue; Start later runs the same job again from the beginning.
TEST_F(JobDriverTest, StopInEachStageReturnsTheRowToWaitingAndStopsTheQueue) {
  ASSERT_TRUE(bench_.ready());
  using Phase = cf::JobRun::Phase;
  struct Case {
    const char* stage;
    int cvtType;
    // Stop on entering this phase, or (Done) when `when` says so.
    Phase phase;
    std::function<bool(const QString& status, const QString& info)> when;
  };
  const QString injection = Res("lInjection");
  const auto never = [](const QString&, const QString&) { return false; };
  const QList<Case> cases = {
      {"asking", 1, Phase::AskingServer, never},
      {"conversion", 2, Phase::Done,
       [&](const QString&, const QString& info) { return info.endsWith(injection); }},
      {"rechecking", 2, Phase::Rechecking, never},
      {"packing", 1, Phase::Done,
       [](const QString& status, const QString&) { return status == Res("msgPack"); }},
      {"upload", 1, Phase::Done,
       [](const QString& status, const QString&) {
         return status.startsWith(QStringLiteral("Uploading data to"));
       }},
  };
  int n = 0;
  for (const Case& c : cases) {
    const cf::UploadJob job = bench_.AddClip(QStringLiteral("s%1.mp4").arg(++n), c.cvtType);
    const cf::UploadJob next = bench_.AddClip(QStringLiteral("t%1.mp4").arg(n), 1);
    bool stopped = false;
    QString status, info;
    const auto check = [&] {
      if (!stopped && c.when(status, info)) {
        stopped = true;
        bench_.driver().Stop();
      }
    };
    QObject context;
    QObject::connect(&bench_.driver(), &cf::JobDriver::statusChanged, &context,
                     [&](const QString& text) {
                       status = text;
                       check();
                     });
    QObject::connect(&bench_.driver(), &cf::JobDriver::infoChanged, &context,
                     [&](const QString& text) {
                       info = text;
                       check();
                     });
    QObject::connect(&bench_.driver(), &cf::JobDriver::phaseChanged, &context,
                     [&](const QString& path, Phase phase) {
                       if (!stopped && path == job.path && phase == c.phase) {
                         stopped = true;
                         bench_.driver().Stop();
                       }
                     });
    const int uploadsBefore = static_cast<int>(bench_.control().putFileContentNumbers().size());

    bench_.RunQueue();
    EXPECT_TRUE(stopped) << c.stage;
    EXPECT_EQ(bench_.State(job.path), kStateWaiting)
        << c.stage << bench_.Error(job.path).toStdString();
    EXPECT_EQ(bench_.State(next.path), kStateWaiting) << c.stage;
    // Start may be pressed again: nothing runs and the stopped job waits.
    EXPECT_FALSE(bench_.driver().running()) << c.stage;
    if (std::string(c.stage) != "upload") {
      EXPECT_EQ(bench_.control().putFileContentNumbers().size(), uploadsBefore) << c.stage;
    }
    EXPECT_TRUE(bench_.LeftoverFolders().filter(QStringLiteral("_kqVidZip_")).isEmpty());
    EXPECT_TRUE(bench_.LeftoverFolders().isEmpty()) << c.stage;

    context.disconnect();
    QObject::disconnect(&bench_.driver(), nullptr, &context, nullptr);
    bench_.RunQueue();
    EXPECT_EQ(bench_.State(job.path), kStateFinished)
        << c.stage << bench_.Error(job.path).toStdString();
    EXPECT_EQ(bench_.State(next.path), kStateFinished) << c.stage;
  }
}

TEST_F(JobDriverTest, FailedUploadStopsTheQueue) {
  ASSERT_TRUE(bench_.ready());
  ASSERT_TRUE(bench_.server().Seed(
      QStringLiteral("<kqserver><account name=\"demo\"><reply route=\"putFile\" "
                     "errInfo=\"1407\"/></account></kqserver>")));
  const cf::UploadJob job = bench_.AddClip(QStringLiteral("u1.mp4"), 1);
  const cf::UploadJob next = bench_.AddClip(QStringLiteral("u2.mp4"), 1);
  bench_.RunQueue();
  EXPECT_EQ(bench_.State(job.path), kStateFailed);
  EXPECT_EQ(bench_.Error(job.path), Res("msg_1407"));
  EXPECT_EQ(bench_.State(next.path), kStateWaiting);
}

TEST_F(JobDriverTest, UploadsSurviveBlocksThatFailOnce) {
  ASSERT_TRUE(bench_.ready());
  const cf::UploadJob job =
      ClipJob(bench_.MakeClip(QStringLiteral("big.mp4"), QStringLiteral("6M")),
              bench_.server().BaseUrl(), 1);
  ASSERT_GT(job.fileSize, 2 * 524288);
  bench_.Add(job);
  for (int block = 0; block < 3; ++block) {
    ASSERT_TRUE(bench_.server().ArmFault(
        QStringLiteral("path=/mavo/putFile,block=%1,status=500,once").arg(block)));
  }
  bench_.RunQueue();
  EXPECT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
  const QByteArray faults = bench_.server().AdminGet(QStringLiteral("/admin/faults"));
  EXPECT_EQ(faults.count("hits=\"1\""), 3) << faults.toStdString();
  EXPECT_EQ(ReadFile(bench_.Unpack(bench_.LastArchive()) + QStringLiteral("/src.mp4")),
            ReadFile(job.path));
}

// The server going away mid-upload fails the job with the control's code; the queue file still
// holds it, and closing is refused only while it runs.
TEST_F(JobDriverTest, ServerGoneDuringUploadFailsTheJobAndKeepsItQueued) {
  ASSERT_TRUE(bench_.ready());
  const cf::UploadJob job =
      ClipJob(bench_.MakeClip(QStringLiteral("cut.mp4"), QStringLiteral("6M")),
              bench_.server().BaseUrl(), 1);
  bench_.Add(job);
  ASSERT_TRUE(
      bench_.server().ArmFault(QStringLiteral("path=/mavo/putFile,block=1,delay=3000,once")));
  bool closeRefused = false;
  bool serverStopped = false;
  QObject context;
  QObject::connect(&bench_.driver(), &cf::JobDriver::statusChanged, &context,
                   [&](const QString& text) {
                     if (serverStopped || !text.endsWith(QLatin1Char('%')) ||
                         text.endsWith(QStringLiteral(" 0%")))
                       return;
                     closeRefused = !bench_.driver().Close();
                     serverStopped = true;
                     bench_.server().Stop();
                   });
  bench_.RunQueue();
  ASSERT_TRUE(serverStopped) << bench_.Error(job.path).toStdString();
  EXPECT_TRUE(closeRefused);
  EXPECT_TRUE(bench_.messages().contains(QStringLiteral("Please stop uploading first!")));
  EXPECT_EQ(bench_.State(job.path), kStateFailed);
  const QString error = bench_.Error(job.path);
  EXPECT_TRUE(error == Res("msg_0") || error == Res("msg_1001") || error == Res("msg_1003"))
      << error.toStdString();

  const QString queueFile = QDir(QDir::tempPath()).filePath(QStringLiteral("queue.xml"));
  ASSERT_TRUE(cf::QueueFile::Save(queueFile, bench_.queue()));
  EXPECT_TRUE(ReadFile(queueFile).contains(job.path.toUtf8()));
  EXPECT_TRUE(bench_.driver().Close());
  EXPECT_TRUE(bench_.LeftoverFolders().isEmpty());
}

// An error inside packing must not leave the row "Transfering", which would block closing.
TEST_F(JobDriverTest, UnexpectedPackingErrorFailsTheJobAndStopsTheQueue) {
  ASSERT_TRUE(bench_.ready());
  ASSERT_TRUE(QFile::remove(program_.filePath(QStringLiteral("mavo_profile.xml"))));
  const cf::UploadJob job = bench_.AddClip(QStringLiteral("p1.mp4"), 1);
  const cf::UploadJob next = bench_.AddClip(QStringLiteral("p2.mp4"), 1);
  bench_.RunQueue();
  EXPECT_EQ(bench_.State(job.path), kStateFailed);
  EXPECT_TRUE(bench_.Error(job.path).startsWith(QStringLiteral("upload error! ")));
  EXPECT_TRUE(bench_.messages().contains(bench_.Error(job.path)));
  EXPECT_EQ(bench_.State(next.path), kStateWaiting);
  EXPECT_TRUE(bench_.driver().Close());
  EXPECT_TRUE(bench_.LeftoverFolders().isEmpty());
}

}  // namespace

namespace {

// Pause ends the upload without the cancel request: the row waits again, the queue stops, and
// the server still holds the session for the next start.
TEST_F(JobDriverTest, PauseEndsTheUploadButLeavesTheServersSession) {
  using Phase = cf::JobRun::Phase;
  ASSERT_TRUE(bench_.ready());
  const cf::UploadJob job =
      ClipJob(bench_.MakeClip(QStringLiteral("pause.mp4"), QStringLiteral("6M")),
              bench_.server().BaseUrl(), 1);
  ASSERT_GT(job.fileSize, 3 * 524288);
  bench_.Add(job);
  ASSERT_TRUE(bench_.server().ArmFault(QStringLiteral("path=/mavo/putFile,delay=300,always")));
  bool paused = false;
  QObject context;
  QObject::connect(&bench_.driver(), &cf::JobDriver::progress, &context,
                   [&](const QString&, Phase phase, qint64, qint64, qint64 bytes) {
                     if (paused || phase != Phase::Uploading || bytes < 524288) return;
                     paused = true;
                     bench_.driver().Pause();
                   });
  bench_.RunQueue();
  ASSERT_TRUE(paused);
  EXPECT_EQ(bench_.State(job.path), kStateWaiting);
  EXPECT_EQ(bench_.server().AdminGet(QStringLiteral("/admin/sessions")).count("<session "), 1);
  QFile log(QDir(bench_.server().DataDir()).filePath(QStringLiteral("requests.log")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_FALSE(log.readAll().contains("cancel of sess"));
}

}  // namespace
