#include "DriverFixture.h"
#include "TestFiles.h"
#include "app/queue/KeptWork.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/UploadPackage.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>

#include <sys/stat.h>

namespace {

using cf::kStateFailed;
using cf::kStateFinished;
using cf::kStateWaiting;
using Phase = cf::JobRun::Phase;

// What identifies a file on disk: the same inode, time and bytes mean nobody wrote it again.
struct FileMark {
  explicit FileMark(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return;
    inode = info.st_ino;
    mtimeNs = static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
      hash = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }
  }
  bool exists() const { return !hash.isEmpty(); }
  bool operator==(const FileMark&) const = default;

  ino_t inode = 0;
  qint64 mtimeNs = 0;
  QByteArray hash;
};

QString KeptVideo(const QString& source) {
  return cf::KeptWork::FolderFor(source) + QStringLiteral("/work/video.mp4");
}

QString KeptArchive(const QString& source) {
  return cf::KeptWork::FolderFor(source) + QStringLiteral("/archive/") +
         QLatin1String(cf::UploadPackage::kArchiveName);
}

QStringList KeptFolders() {
  return QDir(cf::KeptWork::Root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

class KeptWorkTest : public ::testing::Test {
 protected:
  // The server refuses every upload of the account while `refuse` holds.
  bool RefuseUploads(bool refuse) {
    return bench_.server().Seed(
        QStringLiteral("<kqserver><account name=\"demo\"><reply route=\"putFile\" errInfo=\"%1\"/>"
                       "</account></kqserver>")
            .arg(refuse ? QStringLiteral("1407") : QString()));
  }
  // Runs the queue and returns the phases the job went through.
  QList<Phase> RunAndTrace(const QString& path) {
    QList<Phase> phases;
    QObject context;
    QObject::connect(&bench_.driver(), &cf::JobDriver::phaseChanged, &context,
                     [&](const QString& running, Phase phase) {
                       if (running == path) phases << phase;
                     });
    bench_.RunQueue();
    return phases;
  }

  LinkedProgramFolder program_;
  DriverBench bench_;
};

TEST_F(KeptWorkTest, RetryAfterAFailedUploadSendsTheKeptArchiveWithoutConvertingAgain) {
  ASSERT_TRUE(bench_.ready());
  ASSERT_TRUE(RefuseUploads(true));
  const cf::UploadJob job = bench_.AddClip(QStringLiteral("-retry 'me' $(id) 講義.mp4"), 0);
  QSignalSpy ends(&bench_.driver(), &cf::JobDriver::queueFinished);
  bench_.RunQueue();
  ASSERT_EQ(bench_.State(job.path), kStateFailed);
  ASSERT_EQ(ends.size(), 1);
  EXPECT_EQ(ends.takeFirst().at(0).value<cf::QueueSummary>().Text(),
            QStringLiteral("0 uploaded, 1 failed, 0 stopped"));
  const FileMark video(KeptVideo(job.path));
  const FileMark archive(KeptArchive(job.path));
  ASSERT_TRUE(video.exists());
  ASSERT_TRUE(archive.exists());

  // Stopped before the upload, the job keeps its work too.
  cf::QueueCommands commands(bench_.queue());
  EXPECT_EQ(commands.retry({job.path}).retried, 1);
  EXPECT_EQ(bench_.State(job.path), kStateWaiting);
  EXPECT_TRUE(bench_.Error(job.path).isEmpty());
  {
    QObject context;
    QObject::connect(&bench_.driver(), &cf::JobDriver::phaseChanged, &context,
                     [&](const QString&, Phase phase) {
                       if (phase == Phase::AskingServer) bench_.driver().Stop();
                     });
    bench_.RunQueue();
  }
  ASSERT_EQ(ends.size(), 1);
  EXPECT_EQ(ends.takeFirst().at(0).value<cf::QueueSummary>().Text(),
            QStringLiteral("0 uploaded, 0 failed, 1 stopped"));
  EXPECT_EQ(bench_.State(job.path), kStateWaiting);
  EXPECT_EQ(FileMark(KeptArchive(job.path)), archive);

  ASSERT_TRUE(RefuseUploads(false));
  const qsizetype asked = bench_.control().versionContentNumbers().size();
  const QList<Phase> phases = RunAndTrace(job.path);
  ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
  EXPECT_FALSE(phases.contains(Phase::Converting));
  EXPECT_TRUE(phases.contains(Phase::Rechecking));
  // Both questions went to the server again, so quota and overwrite are current.
  EXPECT_EQ(bench_.control().versionContentNumbers().size() - asked, 2);
  EXPECT_EQ(FileMark(KeptVideo(job.path)), video);
  EXPECT_EQ(FileMark(KeptArchive(job.path)), archive);
  EXPECT_EQ(FileMark(bench_.LastArchive()).hash, archive.hash);

  EXPECT_TRUE(bench_.driver().Close());
  EXPECT_TRUE(KeptFolders().isEmpty()) << KeptFolders().join(' ').toStdString();
}

TEST_F(KeptWorkTest, AChangedSourceOrChangedSettingsConvertAgain) {
  ASSERT_TRUE(bench_.ready());
  struct Case {
    const char* name;
    bool editDiscards;  // the edit itself deletes the kept work
    std::function<cf::UploadJob(const cf::UploadJob&)> change;
  };
  const Case cases[] = {
      {"source", false,
       [&](const cf::UploadJob& job) {
         // Another recording under the same name, queued again by an edit with the same
         // settings: only the source tells the kept work is stale.
         EXPECT_TRUE(QFile::remove(job.path));
         EXPECT_TRUE(TestClips::MakeVideo(job.path, 3, QStringLiteral("320x240")));
         return ClipJob(job.path, job.Url, job.dstCvtType);
       }},
      {"settings", true,
       [](const cf::UploadJob& job) {
         cf::UploadJob edited = job;
         edited.customBps = 150;
         edited.vBitRate = QStringLiteral("150k");
         return edited;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RefuseUploads(true));
    const cf::UploadJob job = bench_.AddClip(QString::fromLatin1(c.name) + ".mp4", 0);
    bench_.RunQueue();
    ASSERT_EQ(bench_.State(job.path), kStateFailed);
    const FileMark video(KeptVideo(job.path));
    ASSERT_TRUE(video.exists());

    cf::QueueCommands commands(bench_.queue());
    ASSERT_TRUE(commands.beginEdit(job.path));
    ASSERT_TRUE(commands.commitEdit(job.path, c.change(job)));
    EXPECT_EQ(QFileInfo::exists(cf::KeptWork::FolderFor(job.path)), !c.editDiscards);
    EXPECT_EQ(bench_.State(job.path), kStateWaiting);

    ASSERT_TRUE(RefuseUploads(false));
    const QList<Phase> phases = RunAndTrace(job.path);
    ASSERT_EQ(bench_.State(job.path), kStateFinished) << bench_.Error(job.path).toStdString();
    EXPECT_TRUE(phases.contains(Phase::Converting));
    const FileMark again(KeptVideo(job.path));
    ASSERT_TRUE(again.exists());
    EXPECT_NE(again.hash, video.hash);
    EXPECT_EQ(FileMark(bench_.LastArchive()).hash, FileMark(KeptArchive(job.path)).hash);
  }
}

TEST_F(KeptWorkTest, NoKeptFolderOutlivesItsJob) {
  ASSERT_TRUE(bench_.ready());
  std::vector<cf::UploadJob> jobs;
  for (const char* name : {"removed.mp4", "cleared one.mp4", "cleared two.mp4"}) {
    jobs.push_back(bench_.AddClip(QString::fromUtf8(name), 1));
    cf::KeptWork kept;
    ASSERT_TRUE(kept.Open(jobs.back()).ok());
  }
  const QDir root(cf::KeptWork::Root());
  // Left by a crash: named as the program names its folders, owned by no queued job.
  ASSERT_TRUE(root.mkpath(QStringLiteral("crashed-0123456789ab/work")));
  // Not the program's: never touched.
  ASSERT_TRUE(root.mkpath(QStringLiteral("notes")));
  ASSERT_EQ(KeptFolders().size(), 5);

  cf::QueueCommands commands(bench_.queue());
  commands.removeSelected({bench_.queue().RowOf(jobs[0].path)});
  EXPECT_FALSE(QFileInfo::exists(cf::KeptWork::FolderFor(jobs[0].path)));
  EXPECT_TRUE(QFileInfo::exists(cf::KeptWork::FolderFor(jobs[1].path)));
  commands.clearAll();
  EXPECT_EQ(KeptFolders(),
            QStringList({QStringLiteral("crashed-0123456789ab"), QStringLiteral("notes")}));
  bench_.driver().SweepKeptWork();
  EXPECT_EQ(KeptFolders(), QStringList(QStringLiteral("notes")));

  // A finished job's work goes with the next sweep (here, closing).
  const cf::UploadJob finished = bench_.AddClip(QStringLiteral("finished.mp4"), 1);
  bench_.RunQueue();
  ASSERT_EQ(bench_.State(finished.path), kStateFinished)
      << bench_.Error(finished.path).toStdString();
  EXPECT_TRUE(bench_.driver().Close());
  EXPECT_EQ(KeptFolders(), QStringList(QStringLiteral("notes")));
}

// Each program folder keeps its work in a root of its own; a root whose program folder was
// deleted goes at the next sweep of any other, and nothing else does: not the root of a folder
// that still exists, nor of one on a drive that is not there now, nor a root that never said
// which folder it served.
TEST(KeptWorkRoots, TheWorkOfADeletedProgramFolderGoesAndNoOtherRoot) {
  QTemporaryDir base;
  const QDir folders(base.path());
  const auto keepWorkIn = [&](const QString& programFolder) {
    EXPECT_TRUE(folders.mkpath(programFolder));
    SetProgramFolder(folders.filePath(programFolder));
    cf::UploadJob job;
    job.fileName = QStringLiteral("lecture 'one' $(x).mp4");
    job.path = folders.filePath(programFolder + QLatin1Char('/') + job.fileName);
    EXPECT_TRUE(WriteFile(job.path, "video"));
    cf::KeptWork kept;
    EXPECT_TRUE(kept.Open(job).ok());
    return QFileInfo(cf::KeptWork::Root()).fileName();
  };
  const QString gone = keepWorkIn(QStringLiteral("deleted copy"));
  const QString stays = keepWorkIn(QStringLiteral("copy"));
  const QString unmounted = keepWorkIn(QStringLiteral("drive/clipFerry"));
  const QDir kept = QFileInfo(cf::KeptWork::Root()).dir();
  ASSERT_TRUE(kept.mkpath(QStringLiteral("older-0123456789ab/work")));
  ASSERT_TRUE(QDir(folders.filePath(QStringLiteral("deleted copy"))).removeRecursively());
  ASSERT_TRUE(QDir(folders.filePath(QStringLiteral("drive"))).removeRecursively());
  ASSERT_TRUE(QStringList(kept.entryList(QDir::Dirs | QDir::NoDotAndDotDot)).contains(gone));

  SetProgramFolder(folders.filePath(QStringLiteral("this copy")));
  cf::UploadQueue queue;
  cf::KeptWork::Sweep(queue);
  const QStringList left = kept.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  EXPECT_FALSE(left.contains(gone));
  EXPECT_TRUE(left.contains(stays));
  EXPECT_TRUE(left.contains(unmounted));
  EXPECT_TRUE(left.contains(QStringLiteral("older-0123456789ab")));
  SetProgramFolder(QString());
}

TEST(KeptWorkNames, HostileSourceNamesStayInsideTheRootAndStayApart) {
  const QStringList paths = {
      QStringLiteral("/clips/-rf $(reboot) `x`.mp4"), QStringLiteral("/clips/../../etc/passwd"),
      QStringLiteral("/clips/.hidden.mp4"),           QStringLiteral("/clips/講義 第一週.mp4"),
      QStringLiteral("/clips/a\"b'c\nd.mp4"),         QStringLiteral("/other/講義 第一週.mp4")};
  QSet<QString> names;
  for (const QString& path : paths) {
    const QFileInfo folder(cf::KeptWork::FolderFor(path));
    EXPECT_EQ(folder.absolutePath(), QDir(cf::KeptWork::Root()).absolutePath())
        << path.toStdString();
    const QString name = folder.fileName();
    EXPECT_FALSE(name.startsWith(QLatin1Char('-')) || name.startsWith(QLatin1Char('.')));
    EXPECT_FALSE(name.contains(QRegularExpression(QStringLiteral("[\\s'\"`$/]"))))
        << name.toStdString();
    names.insert(name);
  }
  EXPECT_EQ(names.size(), paths.size());
  EXPECT_TRUE(cf::KeptWork::FolderFor(paths[3]).contains(QStringLiteral("講義_第一週-")));
}

}  // namespace
