// Files dropped on the main window, as a file manager would drop them.

#include "TestProgramFolder.h"
#include "app/dialogs/DialogShared.h"
#include "app/dialogs/frmAdd.h"
#include "app/dialogs/frmAddBatch.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "ui_frmAdd.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

struct Opened {
  QString dialog;  // class of the window that opened
  QString text;    // its file box, or the batch window's location
  int rows = 0;    // rows the batch search listed
};

class DropOnWindow : public testing::Test {
 protected:
  void SetUp() override {
    DialogShared::Instance().Reset();
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_ << request.text;
      return MsgAnswer::Ok;
    });
    window_ = std::make_unique<frmUpload>();
    window_->RunStartupTick();
  }
  void TearDown() override {
    window_.reset();
    SetMessageHandler(previous_);
    DialogShared::Instance().Reset();
  }

  QString File(const QString& name) {
    const QString path = files_.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not really a video");
    return path;
  }

  // Drops `paths` on the window and reads what the dialog it opens shows, then cancels it.
  Opened Drop(const QStringList& paths) {
    Opened opened;
    QTimer reader;
    reader.setInterval(20);
    int waited = 0;
    QObject::connect(&reader, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) return;
      QString text;
      int rows = 0;
      if (auto* add = qobject_cast<frmAdd*>(modal)) text = add->form().txtFile->text();
      if (auto* batch = qobject_cast<frmAddBatch*>(modal)) {
        rows = batch->gridQueue()->rowCount();
        if (!batch->searching()) text = batch->txtLocation()->text();
        if (rows == 0) text.clear();
      }
      // The dialog takes what was dropped once it shows; give it a moment.
      if (text.isEmpty() && ++waited < 100) return;
      opened = {QString::fromLatin1(modal->metaObject()->className()), text, rows};
      reader.stop();
      QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    });
    reader.start();
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_.get(), &drop);
    EXPECT_TRUE(DialogShared::Instance().droppedPaths.isEmpty());
    return opened;
  }

  TestProgramFolder folder_;
  QTemporaryDir files_;
  MessageHandler previous_;
  QStringList messages_;
  std::unique_ptr<frmUpload> window_;
};

TEST_F(DropOnWindow, OneVideoOrProjectOpensAddWithItChosen) {
  File(QStringLiteral("lecture/media.kq"));
  for (const QString& name :
       {QStringLiteral("-a 'b' $(x) \"c\" ünï.MP4"), QStringLiteral("lecture/project.kqp")}) {
    const QString path = File(name);
    const Opened opened = Drop({path});
    EXPECT_EQ(opened.dialog, QStringLiteral("frmAdd"));
    EXPECT_EQ(opened.text, path);
  }
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(window_->grid().rowCount(), 0);
}

TEST_F(DropOnWindow, SeveralFilesOrAFolderOpenTheBatchWindowSearchingThem) {
  const QString one = File(QStringLiteral("one.mp4"));
  const QString two = File(QStringLiteral("two $(x).avi"));
  File(QStringLiteral("course/week 1/three.mkv"));
  File(QStringLiteral("course/notes.txt"));

  Opened opened = Drop({one, two});
  EXPECT_EQ(opened.dialog, QStringLiteral("frmAddBatch"));
  EXPECT_EQ(opened.rows, 2);
  EXPECT_TRUE(opened.text.contains(two));

  opened = Drop({files_.filePath(QStringLiteral("course"))});
  EXPECT_EQ(opened.dialog, QStringLiteral("frmAddBatch"));
  EXPECT_EQ(opened.rows, 1);
  EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(DropOnWindow, OtherFilesAreRefusedByName) {
  const QString notes = File(QStringLiteral("notes.txt"));
  const QString video = File(QStringLiteral("talk.mp4"));
  // Only the refused file: nothing opens.
  Opened opened = Drop({notes});
  EXPECT_TRUE(opened.dialog.isEmpty());
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_.first().contains(QStringLiteral("notes.txt")));
  // With a video beside it, the video still reaches Add.
  opened = Drop({notes, video});
  EXPECT_EQ(opened.dialog, QStringLiteral("frmAdd"));
  EXPECT_EQ(opened.text, video);
  EXPECT_EQ(messages_.size(), 2);
}

}  // namespace
