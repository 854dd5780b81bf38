#include "DriverFixture.h"
#include "TestProgramFolder.h"
#include "app/queue/QueueRequests.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/SettingsStore.h"
#include "ui_frmUpload.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using cf::kColState;

// The test's own res.xml: distinct texts prove where each caption came from.
const QByteArray kRes = R"(<?xml version="1.0" encoding="UTF-8"?>
<res>
<s name="frmUpload">
<t name="frmUpload">Lecture Uploader</t><t name="frmVersion">2.100603</t>
<t name="frameQueue">Q-frame</t><t name="cmdAdd">Q-add</t><t name="cmdAddKqp">Q-addkqp</t>
<t name="cmdEdit">Q-edit</t><t name="cmdRemove">Q-remove</t><t name="cmdClearAll">Q-clear</t>
<t name="cmdStartUpload">Q-start</t><t name="cmdStopUpload">Q-stop</t><t name="cmdExit">Q-exit</t>
<t name="chkRemQueue">Q-remember</t><t name="chkHighSpeed">Q-fast</t><t name="msgBelowDualCore">(needs more cores)</t>
<t name="gridClassify">H1</t><t name="gridFileName">H2</t><t name="gridTitle">H3</t><t name="gridAuthor">H4</t>
<t name="gridUrl">H5</t><t name="gridFolder">H6</t><t name="gridState">H7</t><t name="gridError">H8</t>
<t name="gridCvtBeginTime">H9</t><t name="gridCvtEndTime">H10</t><t name="gridUploadBeginTime">H11</t>
<t name="gridUploadEndTime">H12</t><t name="gridPath">H13</t>
<t name="msgClearAll_2">Clear the whole queue?</t>
</s>
</res>)";

QByteArray FileElement(const QByteArray& path, const QByteArray& title) {
  return "<file><fileName>a.mp4</fileName><title>" + title +
         "</title><Author>me</Author><state></state><path>" + path +
         "</path><duration>0:01:00</duration><secDuration>60</secDuration><videoWidth>640</"
         "videoWidth>"
         "<videoHeight>360</videoHeight><vBitRate>500k</vBitRate><aBitRate>64k</aBitRate><Url>srv</"
         "Url>"
         "<account>a</account><password>p</password><folderID>3</folderID><contentID>0</contentID>"
         "<folderName>F</folderName><sysVer></sysVer><bEncPassword>False</"
         "bEncPassword><dstCvtType>0</dstCvtType>"
         "<dstResType>0</dstResType><dstPostfix></dstPostfix><srcVideoWidth>640</srcVideoWidth>"
         "<srcVideoHeight>360</srcVideoHeight><customBps>0</customBps><bInterlaced>False</"
         "bInterlaced>"
         "<fileSize>10</fileSize><dateLastModified>2026-01-01T10:00:00</dateLastModified></file>";
}

QByteArray QueueDocument(const QByteArray& files) {
  return "<?xml version=\"1.0\"?><clipferry ver=\"2.120222\"><queue>" + files +
         "</queue></clipferry>";
}

class MainWindow : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.write("res.xml", kRes));
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_.append(request.text);
      return answer_;
    });
  }
  void TearDown() override { SetMessageHandler(previous_); }

  // Opens the window and runs its first start-up tick, as showing it would.
  std::unique_ptr<frmUpload> Open() {
    auto window = std::make_unique<frmUpload>();
    window->RunStartupTick();
    return window;
  }
  bool Close(frmUpload& window) {
    QCloseEvent event;
    QCoreApplication::sendEvent(&window, &event);
    return event.isAccepted();
  }

  TestProgramFolder folder_;
  MessageHandler previous_;
  QStringList messages_;
  MsgAnswer answer_ = MsgAnswer::Yes;
};

