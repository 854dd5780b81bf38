#include "TestFiles.h"
#include "app/queue/QueueFile.h"

#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "tests/app/queue/QueueTestJobs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>

namespace cf {
namespace {

using testing::Enqueue;
using testing::ExpectSameJob;
using testing::SampleJob;

// Everything in the folder but the queue file itself: a failed save must leave nothing behind.
QStringList Leftovers(const QTemporaryDir& folder) {
  QStringList names =
      QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
  names.removeAll(QueueFile::kFileName);
  return names;
}

class QueueFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    filePath = QueueFile::PathIn(folder.path());
  }

  QTemporaryDir folder;
  QString filePath;
  UploadQueue queue;
  QueueGridModel grid{queue};
};

TEST(QueueFileLines, StartAndEndTagOfOneElementStayTogetherEverythingElseBreaks) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {QueueFile::kEmptyDocument,
       "<?xml version=\"1.0\"?>\r\n<clipferry "
       "ver=\"2.120222\">\r\n<queue></queue>\r\n</clipferry>"},
      {"<a><b></b><c>x</c></a>", "<a>\r\n<b></b>\r\n<c>x</c>\r\n</a>"},
      {"<a><a></a></a>", "<a>\r\n<a></a></a>"},
      {"<a/><b/></r>", "<a/>\r\n<b/>\r\n</r>"},
      {"<t>&lt;&gt;&amp;</t><u></u>", "<t>&lt;&gt;&amp;</t>\r\n<u></u>"},
      {"<x k=\"1/2\"></x>", "<x k=\"1/2\">\r\n</x>"},
      {"<ab></a>", "<ab>\r\n</a>"},
      {"<a>\r\n</a>", "<a>\r\n</a>"},
      {"><", ">\r\n<"},
      {"<", "<"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QueueFile::BreakLines(c.in), QByteArray(c.out)) << c.in;
  }
}

TEST_F(QueueFileTest, OneJobIsWrittenAsTwentyEightFieldsOnTheirOwnLines) {
  UploadJob job = SampleJob(2);
  job.state = "Failed";
  job.sysVer.clear();
  Enqueue(queue, grid, job);
  ASSERT_TRUE(QueueFile::Save(filePath, queue));
  const QByteArray expected =
      "<?xml version=\"1.0\"?>\r\n<clipferry ver=\"2.120222\">\r\n<queue>\r\n<file>\r\n"
      "<fileName>lecture2.mp4</fileName>\r\n<title>Title 2</title>\r\n"
      "<Author>Author 2</Author>\r\n<state>Failed</state>\r\n"
      "<path>/home/teacher/videos/lecture2.mp4</path>\r\n<duration>0:2:30.5</duration>\r\n"
      "<secDuration>1002</secDuration>\r\n<videoWidth>2002</videoWidth>\r\n"
      "<videoHeight>3002</videoHeight>\r\n<vBitRate>402k</vBitRate>\r\n"
      "<aBitRate>66k</aBitRate>\r\n<Url>127.0.0.1:8080/school2</Url>\r\n"
      "<account>account2</account>\r\n<password>secret2</password>\r\n"
      "<folderID>502</folderID>\r\n<contentID>2</contentID>\r\n"
      "<folderName>Folder 2</folderName>\r\n<sysVer></sysVer>\r\n"
      "<bEncPassword>True</bEncPassword>\r\n<dstCvtType>2</dstCvtType>\r\n"
      "<dstResType>0</dstResType>\r\n<dstPostfix>hd</dstPostfix>\r\n"
      "<srcVideoWidth>4002</srcVideoWidth>\r\n<srcVideoHeight>5002</srcVideoHeight>\r\n"
      "<customBps>6002</customBps>\r\n<bInterlaced>False</bInterlaced>\r\n"
      "<fileSize>5000000002</fileSize>\r\n<dateLastModified>2026-03-03T10:11:12"
      "</dateLastModified>\r\n</file>\r\n</queue>\r\n</clipferry>";
  EXPECT_EQ(ReadFile(filePath), expected);
}

