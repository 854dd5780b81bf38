// The batch dialog offscreen against the reference server, on folder trees made at test time with
// clips from the real ffmpeg.

#include "DialogTestSupport.h"
#include "app/dialogs/ServerFolderPicker.h"
#include "app/dialogs/frmAddBatch.h"
#include "app/dialogs/frmConfirm.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/services/modLanguage.h"
#include "tests/app/media/TestClips.h"
#include "tests/app/project/TestProjects.h"
#include "tests/app/queue/QueueTestJobs.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString BatchText(const char* key) {
  return GetResString(QStringLiteral("frmAddBatch"), QLatin1String(key));
}

class BatchDialog : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(tree_.isValid());
  }

  QString Path(const QString& relative) const { return tree_.filePath(relative); }

  QString Clip(const QString& relative, const QString& size = QStringLiteral("160x120")) {
    const QString path = Path(relative);
    EXPECT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    EXPECT_TRUE(TestClips::MakeVideo(path, 1, size, true)) << path.toStdString();
    return path;
  }

  QString Write(const QString& relative, const QByteArray& bytes) {
    const QString path = Path(relative);
    EXPECT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    return path;
  }

  std::unique_ptr<frmAddBatch> Open(bool logIn = true) {
    auto dialog = std::make_unique<frmAddBatch>(queue_);
    // What the main window does with the jobs the dialog hands back.
    frmAddBatch* raw = dialog.get();
    QObject::connect(raw, &QDialog::finished, [this, raw](int result) {
      if (result != QDialog::Accepted) return;
      commands_.commitBatch(raw->jobs());
      if (!grid_.store().AnyInState(cf::JobState::Transfering)) startUpload_.setEnabled(true);
    });
    dialog->show();
    dialog->RunInitTick();
    if (logIn) {
      dialog->txtServerIP()->setText(ServerUrl());
      dialog->txtAccount()->setText(QStringLiteral("demo"));
      dialog->txtPassword()->setText(QStringLiteral("demo"));
      dialog->cmdLogIn()->click();
      EXPECT_TRUE(QTest::qWaitFor([] { return DialogShared::Instance().DialogBusy == 0; }, 30000));
      EXPECT_TRUE(dialog->picker().loginState());
    }
    return dialog;
  }

  static QStringList Column(const frmAddBatch& dialog, int column) {
    QStringList cells;
    for (int row = 0; row < dialog.gridQueue()->rowCount(); ++row) {
      cells << dialog.gridQueue()->item(row, column)->text();
    }
    return cells;
  }

  // Runs OK on every listed row, answering the duplicate questions in turn.
  void QueueAll(frmAddBatch& dialog, const std::vector<frmConfirm::Answer>& answers = {}) {
    size_t asked = 0;
    dialog.setConfirmHook([&](frmConfirm& confirm) {
      if (asked >= answers.size()) {
        ADD_FAILURE() << "an unexpected question";
        confirm.button(frmConfirm::kNo)->click();
        return;
      }
      confirm.button(answers[asked++])->click();
    });
    dialog.gridQueue()->selectAll();
    dialog.cmdOK()->click();
    EXPECT_EQ(asked, answers.size());
  }

  QTemporaryDir tree_;
  cf::UploadQueue queue_;
  cf::QueueGridModel grid_{queue_};
  cf::QueueCommands commands_{queue_};
  QPushButton startUpload_;
};

