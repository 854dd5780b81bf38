#include "DriverFixture.h"
#include "TestFiles.h"
#include "app/project/CProjectFile.h"
#include "app/project/KqLibrary.h"
#include "app/queue/ProjectSlides.h"
#include "app/services/modConfig.h"
#include "app/services/modLanguage.h"
#include "tests/app/project/TestProjects.h"

#include <QElapsedTimer>
#include <QImage>
#include <QRegularExpression>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using cf::kStateFailed;
using cf::kStateFinished;

QString WithElement(QString answer, const QString& name, const QString& value) {
  const QRegularExpression element(QStringLiteral("<%1>.*</%1>").arg(name),
                                   QRegularExpression::DotMatchesEverythingOption |
                                       QRegularExpression::InvertedGreedinessOption);
  const QString replacement = QStringLiteral("<%1>%2</%1>").arg(name, value);
  if (answer.contains(element)) return answer.replace(element, replacement);
  return answer.replace(QStringLiteral("</getVersion>"),
                        replacement + QStringLiteral("</getVersion>"));
}

// A job for a project folder as the add dialog queues it.
cf::UploadJob ProjectJob(const QString& kqp, const QString& url) {
  const QFileInfo info(kqp);
  cf::UploadJob job;
  job.fileName = info.fileName();
  job.title = QStringLiteral("Fractions, part 1");
  job.Author = QStringLiteral("Ms. Lee");
  job.path = info.absoluteFilePath();
  job.Url = url;
  job.account = QStringLiteral("demo");
  job.password = QStringLiteral("demo");
  job.folderID = QStringLiteral("2");
  job.folderName = QStringLiteral("Physics 101");
  job.fileSize = info.size();
  job.dateLastModified = cf::UploadJob::FormatDateLastModified(info.lastModified());
  return job;
}

class ProjectUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench_.ready());
    ASSERT_TRUE(parent_.isValid());
  }

  // A recorded project in a folder whose path has blanks: segments at 0 and 5000 of a 6-second
  // store and a link item between them, with a presentation of the folder's name beside it.
  QString MakeProject(const QString& name) {
    const QString folder = parent_.filePath(QStringLiteral("my lessons/") + name);
    TestProject project;
    project.keywords = QStringLiteral("math, fractions");
    project.comments = QStringLiteral("Adding fractions with unlike denominators");
    project.duration = QStringLiteral("01:00.000");
    project.items = {IndexEntry(QStringLiteral("Start"), QStringLiteral("0")),
                     IndexEntry(QStringLiteral("Notes"), QStringLiteral("-1"),
                                QStringLiteral("pages/note 1.html")),
                     IndexEntry(QStringLiteral("Practice"), QStringLiteral("5000"))};
    const QString kqp = TestProjects::WriteProject(folder, project);
    EXPECT_FALSE(kqp.isEmpty());
    EXPECT_FALSE(
        TestProjects::MakeMediaStore(
            folder, {QStringLiteral("red"), QStringLiteral("lime"), QStringLiteral("blue")})
            .isEmpty());
    EXPECT_TRUE(WriteFile(folder + QStringLiteral("/pages/note 1.html"),
                          "<html><body><h1>Common denominators</h1></body></html>"));
    EXPECT_TRUE(WriteFile(folder + QStringLiteral(".pptx"), "slides of the lecture"));
    return kqp;
  }

  cf::UploadJob Queue(const QString& kqp) {
    const cf::UploadJob job = ProjectJob(kqp, bench_.server().BaseUrl());
    bench_.Add(job);
    return job;
  }

  LinkedProgramFolder program_;
  DriverBench bench_;
  QTemporaryDir parent_;
};