TEST_F(QueueFileTest, JobsComeBackWithEveryFieldAndMarkupOrForeignText) {
  std::vector<UploadJob> jobs;
  for (int n = 1; n <= 3; ++n) jobs.push_back(SampleJob(n));
  jobs[0].title = "Loops <for> & \"while\" 'do' ]]> -->";
  jobs[0].Author = "Chén Xiǎomíng 陳小明";
  jobs[1].path = "/home/teacher/影片/第1課 <draft>.mp4";
  jobs[1].password = "p&ss<wörd>\t";
  jobs[2].folderName = "   ";
  jobs[2].title = "two\r\nlines\rand\x01";
  jobs[2].duration = "";
  jobs[2].dstPostfix = "src";
  for (const UploadJob& job : jobs) Enqueue(queue, grid, job);
  cf::testing::SetState(grid.store(), jobs[0].path, "Failed");
  cf::testing::SetState(grid.store(), jobs[2].path, "Canceled");

  int written = 0;
  ASSERT_TRUE(QueueFile::Save(filePath, queue, &written));
  EXPECT_EQ(written, 3);

  UploadQueue loadedQueue;
  QueueGridModel loadedGrid(loadedQueue);
  ASSERT_EQ(QueueFile::Load(filePath, loadedQueue), QueueFile::LoadResult::Loaded);
  ASSERT_EQ(loadedQueue.Count(), 3);
  ASSERT_EQ(loadedGrid.rowCount(), 3);
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const UploadJob& job = jobs[static_cast<size_t>(n - 1)];
    ExpectSameJob(*loadedQueue.item(n), job);
    EXPECT_EQ(loadedQueue.item(n)->state, "");
    // A failed job stays failed; a canceled one waits again.
    EXPECT_EQ(cf::testing::StateAt(loadedGrid, n), n == 1 ? "Failed" : "Waiting");
    EXPECT_EQ(cf::testing::PathAt(loadedGrid, n), job.path);
    EXPECT_EQ(loadedGrid.text(n, kColTitle), job.title);
    EXPECT_EQ(loadedGrid.text(n, kColAuthor), job.Author);
    EXPECT_EQ(loadedGrid.text(n, kColFolder), job.folderName);
  }
}

TEST_F(QueueFileTest, FinishedJobsAreDroppedAndTheFileGoesWhenNoneRemain) {
  Enqueue(queue, grid, SampleJob(1));
  Enqueue(queue, grid, SampleJob(2));
  cf::testing::SetState(grid.store(), SampleJob(1).path, "Failed");
  cf::testing::SetState(grid.store(), SampleJob(2).path, "Finished");
  int written = -1;
  ASSERT_TRUE(QueueFile::Save(filePath, queue, &written));
  EXPECT_EQ(written, 1);
  EXPECT_EQ(ReadFile(filePath).count("<file>"), 1);
  EXPECT_FALSE(ReadFile(filePath).contains(SampleJob(2).path.toUtf8()));

  cf::testing::SetState(grid.store(), SampleJob(1).path, "Finished");
  ASSERT_TRUE(QueueFile::Save(filePath, queue, &written));
  EXPECT_EQ(written, 0);
  EXPECT_FALSE(QFile::exists(filePath));

  UploadQueue empty;
  ASSERT_TRUE(QueueFile::Save(filePath, empty));  // nothing to delete is no failure
  EXPECT_FALSE(QFile::exists(filePath));
  EXPECT_TRUE(Leftovers(folder).isEmpty());
}

TEST_F(QueueFileTest, AnEditedJobIsJudgedByItsOwnRowNotByItsPosition) {
  for (int n = 1; n <= 3; ++n) Enqueue(queue, grid, SampleJob(n));
  // Editing job 1 puts it at the end of the collection while its row stays first.
  UploadJob edited = *queue.item(SampleJob(1).path);
  edited.title = "Edited";
  ASSERT_TRUE(queue.Replace(edited.path, edited));
  ASSERT_EQ(cf::testing::PathAt(grid, 1), edited.path);
  cf::testing::SetState(grid.store(), SampleJob(2).path, "Finished");

  ASSERT_TRUE(QueueFile::Save(filePath, queue));
  UploadQueue loadedQueue;
  QueueGridModel loadedGrid(loadedQueue);
  ASSERT_EQ(QueueFile::Load(filePath, loadedQueue), QueueFile::LoadResult::Loaded);
  ASSERT_EQ(loadedQueue.Count(), 2);
  EXPECT_EQ(loadedQueue.item(1)->path, SampleJob(3).path);
  EXPECT_EQ(loadedQueue.item(2)->title, "Edited");
}