TEST_F(MainWindow, ShowsLocalizedCaptionsVersionAndColumnHeaders) {
  auto window = Open();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Lecture Uploader - v.2.100603"));
  EXPECT_EQ(frmUpload::WindowTitle(), window->windowTitle());
  Ui::frmUpload& ui = window->form();
  EXPECT_EQ(ui.frameQueue->title(), QStringLiteral("Q-frame"));
  EXPECT_EQ(ui.cmdStartUpload->text(), QStringLiteral("Q-start"));
  EXPECT_EQ(ui.chkRemQueue->text(), QStringLiteral("Q-remember"));
  ASSERT_EQ(window->grid().columnCount(), 13);
  for (int c = 0; c < 13; ++c) {
    EXPECT_EQ(window->grid().headerData(c, Qt::Horizontal).toString(),
              QStringLiteral("H%1").arg(c + 1));
  }
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(ui.cmdStartUpload->isEnabled());
  EXPECT_FALSE(ui.cmdStopUpload->isEnabled());
  EXPECT_FALSE(ui.cmdEdit->isEnabled());
  EXPECT_FALSE(ui.cmdRemove->isEnabled());
}

TEST_F(MainWindow, TwoProcessorsTurnHighSpeedOffWhateverTheSettingSays) {
  WritePlainSetting("clipFerry", "chkHighSpeed", "1");
  auto window = Open();
  window->ApplyProcessorCheck(2);
  EXPECT_FALSE(window->form().chkHighSpeed->isEnabled());
  EXPECT_FALSE(window->form().chkHighSpeed->isChecked());
  EXPECT_EQ(window->form().chkHighSpeed->text(), QStringLiteral("Q-fast (needs more cores)"));
  window->ApplyProcessorCheck(4);
  EXPECT_TRUE(window->form().chkHighSpeed->isEnabled());
  EXPECT_TRUE(window->form().chkHighSpeed->isChecked());
}

TEST_F(MainWindow, QueuedJobsComeBackWaitingAndAreWrittenBackOnClose) {
  ASSERT_TRUE(
      folder_.write("project.xml", QueueDocument(FileElement("/v/one.mp4", "A &lt; B &amp; C") +
                                                 FileElement("/v/two.mp4", "second"))));
  auto window = Open();
  cf::QueueGridModel& grid = window->grid();
  ASSERT_EQ(grid.rowCount(), 2);
  EXPECT_EQ(grid.text(1, kColState), QStringLiteral("Waiting"));
  EXPECT_EQ(grid.text(1, cf::kColTitle), QStringLiteral("A < B & C"));
  EXPECT_TRUE(window->form().cmdStartUpload->isEnabled());
  EXPECT_TRUE(window->form().chkRemQueue->isChecked());

  cf::testing::SetState(grid.store(), "/v/two.mp4", "Finished");
  ASSERT_TRUE(Close(*window));
  const QByteArray saved = folder_.read("project.xml");
  EXPECT_TRUE(saved.contains("<title>A &lt; B &amp; C</title>"));
  EXPECT_FALSE(saved.contains("two.mp4"));
  EXPECT_EQ(ReadPlainSetting("clipFerry", "chkRemQueue", "?"), QStringLiteral("1"));

  // The next start sees the same job again.
  auto again = Open();
  ASSERT_EQ(again->grid().rowCount(), 1);
  EXPECT_EQ(again->grid().text(1, cf::kColTitle), QStringLiteral("A < B & C"));
}

TEST_F(MainWindow, NothingLeftOrNotRememberedMeansNoQueueFile) {
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(FileElement("/v/one.mp4", "t"))));
  {
    auto window = Open();
    cf::testing::SetState(window->grid().store(), "/v/one.mp4", "Finished");
    ASSERT_TRUE(Close(*window));
    EXPECT_FALSE(QFileInfo::exists(folder_.filePath("project.xml")));
  }
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(FileElement("/v/one.mp4", "t"))));
  auto window = Open();
  window->form().chkRemQueue->setChecked(false);
  ASSERT_TRUE(Close(*window));
  EXPECT_FALSE(QFileInfo::exists(folder_.filePath("project.xml")));
  EXPECT_EQ(ReadPlainSetting("clipFerry", "chkRemQueue", "?"), QStringLiteral("0"));
}