TEST_F(BatchDialog, ListsOnlyWhatCanBeQueued) {
  const QString video = Clip(QStringLiteral("term/week1.mp4"));
  Clip(QStringLiteral("term/$RECYCLE.BIN/old.mp4"));
  Clip(QStringLiteral("term/sub/$draft.mp4"));
  const QString broken = Write(QStringLiteral("term/sub/broken.avi"), "not a video at all");
  Write(QStringLiteral("term/notes.txt"), "text");
  TestProject project;
  project.items = {IndexEntry(QStringLiteral("Intro"), QStringLiteral("0"), {},
                              QStringLiteral("2011/02/03 09:00:00"))};
  const QString good = TestProjects::WriteProject(Path(QStringLiteral("term/p1")), project);
  Write(QStringLiteral("term/p1/media.kq"), "store");
  TestProjects::WriteProject(Path(QStringLiteral("term/p2")), project);  // no media.kq
  TestProject empty = project;
  empty.duration = QStringLiteral("0");
  TestProjects::WriteProject(Path(QStringLiteral("term/p3")), empty);
  Write(QStringLiteral("term/p3/media.kq"), "store");
  TestProject newer = project;
  newer.version = QStringLiteral("7.0");  // the server takes projects up to version 6
  TestProjects::WriteProject(Path(QStringLiteral("term/p4")), newer);
  Write(QStringLiteral("term/p4/media.kq"), "store");
  Write(QStringLiteral("term/p5/Project.kqp"), TestProjects::ProjectXml(project));
  Write(QStringLiteral("term/p5/media.kq"), "store");

  startUpload_.setEnabled(false);
  auto dialog = Open();
  dialog->ChooseLocation(Path(QStringLiteral("term")));
  EXPECT_EQ(Column(*dialog, frmAddBatch::kColPath), (QStringList{video, good, broken}));
  EXPECT_EQ(Column(*dialog, frmAddBatch::kColKind),
            (QStringList{QStringLiteral("Video"), QStringLiteral("Quillbox"),
                         QStringLiteral("*Unsupported")}));
  EXPECT_EQ(Column(*dialog, frmAddBatch::kColTitle),
            (QStringList{QStringLiteral("week1"), QStringLiteral("Fractions"),
                         QStringLiteral("broken")}));
  EXPECT_EQ(Column(*dialog, frmAddBatch::kColAuthor),
            (QStringList{QString(), QStringLiteral("Ms. Lee"), QString()}));
  EXPECT_EQ(dialog->gridQueue()->item(1, frmAddBatch::kColRecDate)->text(),
            QStringLiteral("2011/02/03 09:00:00"));
  for (int column = 0; column < frmAddBatch::kColumnCount; ++column) {
    EXPECT_EQ(dialog->gridQueue()->item(2, column)->foreground().color(), QColor(255, 0, 0));
    EXPECT_NE(dialog->gridQueue()->item(0, column)->foreground().color(), QColor(255, 0, 0));
  }
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(QLatin1Char('|')).toStdString();
  EXPECT_TRUE(dialog->cmdOK()->isEnabled());
  EXPECT_FALSE(dialog->progressBarSearch()->isVisible());

  QueueAll(*dialog);
  ASSERT_EQ(queue_.Count(), 2);
  EXPECT_EQ(grid_.rowCount(), 2);
  const cf::UploadJob* clip = queue_.item(video);
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->dstCvtType, 0);
  EXPECT_EQ(clip->customBps, 0);
  EXPECT_EQ(clip->folderName, QStringLiteral("Physics 101"));
  const cf::UploadJob* recorded = queue_.item(good);
  ASSERT_NE(recorded, nullptr);
  EXPECT_EQ(recorded->title, QStringLiteral("Fractions"));
  EXPECT_EQ(recorded->secDuration, 60);
  EXPECT_EQ(recorded->videoWidth, 0);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(startUpload_.isEnabled());
}

TEST_F(BatchDialog, LowersTheResolutionToWhatTheSourceAllows) {
  struct Case {
    const char* size;
    bool high;
    int32_t resolution;
    int32_t width;
  };
  const Case cases[] = {
      {"1920x1080", true, 1, 1024},
      {"800x600", true, 0, 800},
      {"640x480", true, 2, 640},
      {"480x360", false, 0, 480},
  };
  for (const Case& c : cases) {
    const QString size = QString::fromLatin1(c.size);
    const QString folder = QStringLiteral("res-") + size;
    const QString path = Clip(folder + QStringLiteral("/clip.mp4"), size);
    auto dialog = Open();
    (c.high ? dialog->optHiRes() : dialog->optStdRes())->setChecked(true);
    dialog->ChooseLocation(Path(folder));
    QueueAll(*dialog);
    const cf::UploadJob* job = queue_.item(path);
    ASSERT_NE(job, nullptr) << c.size;
    EXPECT_EQ(job->dstResType, c.resolution) << c.size;
    EXPECT_EQ(job->videoWidth, c.width) << c.size;
  }
}

TEST_F(BatchDialog, DuplicatesAreConfirmedOneByOneOrAllAtOnce) {
  QStringList paths;
  for (const char* name : {"a.mp4", "b.mp4", "c.mp4", "d.mp4"}) {
    paths << Clip(QStringLiteral("dup/") + QLatin1String(name));
  }
  {
    auto dialog = Open();
    dialog->ChooseLocation(Path(QStringLiteral("dup")));
    QueueAll(*dialog);
  }
  ASSERT_EQ(queue_.Count(), 4);
  const auto markOld = [this, &paths] {
    for (const QString& path : paths) queue_.item(path)->title = QStringLiteral("old");
  };
  const auto titles = [this, &paths] {
    QStringList list;
    for (const QString& path : paths) list << queue_.item(path)->title;
    return list;
  };

  markOld();
  {
    auto dialog = Open();
    dialog->ChooseLocation(Path(QStringLiteral("dup")));
    QueueAll(*dialog, {frmConfirm::kYes, frmConfirm::kNo, frmConfirm::kAllNo});
  }
  EXPECT_EQ(titles(), (QStringList{QStringLiteral("a"), QStringLiteral("old"),
                                   QStringLiteral("old"), QStringLiteral("old")}));
  EXPECT_EQ(queue_.Count(), 4);
  EXPECT_EQ(grid_.rowCount(), 4);
  EXPECT_EQ(cf::testing::Cell(grid_, paths[0], cf::kColTitle), QStringLiteral("a"));

  markOld();
  {
    auto dialog = Open();
    dialog->ChooseLocation(Path(QStringLiteral("dup")));
    QueueAll(*dialog, {frmConfirm::kNo, frmConfirm::kAllYes});
  }
  EXPECT_EQ(titles(), (QStringList{QStringLiteral("old"), QStringLiteral("b"), QStringLiteral("c"),
                                   QStringLiteral("d")}));
  EXPECT_EQ(queue_.Count(), 4);
  EXPECT_EQ(grid_.rowCount(), 4);
}

