// The main window's keyboard offscreen, with the real message boxes of the program.

#include "TestProgramFolder.h"
#include "app/dialogs/DialogShared.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageBoxHandler.h"
#include "app/services/MessageService.h"
#include "tests/app/queue/QueueTestJobs.h"
#include "ui_frmUpload.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

namespace {

QByteArray Job(const QByteArray& path) {
  return "<file><fileName>a.mp4</fileName><title>t</title><Author>me</Author><state></state>"
         "<path>" +
         path +
         "</path><duration>0:01:00</duration><secDuration>60</secDuration>"
         "<videoWidth>640</videoWidth><videoHeight>360</videoHeight><vBitRate>500k</vBitRate>"
         "<aBitRate>64k</aBitRate><Url>srv</Url><account>a</account><password>p</password>"
         "<folderID>3</folderID><contentID>0</contentID><folderName>F</folderName><sysVer></sysVer>"
         "<bEncPassword>False</bEncPassword><dstCvtType>0</dstCvtType><dstResType>0</dstResType>"
         "<dstPostfix></dstPostfix><srcVideoWidth>640</srcVideoWidth>"
         "<srcVideoHeight>360</srcVideoHeight><customBps>0</customBps>"
         "<bInterlaced>False</bInterlaced><fileSize>10</fileSize>"
         "<dateLastModified>2026-01-01T10:00:00</dateLastModified></file>";
}

// Answers every modal window that opens with `answer` (a key pressed in it) and records its
// title; the key goes to the control that has the focus, as a user's would.
class ModalAnswerer {
 public:
  explicit ModalAnswerer(Qt::Key key) : key_(key) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal == last_) return;
      last_ = modal;
      seen_ << modal->metaObject()->className();
      QWidget* target = modal->focusWidget() != nullptr ? modal->focusWidget() : modal;
      // Only the press: the release lands wherever the focus went once the window closed.
      QTest::keyPress(target, key_);
    });
    timer_.start();
  }
  const QStringList& seen() const { return seen_; }

 private:
  Qt::Key key_;
  QTimer timer_;
  QWidget* last_ = nullptr;
  QStringList seen_;
};

class MainWindowKeys : public testing::Test {
 protected:
  void SetUp() override {
    DialogShared::Instance().Reset();
    previous_ = SetMessageHandler({});
    InstallMessageBoxHandler();
  }
  void TearDown() override {
    SetMessageHandler(previous_);
    DialogShared::Instance().Reset();
  }

  std::unique_ptr<frmUpload> Open(const QByteArray& jobs) {
    EXPECT_TRUE(
        folder_.write("project.xml", "<?xml version=\"1.0\"?><clipferry ver=\"2.120222\"><queue>" +
                                         jobs + "</queue></clipferry>"));
    auto window = std::make_unique<frmUpload>();
    window->RunStartupTick();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }

  TestProgramFolder folder_;
  MessageHandler previous_;
};

TEST_F(MainWindowKeys, EscapeOnTheWindowClosesItUnlessAJobRuns) {
  auto window = Open(Job("/v/1.mp4"));
  cf::testing::SetState(window->grid().store(), "/v/1.mp4", "Transfering");
  {
    // The refusal box is closed with Escape; its release must not ask again, and again.
    ModalAnswerer answerer(Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyRelease(window.get(), Qt::Key_Escape);
    QTest::qWait(100);
    EXPECT_EQ(answerer.seen(), QStringList{QStringLiteral("QMessageBox")});
    EXPECT_TRUE(window->isVisible());
  }
  cf::testing::SetState(window->grid().store(), "/v/1.mp4", "Waiting");
  // A release whose press went elsewhere does nothing; a whole Escape on the window closes it.
  QTest::keyRelease(window.get(), Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_FALSE(window->isVisible());
}

// Escape pressed in a window opened from the main window closes that window only.
TEST_F(MainWindowKeys, EscapeInADialogOrMessageBoxClosesOnlyThat) {
  const struct {
    const char* name;
    std::function<void(Ui::frmUpload&)> open;
    const char* opened;
  } cases[] = {
      {"add", [](Ui::frmUpload& ui) { ui.cmdAdd->click(); }, "frmAdd"},
      {"batch", [](Ui::frmUpload& ui) { ui.cmdAddKqp->click(); }, "frmAddBatch"},
      {"clear all", [](Ui::frmUpload& ui) { ui.cmdClearAll->click(); }, "QMessageBox"},
      {"delete",
       [](Ui::frmUpload& ui) {
         ui.gridQueue->selectRow(0);
         QTest::keyClick(ui.gridQueue, Qt::Key_Delete);
       },
       "QMessageBox"},
      {"finished", [](Ui::frmUpload&) { ShowMessage(QStringLiteral("Finished!")); }, "QMessageBox"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = Open(Job("/v/1.mp4") + Job("/v/2.mp4"));
    window->activateWindow();
    ModalAnswerer answerer(Qt::Key_Escape);
    c.open(window->form());
    QTest::keyRelease(window.get(), Qt::Key_Escape);
    QTest::qWait(50);
    EXPECT_EQ(answerer.seen(), QStringList{QString::fromLatin1(c.opened)});
    EXPECT_TRUE(window->isVisible());
    // Escape answered every question with the answer that changes nothing.
    EXPECT_EQ(window->grid().rowCount(), 2);
  }
}

TEST_F(MainWindowKeys, DeleteRemovesTheSelectedRowsOnlyAfterYes) {
  auto window = Open(Job("/v/1.mp4") + Job("/v/2.mp4") + Job("/v/3.mp4"));
  Ui::frmUpload& ui = window->form();
  ui.gridQueue->setFocus();
  ui.gridQueue->selectRow(1);
  {
    // Enter on the question takes its default, No.
    ModalAnswerer answerer(Qt::Key_Return);
    QTest::keyClick(ui.gridQueue, Qt::Key_Delete);
    EXPECT_EQ(answerer.seen().size(), 1);
  }
  EXPECT_EQ(window->grid().rowCount(), 3);
  {
    ModalAnswerer answerer(Qt::Key_Y);
    QTest::keyClick(ui.gridQueue, Qt::Key_Delete);
  }
  ASSERT_EQ(window->grid().rowCount(), 2);
  EXPECT_EQ(cf::testing::PathAt(window->grid(), 1), QStringLiteral("/v/1.mp4"));
  EXPECT_EQ(cf::testing::PathAt(window->grid(), 2), QStringLiteral("/v/3.mp4"));

  // A running row cannot be removed; Delete then asks nothing, as Remove is disabled.
  cf::testing::SetState(window->grid().store(), "/v/1.mp4", "Transfering");
  ui.gridQueue->selectRow(0);
  ModalAnswerer answerer(Qt::Key_Y);
  QTest::keyClick(ui.gridQueue, Qt::Key_Delete);
  QTest::qWait(50);
  EXPECT_TRUE(answerer.seen().isEmpty());
  EXPECT_EQ(window->grid().rowCount(), 2);
}

}  // namespace