// Another process hands jobs over as a queue document: new ones get a row at once and reach the
// file without waiting for the window to close; a queued path is not taken twice.
TEST_F(MainWindow, HandedJobsGetARowAtOnceAndReachTheFile) {
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(FileElement("/v/one.mp4", "t"))));
  auto window = Open();
  const QByteArray answer = window->AcceptHandedJobs(
      QueueDocument(FileElement("/v/one.mp4", "again") + FileElement("/v/it's $(new).mp4", "n")));
  EXPECT_EQ(answer, QByteArray("queued /v/one.mp4\nadded /v/it's $(new).mp4\n"));
  ASSERT_EQ(window->grid().rowCount(), 2);
  EXPECT_EQ(window->grid().text(1, cf::kColTitle), QStringLiteral("t"));
  EXPECT_EQ(cf::testing::PathAt(window->grid(), 2), QStringLiteral("/v/it's $(new).mp4"));
  EXPECT_TRUE(window->form().cmdStartUpload->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return folder_.read("project.xml").contains("<path>/v/it's $(new).mp4</path>"); },
      1000));
  EXPECT_TRUE(window->AcceptHandedJobs("not a queue").isEmpty());
}

// clipferry-cli remove and clear reach the window's queue; with nothing left waiting, Start is off.
TEST_F(MainWindow, HandedRemoveAndClearEditTheGrid) {
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(FileElement("/v/-a 'b'.mp4", "a") +
                                                         FileElement("/v/c $(d).mp4", "c"))));
  auto window = Open();
  EXPECT_EQ(window->AcceptHandedJobs(cf::RemoveRequest(QStringLiteral("/v/-a 'b'.mp4"))),
            QByteArray("removed /v/-a 'b'.mp4\n"));
  ASSERT_EQ(window->grid().rowCount(), 1);
  EXPECT_TRUE(window->form().cmdStartUpload->isEnabled());
  EXPECT_EQ(window->AcceptHandedJobs(cf::ClearRequest()), QByteArray("removed /v/c $(d).mp4\n"));
  EXPECT_EQ(window->grid().rowCount(), 0);
  EXPECT_FALSE(window->form().cmdStartUpload->isEnabled());
}

// Every change is on disk within a moment, so a crash of the window loses nothing on screen.
TEST_F(MainWindow, RemovingARowRewritesTheFileWithoutClosing) {
  ASSERT_TRUE(folder_.write(
      "project.xml", QueueDocument(FileElement("/v/1.mp4", "1") + FileElement("/v/2.mp4", "2"))));
  auto window = Open();
  window->form().gridQueue->selectRow(0);
  window->form().cmdRemove->click();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !folder_.read("project.xml").contains("/v/1.mp4"); }, 1000));
  EXPECT_TRUE(folder_.read("project.xml").contains("/v/2.mp4"));
}

// A queue file that is not XML is kept aside, and the user is told where, instead of being
// deleted with every job in it.
TEST_F(MainWindow, ADamagedQueueFileIsKeptAsideAndNamed) {
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(FileElement("/v/1.mp4", "1")).left(200)));
  auto window = Open();
  EXPECT_EQ(window->grid().rowCount(), 0);
  ASSERT_EQ(messages_.size(), 1);
  const QStringList aside =
      QDir(folder_.path()).entryList({QStringLiteral("project.xml.bad-*")}, QDir::Files);
  ASSERT_EQ(aside.size(), 1);
  EXPECT_TRUE(messages_[0].contains(aside[0])) << messages_[0].toStdString();
}