TEST_F(ProjectUploadTest, ProjectGoesUpWithSlidesCoverProfileAndPresentation) {
  bench_.control().setVersionRewrite([](const QString& a) {
    return WithElement(a, QStringLiteral("slidesize"), QStringLiteral("320x240"));
  });
  const QString kqp = MakeProject(QStringLiteral("Fractions lesson"));
  const QString folder = QFileInfo(kqp).absolutePath();
  const cf::UploadJob job = Queue(kqp);
  bench_.RunQueue();
  ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();

  const QDir unpacked(bench_.Unpack(bench_.LastArchive()));
  for (int i = 1; i <= 3; ++i) {
    const QImage slide(unpacked.filePath(QStringLiteral("slides/%1.jpg").arg(i)));
    EXPECT_EQ(slide.size(), QSize(320, 240)) << i;
  }
  // The segments come from the store in index order, the link item from its page.
  const QImage first(unpacked.filePath(QStringLiteral("slides/1.jpg")));
  const QImage third(unpacked.filePath(QStringLiteral("slides/3.jpg")));
  ASSERT_FALSE(first.isNull());
  ASSERT_FALSE(third.isNull());
  EXPECT_GT(qRed(first.pixel(160, 120)), 200);
  EXPECT_GT(qBlue(third.pixel(160, 120)), 200);
  EXPECT_FALSE(unpacked.exists(QStringLiteral("slides/0.jpg")));
  EXPECT_FALSE(unpacked.exists(QStringLiteral("slides/5000.jpg")));
  const QImage cover(unpacked.filePath(QStringLiteral("slides/cover.jpg")));
  EXPECT_EQ(cover.size(), QSize(160, 120));
  EXPECT_FALSE(unpacked.exists(QStringLiteral("thumbList.txt")));
  EXPECT_TRUE(unpacked.exists(QStringLiteral("media.kq")));
  EXPECT_EQ(ReadFile(unpacked.filePath(QStringLiteral("Fractions lesson.pptx"))),
            QByteArray("slides of the lecture"));

  const QByteArray profile = ReadFile(unpacked.filePath(QStringLiteral("mavo_profile.xml")));
  EXPECT_TRUE(profile.contains("<type>Quillbox</type>")) << profile.constData();
  EXPECT_TRUE(profile.contains("<keywords>math, fractions</keywords>"));
  EXPECT_TRUE(profile.contains("<abstract>Adding fractions with unlike denominators</abstract>"));
  EXPECT_TRUE(profile.contains("<title>Fractions, part 1</title>"));
  EXPECT_TRUE(profile.contains("<project>Fractions lesson.pptx</project>"));

  // What packing and slide making leave in the project folder.
  EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Fractions lesson.pptx")));
  EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral(".pptx")));
  EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/thumbList.txt")));
  EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/slides/cover.jpg")));
  EXPECT_TRUE(QFileInfo::exists(kqp));
  EXPECT_TRUE(bench_.LeftoverFolders().filter(QStringLiteral("_kqVidZip_")).isEmpty());

  // The same project again: the version request names the content kept in the folder's profile.
  // The server decides what becomes of it: kept ("0"), or taken as new content ("1", which the
  // reference server answers for replaceable content) without a question to the user.
  const struct {
    const char* overwrite;  // nullptr: the server's own answer
    bool keepsNumber;
  } cases[] = {{"0", true}, {nullptr, false}};
  for (const auto& c : cases) {
    bench_.control().setVersionRewrite([&c](const QString& a) {
      const QString sized = WithElement(a, QStringLiteral("slidesize"), QStringLiteral("320x240"));
      return c.overwrite == nullptr
                 ? sized
                 : WithElement(sized, QStringLiteral("overwrite"), QLatin1String(c.overwrite));
    });
    ProjectProfile stored;
    ASSERT_TRUE(ReadProjectProfile(folder, &stored));
    ASSERT_NE(stored.contentID.toInt(), 0);
    cf::testing::SetState(bench_.grid().store(), job.path, cf::kStateWaiting);
    bench_.RunQueue();
    ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
    EXPECT_EQ(bench_.control().versionContentNumbers().last(), stored.contentID.toInt());
    EXPECT_EQ(bench_.control().putFileContentNumbers().last(),
              c.keepsNumber ? stored.contentID.toInt() : 0);
  }
  EXPECT_FALSE(bench_.messages().contains(
      GetResString(QStringLiteral("frmUpload"), QStringLiteral("msgOverwrite"))));
}

TEST_F(ProjectUploadTest, DamagedStoreFailsBeforeAnythingIsPacked) {
  const QString kqp = MakeProject(QStringLiteral("Damaged one"));
  const QString store = QFileInfo(kqp).absolutePath() + QStringLiteral("/media.kq");
  QFile damaged(store);
  ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
  damaged.seek(damaged.size() / 2);
  const char byte = damaged.peek(1).at(0);
  damaged.write(QByteArray(1, static_cast<char>(byte ^ 0x01)));
  damaged.close();

  const cf::UploadJob job = Queue(kqp);
  bench_.RunQueue();
  EXPECT_EQ(bench_.State(job.path), kStateFailed);
  EXPECT_EQ(bench_.Error(job.path), QStringLiteral("Verify media.kq error!"));
  EXPECT_TRUE(bench_.control().putFileContentNumbers().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(kqp).absolutePath() + QStringLiteral("/slides")));
}