// A well-formed document that is no queue is deleted; a file that is not XML at all may be a
// damaged queue, so it is kept aside under a name that says so, and the queue starts empty.
TEST_F(QueueFileTest, ForeignDocumentsAreDeletedAndDamagedFilesKeptAside) {
  const struct {
    const char* content;
    QueueFile::LoadResult result;
  } cases[] = {
      {"", QueueFile::LoadResult::SetAside},
      {"not xml at all", QueueFile::LoadResult::SetAside},
      {"<?xml version=\"1.0\"?><clipferry ver=\"2.120222\"><queue><file>",
       QueueFile::LoadResult::SetAside},
      {"\xff\xfe<\x00q\x00", QueueFile::LoadResult::SetAside},
      {"<?xml version=\"1.0\"?><clipferry ver=\"2.120222\"></clipferry>",
       QueueFile::LoadResult::Discarded},
      {"<other><queue><file><path>/v/a.mp4</path></file></queue></other>",
       QueueFile::LoadResult::Discarded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    ASSERT_TRUE(WriteFile(filePath, c.content));
    ASSERT_TRUE(QFile::setPermissions(filePath, QFileDevice::ReadOwner));
    QString aside;
    EXPECT_EQ(QueueFile::Load(filePath, queue, &aside), c.result);
    EXPECT_FALSE(QFile::exists(filePath));
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(grid.rowCount(), 0);
    if (c.result == QueueFile::LoadResult::SetAside) {
      EXPECT_TRUE(aside.startsWith(filePath + ".bad-")) << aside.toStdString();
      EXPECT_EQ(ReadFile(aside), QByteArray(c.content));
      // A second damaged file on the same second gets its own name.
      ASSERT_TRUE(WriteFile(filePath, c.content));
      QString second;
      EXPECT_EQ(QueueFile::Load(filePath, queue, &second), QueueFile::LoadResult::SetAside);
      EXPECT_NE(second, aside);
      EXPECT_TRUE(QFile::exists(aside) && QFile::exists(second));
      QFile::remove(second);
      QFile::setPermissions(aside, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
      QFile::remove(aside);
    } else {
      EXPECT_TRUE(aside.isEmpty());
    }
  }
}

// Files the program writes are read one job at a time; any other valid shape of the same
// document (a comment, CDATA, other blanks, another declaration) must give the same jobs, and a
// "</file>" inside text must not cut a job short.
TEST_F(QueueFileTest, EveryValidShapeOfADocumentLoadsTheSameJobs) {
  for (int n = 1; n <= 2; ++n) Enqueue(queue, grid, SampleJob(n));
  const QByteArray written = QueueFile::Serialize(queue);
  const QByteArray title = "<title>" + SampleJob(1).title.toUtf8() + "</title>";
  ASSERT_TRUE(written.contains(title));
  const QByteArray shapes[] = {
      written,
      QByteArray(written).replace("<file>", "<file><!-- </file> -->"),
      QByteArray(written).replace(title,
                                  "<title><![CDATA[" + SampleJob(1).title.toUtf8() + "]]></title>"),
      QByteArray(written).replace("\r\n", "\n    "),
      QByteArray(written).replace("<file>", "<file >"),
      QByteArray(written).replace("<?xml version=\"1.0\"?>",
                                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
      QByteArray(written).replace("<?xml version=\"1.0\"?>", ""),
      QByteArray(written).replace("<queue>", "<queue><other>x</other>"),
  };
  for (const QByteArray& shape : shapes) {
    SCOPED_TRACE(shape.left(400).toStdString());
    UploadQueue loaded;
    ASSERT_TRUE(QueueFile::Parse(shape, loaded));
    ASSERT_EQ(loaded.Count(), 2);
    for (int n = 1; n <= 2; ++n) ExpectSameJob(*loaded.item(n), SampleJob(n));
  }

  UploadQueue cut;
  ASSERT_TRUE(QueueFile::Parse(
      QByteArray(written).replace(title, "<title><![CDATA[a</file><file>b]]></title>"), cut));
  ASSERT_EQ(cut.Count(), 2);
  EXPECT_EQ(cut.item(1)->title, "a</file><file>b");
}

TEST_F(QueueFileTest, MissingEmptyAndUnreadableFiles) {
  EXPECT_EQ(QueueFile::Load(filePath, queue), QueueFile::LoadResult::Missing);

  ASSERT_TRUE(WriteFile(filePath,
                        "<?xml version=\"1.0\"?>\r\n<clipferry ver=\"x\">\r\n"
                        "<queue></queue>\r\n</clipferry>"));
  EXPECT_EQ(QueueFile::Load(filePath, queue), QueueFile::LoadResult::Loaded);
  EXPECT_EQ(queue.Count(), 0);
  EXPECT_TRUE(QFile::exists(filePath));

  // A folder where the file should be cannot be read; it must not be removed either.
  ASSERT_TRUE(QFile::remove(filePath));
  ASSERT_TRUE(QDir(folder.path()).mkpath(QString(QueueFile::kFileName) + "/keep"));
  EXPECT_EQ(QueueFile::Load(filePath, queue), QueueFile::LoadResult::Unreadable);
  EXPECT_TRUE(QFileInfo(filePath + "/keep").isDir());
}

TEST_F(QueueFileTest, IncompleteOrMistypedJobsLoadWithDefaultsAndKeepTheOthers) {
  const QByteArray content =
      "<?xml version=\"1.0\"?><clipferry ver=\"2.120222\"><queue>"
      "<file><path>/v/only-path.mp4</path></file>"
      "<file><fileName>b.mp4</fileName><path> /v/b.mp4 </path><secDuration>12s</secDuration>"
      "<videoWidth> 640 </videoWidth><videoHeight>99999999999</videoHeight>"
      "<fileSize>-</fileSize><customBps>1.5</customBps><bEncPassword>TRUE</bEncPassword>"
      "<bInterlaced>-1</bInterlaced><title><b>bold</b></title></file>"
      "<file><fileName>no path</fileName></file>"
      "<note>not a job</note>"
      "<file><path>/v/a.mp4</path><fileSize>123456789012</fileSize>"
      "<bEncPassword>yes</bEncPassword><bInterlaced>0</bInterlaced></file>"
      "<file><path>/v/a.mp4</path><title>second copy</title></file>"
      "</queue></clipferry>";
  ASSERT_TRUE(QueueFile::Parse(content, queue));
  ASSERT_EQ(queue.Count(), 3);
  ASSERT_EQ(grid.rowCount(), 3);

  const UploadJob* onlyPath = queue.item(1);
  EXPECT_EQ(onlyPath->path, "/v/only-path.mp4");
  EXPECT_EQ(onlyPath->fileName, "");
  EXPECT_EQ(onlyPath->secDuration, 0);
  EXPECT_FALSE(onlyPath->bEncPassword);
  EXPECT_EQ(onlyPath->fileSize, 0);

  const UploadJob* b = queue.item(2);
  EXPECT_EQ(b->path, "/v/b.mp4");
  EXPECT_EQ(cf::testing::PathAt(grid, 2), "/v/b.mp4");
  EXPECT_EQ(b->secDuration, 0);
  EXPECT_EQ(b->videoWidth, 640);
  EXPECT_EQ(b->videoHeight, 0);
  EXPECT_EQ(b->fileSize, 0);
  EXPECT_EQ(b->customBps, 0);
  EXPECT_TRUE(b->bEncPassword);
  EXPECT_TRUE(b->bInterlaced);
  EXPECT_EQ(b->title, "");

  const UploadJob* a = queue.item(3);
  EXPECT_EQ(a->fileSize, 123456789012LL);
  EXPECT_FALSE(a->bEncPassword);
  EXPECT_FALSE(a->bInterlaced);
  EXPECT_EQ(a->title, "");  // the second copy of the path is not queued or shown
  EXPECT_EQ(grid.store().RowOf("/v/a.mp4"), 3);
}

TEST_F(QueueFileTest, SavedFileIsReadableByItsOwnerOnly) {
  ASSERT_TRUE(WriteFile(filePath, "old"));
  ASSERT_EQ(::chmod(QFile::encodeName(filePath).constData(), 0644), 0);
  Enqueue(queue, grid, SampleJob(1));
  ASSERT_TRUE(QueueFile::Save(filePath, queue));
  struct stat info {};
  ASSERT_EQ(::stat(QFile::encodeName(filePath).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_TRUE(Leftovers(folder).isEmpty());
}

TEST_F(QueueFileTest, AFailedSaveLeavesThePreviousFileAsItWas) {
  const QByteArray previous = "<?xml version=\"1.0\"?><clipferry><queue></queue></clipferry>";
  ASSERT_TRUE(WriteFile(filePath, previous));
  for (int n = 1; n <= 40; ++n) Enqueue(queue, grid, SampleJob(n));

  // The disk fills up in the middle of the write.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved1 = QueueFile::Save(filePath, queue);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved1);
  EXPECT_EQ(ReadFile(filePath), previous);
  EXPECT_TRUE(Leftovers(folder).isEmpty());

  // The folder the file should go into is gone.
  EXPECT_FALSE(QueueFile::Save(QueueFile::PathIn(folder.filePath("gone")), queue));

  // Something that is not a file stands in the way.
  const QString blocked = folder.filePath("blocked.xml");
  ASSERT_TRUE(QDir(folder.path()).mkpath("blocked.xml/inside"));
  EXPECT_FALSE(QueueFile::Save(blocked, queue));
  EXPECT_TRUE(QFileInfo(blocked + "/inside").isDir());
  EXPECT_EQ(ReadFile(filePath), previous);
  EXPECT_TRUE(Leftovers(folder).isEmpty());
}

// The queue file keeps a failed job's state and text, read by the by-job reader and by the
// whole-document one alike; any other state, whatever the file says, comes back "Waiting".
TEST_F(QueueFileTest, FailedJobsKeepTheirStateAndTextAcrossARestart) {
  const struct {
    JobState state;
    const char* text;
    const char* loadedState;
    const char* loadedText;
  } cases[] = {
      {JobState::Failed, "Quota <exceeded> & \"full\"\r\n第二行", "Failed",
       "Quota <exceeded> & \"full\"\r\n第二行"},
      {JobState::Failed, "", "Failed", ""},
      {JobState::Transfering, "", "Waiting", ""},
      {JobState::Canceled, "", "Waiting", ""},
      {JobState::Waiting, "", "Waiting", ""},
  };
  for (int n = 1; n <= static_cast<int>(std::size(cases)); ++n) {
    Enqueue(queue, grid, SampleJob(n));
    const auto& c = cases[n - 1];
    if (c.state == JobState::Failed) {
      queue.SetFailure(SampleJob(n).path, QString::fromUtf8(c.text));
    } else {
      queue.SetState(SampleJob(n).path, c.state);
    }
  }
  const QByteArray saved = QueueFile::Serialize(queue);
  EXPECT_EQ(saved.count("<liveState>"), 2);
  // The same document as another writer may lay it out, which the whole-document reader takes.
  QByteArray relaid = saved;
  relaid.replace("<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  for (const QByteArray& document : {saved, relaid}) {
    UploadQueue loaded;
    QueueGridModel loadedGrid(loaded);
    ASSERT_TRUE(QueueFile::Parse(document, loaded));
    ASSERT_EQ(loaded.RowCount(), static_cast<int>(std::size(cases)));
    for (int n = 1; n <= loaded.RowCount(); ++n) {
      SCOPED_TRACE(n);
      ExpectSameJob(*loaded.AtRow(n), SampleJob(n));
      EXPECT_EQ(cf::testing::StateAt(loadedGrid, n), cases[n - 1].loadedState);
      EXPECT_EQ(loaded.AtRow(n)->errorText, QString::fromUtf8(cases[n - 1].loadedText));
    }
  }
}

TEST_F(QueueFileTest, StateElementsOnlyMarkAFailureAndOlderFilesLoadWaiting) {
  Enqueue(queue, grid, SampleJob(1));
  const QByteArray plain = QueueFile::Serialize(queue);
  const auto withElements = [&](const char* elements) {
    QByteArray text = plain;
    return text.replace("\r\n</file>", QByteArray(elements) + "\r\n</file>");
  };
  const struct {
    QByteArray document;
    const char* state;
    const char* text;
  } cases[] = {
      {plain, "Waiting", ""},
      {withElements("<liveState>Transfering</liveState><errorText>x</errorText>"), "Waiting", ""},
      {withElements("<liveState>Finished</liveState>"), "Waiting", ""},
      {withElements("<errorText>no state</errorText>"), "Waiting", ""},
      {withElements("<liveState>failed</liveState>"), "Waiting", ""},
      {withElements("<errorText>first</errorText><liveState>Failed</liveState>"
                    "<errorText>second</errorText>"),
       "Failed", "first"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document.toStdString());
    UploadQueue loaded;
    QueueGridModel loadedGrid(loaded);
    ASSERT_TRUE(QueueFile::Parse(c.document, loaded));
    ASSERT_EQ(loaded.RowCount(), 1);
    ExpectSameJob(*loaded.AtRow(1), SampleJob(1));
    EXPECT_EQ(cf::testing::StateAt(loadedGrid, 1), c.state);
    EXPECT_EQ(loaded.AtRow(1)->errorText, QString::fromUtf8(c.text));
  }
}

}  // namespace
}  // namespace cf