// The buttons follow the selected row's state as it changes, not only when the selection does.
TEST_F(MainWindow, EditAndRemoveFollowTheSelectedRowsState) {
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(FileElement("/v/1.mp4", "1"))));
  auto window = Open();
  Ui::frmUpload& ui = window->form();
  ui.gridQueue->selectRow(0);
  const struct {
    const char* state;
    bool edit;
    bool remove;
  } steps[] = {{"Transfering", false, false}, {"Failed", true, true}, {"Finished", false, true}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.state);
    cf::testing::SetState(window->grid().store(), "/v/1.mp4", step.state);
    EXPECT_EQ(ui.cmdEdit->isEnabled(), step.edit);
    EXPECT_EQ(ui.cmdRemove->isEnabled(), step.remove);
  }
}

// A failed job comes back failed with its reason; Retry, offered only for a selected failed row,
// puts it back to waiting and lets Start run it.
TEST_F(MainWindow, FailedRowsComeBackFailedAndRetryPutsThemBack) {
  QByteArray failed = FileElement("/v/1.mp4", "1");
  failed.replace("</file>",
                 "<liveState>Failed</liveState><errorText>Quota full</errorText></file>");
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(failed + FileElement("/v/2.mp4", "2"))));
  auto window = Open();
  Ui::frmUpload& ui = window->form();
  EXPECT_EQ(cf::testing::StateAt(window->grid(), 1), cf::kStateFailed);
  EXPECT_EQ(cf::testing::Cell(window->grid(), "/v/1.mp4", cf::kColError), "Quota full");
  EXPECT_EQ(cf::testing::StateAt(window->grid(), 2), cf::kStateWaiting);
  EXPECT_FALSE(ui.cmdRetry->isEnabled());
  ui.gridQueue->selectRow(1);
  EXPECT_FALSE(ui.cmdRetry->isEnabled());
  ui.gridQueue->selectRow(0);
  ASSERT_TRUE(ui.cmdRetry->isEnabled());
  ui.cmdStartUpload->setEnabled(false);
  QTest::mouseClick(ui.cmdRetry, Qt::LeftButton);
  EXPECT_EQ(cf::testing::StateAt(window->grid(), 1), cf::kStateWaiting);
  EXPECT_TRUE(cf::testing::Cell(window->grid(), "/v/1.mp4", cf::kColError).isEmpty());
  EXPECT_FALSE(ui.cmdRetry->isEnabled());
  EXPECT_TRUE(ui.cmdStartUpload->isEnabled());
  EXPECT_TRUE(Close(*window));
  EXPECT_FALSE(folder_.read("project.xml").contains("<liveState>"));
}

TEST_F(MainWindow, ClosingIsRefusedWhileAJobRuns) {
  ASSERT_TRUE(folder_.write("project.xml", QueueDocument(FileElement("/v/one.mp4", "t"))));
  auto window = Open();
  cf::testing::SetState(window->grid().store(), "/v/one.mp4", "Transfering");
  EXPECT_FALSE(Close(*window));
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_EQ(messages_.first(), QStringLiteral("Please stop uploading first!"));
  cf::testing::SetState(window->grid().store(), "/v/one.mp4", "Waiting");
  EXPECT_TRUE(Close(*window));
}

TEST_F(MainWindow, RemoveAndClearAllWorkOnTheSelection) {
  ASSERT_TRUE(folder_.write(
      "project.xml", QueueDocument(FileElement("/v/1.mp4", "1") + FileElement("/v/2.mp4", "2") +
                                   FileElement("/v/3.mp4", "3"))));
  auto window = Open();
  Ui::frmUpload& ui = window->form();
  cf::testing::SetState(window->grid().store(), "/v/2.mp4", "Transfering");
  ui.gridQueue->selectAll();
  ui.cmdRemove->click();
  // The running row stays, with one refusal.
  ASSERT_EQ(window->grid().rowCount(), 1);
  EXPECT_EQ(cf::testing::PathAt(window->grid(), 1), QStringLiteral("/v/2.mp4"));
  EXPECT_EQ(messages_.size(), 1);
  EXPECT_EQ(window->queue().Count(), 1);
  EXPECT_FALSE(ui.cmdRemove->isEnabled());  // the running row is selected

  cf::testing::SetState(window->grid().store(), "/v/2.mp4", "Failed");
  answer_ = MsgAnswer::No;
  ui.cmdClearAll->click();
  EXPECT_EQ(messages_.last(), QStringLiteral("Clear the whole queue?"));
  EXPECT_EQ(window->grid().rowCount(), 1);
  answer_ = MsgAnswer::Yes;
  ui.cmdClearAll->click();
  EXPECT_EQ(window->grid().rowCount(), 0);
  EXPECT_EQ(window->queue().Count(), 0);
  EXPECT_FALSE(ui.cmdStartUpload->isEnabled());
}