// zip runs in the project folder with "*"; names there must reach it as names, not options ("-T"
// tests the archive, "-TT<command>" runs the command to do so).
TEST_F(ProjectUploadTest, FileNamesLikeOptionsArePackedAndRunNothing) {
  const QString kqp = MakeProject(QStringLiteral("Options lesson"));
  const QString folder = QFileInfo(kqp).absolutePath();
  ASSERT_TRUE(WriteFile(folder + QStringLiteral("/-T"), "test"));
  ASSERT_TRUE(WriteFile(folder + QStringLiteral("/-TTtouch X #"), "command"));
  const cf::UploadJob job = Queue(kqp);
  bench_.RunQueue();
  ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();

  EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/X")));
  const QDir unpacked(bench_.Unpack(bench_.LastArchive()));
  EXPECT_EQ(ReadFile(unpacked.filePath(QStringLiteral("-T"))), QByteArray("test"));
  EXPECT_EQ(ReadFile(unpacked.filePath(QStringLiteral("-TTtouch X #"))), QByteArray("command"));
  EXPECT_TRUE(unpacked.exists(QStringLiteral("media.kq")));
  EXPECT_FALSE(unpacked.exists(QStringLiteral("X")));
}

// A store that takes its time (here: a pipe nobody writes yet) is checked off the GUI thread:
// events keep flowing, the check reports progress, and Stop returns the row to "Waiting" at once.
TEST_F(ProjectUploadTest, SlowStoreCheckKeepsEventsFlowingAndHonoursStop) {
  const QString kqp = MakeProject(QStringLiteral("Slow store"));
  const QString store = QFileInfo(kqp).absolutePath() + QStringLiteral("/media.kq");
  ASSERT_TRUE(QFile::remove(store));
  ASSERT_EQ(::mkfifo(QFile::encodeName(store).constData(), 0600), 0);
  const cf::UploadJob job = Queue(kqp);

  int ticks = 0;
  int checkProgress = 0;
  bool stopped = false;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  QObject context;
  QObject::connect(&bench_.driver(), &cf::JobDriver::progress, &context,
                   [&](const QString&, cf::JobRun::Phase phase, qint64, qint64, qint64) {
                     if (phase == cf::JobRun::Phase::CheckingStore) ++checkProgress;
                   });
  QObject::connect(&bench_.driver(), &cf::JobDriver::phaseChanged, &context,
                   [&](const QString&, cf::JobRun::Phase phase) {
                     if (phase != cf::JobRun::Phase::CheckingStore) return;
                     ticker.start(50);
                     QTimer::singleShot(1500, &context, [&] {
                       stopped = true;
                       bench_.driver().Stop();
                     });
                   });
  QElapsedTimer clock;
  clock.start();
  bench_.RunQueue(20000);
  ticker.stop();
  EXPECT_TRUE(stopped);
  // Stop is honoured at once, not after the check.
  EXPECT_LT(clock.elapsed(), 10000);
  EXPECT_GE(ticks, 15);
  EXPECT_GT(checkProgress, 5);
  EXPECT_EQ(bench_.State(job.path), cf::kStateWaiting);
  EXPECT_TRUE(bench_.control().putFileContentNumbers().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(kqp).absolutePath() + QStringLiteral("/slides")));
  EXPECT_TRUE(bench_.LeftoverFolders().isEmpty());

  // The abandoned check reads an empty pipe and ends on its own.
  const int writer = ::open(QFile::encodeName(store).constData(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) ::close(writer);
}

TEST_F(ProjectUploadTest, ThumbCommandReplacesBlanksAndBackslashes) {
  cf::CProjectFile project;
  cf::KqLibrary library;
  const cf::ProjectSlides slides(QStringLiteral("/home/ann/my lessons\\Unit 2"), project, library,
                                 560, 420, [](const QString&) {});
  EXPECT_EQ(slides.ThumbCommand(2, QStringLiteral("pages/note 1.html")),
            QStringLiteral("thumb /home/ann/my,lessons/Unit,2/pages/note,1.html "
                           "/home/ann/my,lessons/Unit,2/slides/2.jpg 800 600 560 420 2000"));
}

}  // namespace