TEST_F(BatchDialog, StoppingASearchKeepsTheRowsFoundAndCannotBeClosedMeanwhile) {
  for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) {
    Clip(QStringLiteral("stop/") + QLatin1String(name));
  }
  auto dialog = Open();
  bool visibleWhileSearching = false;
  dialog->setRowAddedHook([&](int rows) {
    if (rows != 1) return;
    visibleWhileSearching = dialog->cmdStopSearch()->isVisible() && !dialog->cmdOK()->isEnabled() &&
                            !dialog->cmdCancel()->isEnabled();
    dialog->reject();
    dialog->cmdStopSearch()->click();
  });
  dialog->ChooseLocation(Path(QStringLiteral("stop")));
  EXPECT_TRUE(visibleWhileSearching);
  EXPECT_EQ(messages_, QStringList{BatchText("msg_searchSopWarning")});
  EXPECT_EQ(titles_, QStringList{BatchText("ttl_Help")});
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->gridQueue()->rowCount(), 1);
  EXPECT_TRUE(dialog->cmdOK()->isEnabled());
  EXPECT_TRUE(dialog->cmdCancel()->isEnabled());
  EXPECT_FALSE(dialog->cmdStopSearch()->isVisible());

  // Once the search is over the window closes as usual.
  dialog->cmdCancel()->click();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(queue_.Count(), 0);
}

TEST_F(BatchDialog, OkNeedsASelectionAndAServerFolder) {
  Clip(QStringLiteral("nofolder/a.mp4"));
  auto dialog = Open(false);
  EXPECT_FALSE(dialog->frameFile()->isEnabled());
  dialog->txtLocation()->setText(QString::fromLatin1(frmAddBatch::kSelectPath));
  dialog->Search();  // nothing chosen yet: nothing happens
  EXPECT_EQ(dialog->gridQueue()->rowCount(), 0);
  EXPECT_FALSE(dialog->cmdOK()->isEnabled());

  dialog->ChooseLocation(Path(QStringLiteral("nofolder")));
  ASSERT_EQ(dialog->gridQueue()->rowCount(), 1);
  dialog->cmdOK()->click();
  EXPECT_EQ(messages_, QStringList{QStringLiteral("Please select items.")});

  QueueAll(*dialog);
  EXPECT_EQ(queue_.Count(), 0);
  EXPECT_EQ(dialog->lRefresh()->text(), BatchText("msg_refreshFirst"));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->cmdOK()->isEnabled());
}

}  // namespace

namespace {

// Captions the code fills in itself, and pictures without one.
bool FilledByCode(const QString& name) {
  return name.isEmpty() || name == QLatin1String("lFile") || name == QLatin1String("lFolderPath") ||
         name == QLatin1String("lRefresh") || name == QLatin1String("lTestLen") ||
         name.startsWith(QLatin1String("imgOpenTV"));
}

void ExpectCaptionsFromResources(QWidget& window, const QString& section) {
  int captions = 0;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    const QString name = widget->objectName();
    if (FilledByCode(name) || name.startsWith(QLatin1String("qt_"))) continue;
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      text = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      text = button->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      text = group->title();
    } else {
      continue;
    }
    ++captions;
    EXPECT_FALSE(text.isEmpty()) << name.toStdString();
    EXPECT_EQ(text, GetResString(section, name)) << name.toStdString();
  }
  EXPECT_GT(captions, 3);
  EXPECT_EQ(window.windowTitle(), GetResString(section, section));
}

TEST_F(BatchDialog, EveryCaptionComesFromTheResources) {
  auto dialog = Open(false);
  ExpectCaptionsFromResources(*dialog, QStringLiteral("frmAddBatch"));
  EXPECT_EQ(dialog->txtLocation()->text(), QString::fromLatin1(frmAddBatch::kSelectPath));
  frmConfirm confirm;
  ExpectCaptionsFromResources(confirm, QStringLiteral("frmConfirm"));
}

}  // namespace