// The window hosts the control and shows the driver's road: Start to "Finished", with closing
// refused while the job runs and every folder of the run gone afterwards.
TEST(MainWindowDriver, StartRunsTheQueueToFinishedThroughTheWindow) {
  LinkedProgramFolder program;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  QTemporaryDir clips;
  const QString clip = clips.filePath(QStringLiteral("window.mp4"));
  ASSERT_TRUE(TestClips::MakeVideo(clip, 2, QStringLiteral("320x240")));
  QStringList messages;
  const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
    messages.append(request.text);
    return MsgAnswer::Ok;
  });

  frmUpload window;
  window.RunStartupTick();
  ASSERT_NE(window.driver(), nullptr);
  const cf::UploadJob job = ClipJob(clip, server.BaseUrl(), 2);
  ASSERT_TRUE(window.queue().Add(job));
  Ui::frmUpload& ui = window.form();
  ui.cmdStartUpload->setEnabled(true);

  bool refused = false;
  QObject context;
  QObject::connect(window.driver(), &cf::JobDriver::statusChanged, &context,
                   [&](const QString& text) {
                     if (refused || !text.startsWith(QStringLiteral("Uploading data to"))) return;
                     QCloseEvent event;
                     QCoreApplication::sendEvent(&window, &event);
                     refused = !event.isAccepted();
                   });
  QSignalSpy running(window.driver(), &cf::JobDriver::runningChanged);
  QTest::mouseClick(ui.cmdStartUpload, Qt::LeftButton);
  while (window.driver()->running()) ASSERT_TRUE(running.wait(60000));

  EXPECT_TRUE(refused);
  EXPECT_EQ(cf::testing::Cell(window.grid(), job.path, kColState), cf::kStateFinished)
      << cf::testing::Cell(window.grid(), job.path, cf::kColError).toStdString();
  EXPECT_EQ(ui.lStatus->text(), GetResString("frmUpload", "msgComplete"));
  EXPECT_EQ(ui.ProgressBar1->value(), 100);
  EXPECT_FALSE(ui.cmdStopUpload->isEnabled());
  EXPECT_TRUE(ui.txtOutput->isHidden());
  EXPECT_TRUE(messages.contains(GetResString("frmUpload", "msgComplete")));

  QCloseEvent event;
  QCoreApplication::sendEvent(&window, &event);
  EXPECT_TRUE(event.isAccepted());
  EXPECT_TRUE(DriverBench::LeftoverFolders(window.queue()).isEmpty());
  // Finished jobs are not kept.
  EXPECT_FALSE(QFile::exists(program.filePath(QStringLiteral("project.xml"))));
  SetMessageHandler(previous);
}

// A failed upload stops the queue; afterwards the buttons follow the queue and the selection: Start
// for the waiting row, no Stop with nothing running, Edit and Remove for the failed row. Closing
// leaves alone a file of the program folder the program did not make.
// Two short clips, "first.mp4" and "second.mp4", queued in the window for the server at `url`;
// fewer when one could not be made or queued.
QList<cf::UploadJob> QueueTwoClips(frmUpload& window, const QTemporaryDir& clips,
                                   const QString& url, int cvtType) {
  QList<cf::UploadJob> jobs;
  for (const char* name : {"first.mp4", "second.mp4"}) {
    const QString clip = clips.filePath(QString::fromLatin1(name));
    if (!TestClips::MakeVideo(clip, 2, QStringLiteral("320x240"))) break;
    const cf::UploadJob job = ClipJob(clip, url, cvtType);
    if (!window.queue().Add(job)) break;
    jobs.append(job);
  }
  return jobs;
}

// "Convert the next video while uploading" is on unless turned off, and remembered; while the
// first job uploads, the second one's row says what it does, and says its state again after.
TEST(MainWindowDriver, TheNextJobsRowShowsItsConversionBesideTheUpload) {
  LinkedProgramFolder program;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  ASSERT_TRUE(server.ArmFault(QStringLiteral("path=/mavo/putFile,delay=1500,always")));
  QTemporaryDir clips;
  const MessageHandler previous =
      SetMessageHandler([](const MessageRequest&) { return MsgAnswer::Ok; });
  frmUpload window;
  window.RunStartupTick();
  ASSERT_NE(window.driver(), nullptr);
  Ui::frmUpload& ui = window.form();
  EXPECT_TRUE(ui.chkOverlap->isChecked());
  const QList<cf::UploadJob> jobs = QueueTwoClips(window, clips, server.BaseUrl(), 0);
  ASSERT_EQ(jobs.size(), 2);
  cf::QueueGridModel& grid = window.grid();
  const auto shownState = [&grid] { return grid.index(1, kColState - 1).data().toString(); };
  QStringList shown;
  QObject::connect(&grid, &QAbstractItemModel::dataChanged, [&] {
    if (!shown.contains(shownState())) shown << shownState();
  });
  ui.cmdStartUpload->setEnabled(true);

  QSignalSpy running(window.driver(), &cf::JobDriver::runningChanged);
  QTest::mouseClick(ui.cmdStartUpload, Qt::LeftButton);
  while (window.driver()->running()) ASSERT_TRUE(running.wait(60000));

  for (const cf::UploadJob& job : jobs) {
    EXPECT_EQ(cf::testing::Cell(window.grid(), job.path, kColState), cf::kStateFinished);
  }
  const QRegularExpression converting(QStringLiteral("^Converting \\d+%$"));
  EXPECT_FALSE(shown.filter(converting).isEmpty())
      << shown.join(QStringLiteral(", ")).toStdString();
  EXPECT_EQ(shownState(), QStringLiteral("Finished"));

  ui.chkOverlap->setChecked(false);
  EXPECT_EQ(ReadPlainSetting("clipFerry", "chkOverlap", "?"), QStringLiteral("0"));
  SetMessageHandler(previous);
}

TEST(MainWindowDriver, AfterAFailedUploadTheButtonsFollowTheQueue) {
  LinkedProgramFolder program;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  ASSERT_TRUE(
      server.Seed(QStringLiteral("<kqserver><account name=\"demo\"><reply route=\"putFile\" "
                                 "errInfo=\"1407\"/></account></kqserver>")));
  QTemporaryDir clips;
  const MessageHandler previous =
      SetMessageHandler([](const MessageRequest&) { return MsgAnswer::Ok; });
  frmUpload window;
  window.RunStartupTick();
  ASSERT_NE(window.driver(), nullptr);
  const QList<cf::UploadJob> jobs = QueueTwoClips(window, clips, server.BaseUrl(), 1);
  ASSERT_EQ(jobs.size(), 2);
  Ui::frmUpload& ui = window.form();
  ui.cmdStartUpload->setEnabled(true);
  ui.gridQueue->selectRow(0);

  QSignalSpy running(window.driver(), &cf::JobDriver::runningChanged);
  QTest::mouseClick(ui.cmdStartUpload, Qt::LeftButton);
  while (window.driver()->running()) ASSERT_TRUE(running.wait(60000));

  ASSERT_EQ(cf::testing::Cell(window.grid(), jobs[0].path, kColState), cf::kStateFailed);
  EXPECT_EQ(cf::testing::Cell(window.grid(), jobs[1].path, kColState), cf::kStateWaiting);
  EXPECT_TRUE(ui.cmdStartUpload->isEnabled());
  EXPECT_FALSE(ui.cmdStopUpload->isEnabled());
  EXPECT_TRUE(ui.cmdExit->isEnabled());
  EXPECT_TRUE(ui.cmdRemove->isEnabled());
  EXPECT_TRUE(ui.cmdEdit->isEnabled());
  EXPECT_TRUE(ui.lConvertInfo->isVisibleTo(&window));
  EXPECT_EQ(ui.lConvertInfo->text(), QStringLiteral("0 uploaded, 1 failed, 0 stopped"));
  EXPECT_TRUE(ui.cmdRetry->isEnabled());

  const QString stranger = program.filePath(QStringLiteral("tmpTest.bmp"));
  QFile file(stranger);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  QCloseEvent event;
  QCoreApplication::sendEvent(&window, &event);
  EXPECT_TRUE(event.isAccepted());
  EXPECT_TRUE(QFile::exists(stranger));
  SetMessageHandler(previous);
}

}  // namespace

namespace {

TEST_F(MainWindow, AddKqpOpensTheBatchDialog) {
  auto window = Open();
  Ui::frmUpload& ui = window->form();
  ASSERT_TRUE(ui.cmdAddKqp->isEnabled());
  QString opened;
  QTimer closer;
  closer.setInterval(10);
  QObject::connect(&closer, &QTimer::timeout, [&opened, &closer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    opened = modal->objectName();
    closer.stop();
    QMetaObject::invokeMethod(modal, "reject");
  });
  closer.start();
  ui.cmdAddKqp->click();
  EXPECT_EQ(opened, QStringLiteral("frmAddBatch"));
  EXPECT_EQ(window->grid().rowCount(), 0);
}

}  // namespace

namespace {

// The Pause button is offered only while the archive is being sent; pressing it puts the row
// back to waiting and leaves the server's session for the next start.
TEST(MainWindowDriver, PauseIsOfferedWhileSendingAndKeepsTheSession) {
  LinkedProgramFolder program;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  ASSERT_TRUE(server.ArmFault(QStringLiteral("path=/mavo/putFile,delay=300,always")));
  QTemporaryDir clips;
  const QString clip = clips.filePath(QStringLiteral("pause me.mp4"));
  // Noise at a fixed bitrate: several blocks to send.
  ASSERT_TRUE(TestClips::MakeNoiseVideo(clip, QStringLiteral("6M")));
  const MessageHandler previous =
      SetMessageHandler([](const MessageRequest&) { return MsgAnswer::Ok; });
  frmUpload window;
  window.RunStartupTick();
  ASSERT_NE(window.driver(), nullptr);
  const cf::UploadJob job = ClipJob(clip, server.BaseUrl(), 1);
  ASSERT_TRUE(window.queue().Add(job));
  Ui::frmUpload& ui = window.form();
  ui.cmdStartUpload->setEnabled(true);
  EXPECT_FALSE(ui.cmdPauseUpload->isEnabled());

  bool enabledBeforeSending = false;
  bool clicked = false;
  QObject context;
  QObject::connect(window.driver(), &cf::JobDriver::phaseChanged, &context,
                   [&](const QString&, cf::JobRun::Phase phase) {
                     if (phase != cf::JobRun::Phase::Uploading && ui.cmdPauseUpload->isEnabled())
                       enabledBeforeSending = true;
                   });
  QObject::connect(window.driver(), &cf::JobDriver::progress, &context,
                   [&](const QString&, cf::JobRun::Phase phase, qint64, qint64, qint64 bytes) {
                     if (clicked || phase != cf::JobRun::Phase::Uploading || bytes < 524288) return;
                     ASSERT_TRUE(ui.cmdPauseUpload->isEnabled());
                     clicked = true;
                     QTest::mouseClick(ui.cmdPauseUpload, Qt::LeftButton);
                   });
  QSignalSpy running(window.driver(), &cf::JobDriver::runningChanged);
  QTest::mouseClick(ui.cmdStartUpload, Qt::LeftButton);
  while (window.driver()->running()) ASSERT_TRUE(running.wait(60000));

  ASSERT_TRUE(clicked);
  EXPECT_FALSE(enabledBeforeSending);
  EXPECT_EQ(cf::testing::Cell(window.grid(), job.path, kColState), cf::kStateWaiting);
  EXPECT_FALSE(ui.cmdPauseUpload->isEnabled());
  EXPECT_TRUE(ui.cmdStartUpload->isEnabled());
  EXPECT_EQ(server.AdminGet(QStringLiteral("/admin/sessions")).count("<session "), 1);
  SetMessageHandler(previous);
}

// Pause at about 60 % of a 64 MiB archive, then Start: the upload goes on at the next block of
// the same session, and the server stores the very archive.
TEST(MainWindowDriver, PauseThenStartContinuesTheUploadAtTheNextBlock) {
  constexpr qint64 kSize = 64 * 1024 * 1024;
  LinkedProgramFolder program;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  ASSERT_TRUE(server.ArmFault(QStringLiteral("path=/mavo/putFile,delay=40,always")));
  QTemporaryDir clips;
  const QString clip = clips.filePath(QStringLiteral("paused 'lecture' \u00e9.mp4"));
  ASSERT_TRUE(TestClips::WriteNoise(clip, kSize, 11));
  const MessageHandler previous =
      SetMessageHandler([](const MessageRequest&) { return MsgAnswer::Ok; });
  frmUpload window;
  window.RunStartupTick();
  ASSERT_NE(window.driver(), nullptr);
  const cf::UploadJob job = ClipJob(clip, server.BaseUrl(), 1);
  ASSERT_TRUE(window.queue().Add(job));
  Ui::frmUpload& ui = window.form();
  ui.cmdStartUpload->setEnabled(true);

  bool clicked = false;
  QObject context;
  QObject::connect(window.driver(), &cf::JobDriver::progress, &context,
                   [&](const QString&, cf::JobRun::Phase phase, qint64 percent, qint64, qint64) {
                     if (clicked || phase != cf::JobRun::Phase::Uploading || percent < 60) return;
                     clicked = true;
                     QTest::mouseClick(ui.cmdPauseUpload, Qt::LeftButton);
                   });
  QSignalSpy running(window.driver(), &cf::JobDriver::runningChanged);
  QTest::mouseClick(ui.cmdStartUpload, Qt::LeftButton);
  while (window.driver()->running()) ASSERT_TRUE(running.wait(120000));
  ASSERT_TRUE(clicked);
  ASSERT_EQ(cf::testing::Cell(window.grid(), job.path, kColState), cf::kStateWaiting);
  const QByteArray packed = KeptArchiveSha256();
  ASSERT_FALSE(packed.isEmpty());
  const qint64 beforeStart = server.BodyBytesReceived(QStringLiteral("/mavo/putFile"));
  EXPECT_GT(beforeStart, kSize / 2);

  ASSERT_TRUE(server.ClearFaults());
  QTest::mouseClick(ui.cmdStartUpload, Qt::LeftButton);
  while (window.driver()->running()) ASSERT_TRUE(running.wait(120000));
  EXPECT_EQ(cf::testing::Cell(window.grid(), job.path, kColState), cf::kStateFinished);
  EXPECT_EQ(server.LastStoredSha256(), packed);
  EXPECT_LT(server.BodyBytesReceived(QStringLiteral("/mavo/putFile")), kSize * 11 / 10);
  SetMessageHandler(previous);
}

}  // namespace
