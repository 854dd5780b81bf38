// The add dialog offscreen against the reference server, with clips made by the real ffmpeg.

#include "DialogTestSupport.h"
#include "app/dialogs/ServerFolderPicker.h"
#include "app/dialogs/frmAdd.h"
#include "app/dialogs/frmCustomBps.h"
#include "app/project/CProjectFile.h"
#include "app/queue/QueueCommands.h"
#include "app/queue/QueueFile.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/services/SettingsStore.h"
#include "app/services/modLanguage.h"
#include "tests/app/media/TestClips.h"
#include "tests/app/project/TestProjects.h"
#include "tests/app/queue/QueueTestJobs.h"
#include "ui_frmAdd.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace {

QString AddText(const char* key) {
  return GetResString(QStringLiteral("frmAdd"), QLatin1String(key));
}

class AddDialog : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(clips_.isValid());
  }

  QString Clip(const QString& name, const QString& size = QStringLiteral("320x240")) {
    const QString path = clips_.filePath(name);
    if (!QFile::exists(path)) {
      EXPECT_TRUE(TestClips::MakeVideo(path, 1, size, true));
    }
    return path;
  }

  std::unique_ptr<frmAdd> Open() {
    auto dialog = std::make_unique<frmAdd>(queue_);
    // What the main window does with the job the dialog hands back.
    frmAdd* raw = dialog.get();
    QObject::connect(raw, &QDialog::finished, [this, raw](int result) {
      const bool confirmed = result == QDialog::Accepted;
      const std::optional<cf::UploadJob> job = confirmed ? raw->job() : std::nullopt;
      if (raw->editedPath().isEmpty()) {
        commands_.commitAdd(job);
      } else {
        commands_.commitEdit(raw->editedPath(), job);
      }
      if (confirmed && !grid_.store().AnyInState(cf::JobState::Transfering))
        startUpload_.setEnabled(true);
    });
    dialog->show();
    dialog->RunInitTick();
    return dialog;
  }

  static bool WaitIdle() {
    return QTest::qWaitFor([] { return DialogShared::Instance().DialogBusy == 0; }, 30000);
  }

  // Types the server fields as a user would and presses Log In.
  void LogIn(frmAdd& dialog, const QString& account,
             const QString& password = QStringLiteral("demo")) {
    Ui::frmAdd& ui = dialog.form();
    ui.txtServerIP->setText(ServerUrl());
    ui.txtAccount->setText(account);
    ui.txtPassword->setText(password);
    ASSERT_TRUE(ui.cmdLogIn->isEnabled());
    ui.cmdLogIn->click();
    ASSERT_TRUE(WaitIdle());
  }

  QTemporaryDir clips_;
  cf::UploadQueue queue_;
  cf::QueueGridModel grid_{queue_};
  cf::QueueCommands commands_{queue_};
  QPushButton startUpload_;
};

TEST_F(AddDialog, LoginFailsThenSucceedsAndRemembersTheServer) {
  auto dialog = Open();
  Ui::frmAdd& ui = dialog->form();
  EXPECT_EQ(ui.lRefresh->text(), AddText("msg_refreshFirst"));
  EXPECT_FALSE(ui.frameFile->isEnabled());

  LogIn(*dialog, QStringLiteral("demo"), QStringLiteral("wrong"));
  EXPECT_EQ(messages_,
            QStringList{GetResString(QStringLiteral("frmUpload"), QStringLiteral("msg_1103"))});
  EXPECT_EQ(titles_, QStringList{QStringLiteral("GetFolder")});
  EXPECT_EQ(ui.lRefresh->text(), AddText("msg_refreshFirst"));
  EXPECT_TRUE(ui.cmdLogIn->isEnabled());
  EXPECT_TRUE(ui.cmdCancel->isEnabled());
  EXPECT_FALSE(ui.frameFile->isEnabled());
  EXPECT_FALSE(dialog->picker().loginState());
  EXPECT_EQ(ReadSetting(QStringLiteral("clipFerry"), QStringLiteral("account"), QString()),
            QString());

  // While the folder list is on its way the window cannot be closed.
  ui.cmdLogIn->click();
  ASSERT_EQ(DialogShared::Instance().DialogBusy, DialogShared::kFetchingFolders);
  EXPECT_FALSE(ui.cmdCancel->isEnabled());
  dialog->reject();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(messages_.last(), AddText("msg_ExitOnGetFolder"));
  ASSERT_TRUE(WaitIdle());
  messages_.clear();
  titles_.clear();

  LogIn(*dialog, QStringLiteral("demo"));
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_TRUE(dialog->picker().loginState());
  EXPECT_EQ(ui.cmdLogIn->text(), AddText("cmdRefresh"));
  EXPECT_TRUE(ui.frameFile->isEnabled());
  EXPECT_FALSE(ui.cmdOK->isEnabled());
  // The demo tree without its dead ends; Advertisements is the AD folder and is passed over.
  EXPECT_EQ(ui.lFolderPath->text(), QStringLiteral("Courses/Physics 101"));
  EXPECT_EQ(ui.TreeView1->topLevelItem(0)->text(0), ServerUrl());
  EXPECT_EQ(dialog->picker().itemForFolder(6), nullptr);  // Archive: nothing uploadable below
  EXPECT_EQ(ReadSetting(QStringLiteral("clipFerry"), QStringLiteral("serverIP"), QString()),
            server_.BaseUrl());
  EXPECT_EQ(ReadSetting(QStringLiteral("clipFerry"), QStringLiteral("account"), QString()),
            QStringLiteral("demo"));
  EXPECT_TRUE(folder_.read(QStringLiteral("getfolder.xml")).startsWith("<?xml"));

  // Choosing a folder in the drop-down; a folder that takes no uploads cannot be chosen.
  dialog->picker().ToggleTree();
  EXPECT_TRUE(ui.TreeView1->isVisible());
  dialog->picker().ChooseItem(dialog->picker().itemForFolder(1));
  EXPECT_EQ(DialogShared::Instance().folderTree.SelectedName(), QStringLiteral("Physics 101"));
  dialog->picker().ChooseItem(dialog->picker().itemForFolder(3));
  EXPECT_EQ(ui.lFolderPath->text(), QStringLiteral("Courses/Chemistry 201"));
  EXPECT_FALSE(ui.TreeView1->isVisible());
}

TEST_F(AddDialog, DigestRefusedByAPlainPasswordServerIsSentPlainOnce) {
  auto dialog = Open();
  ASSERT_TRUE(DialogShared::Instance().EncryptPassword);
  LogIn(*dialog, QStringLiteral("demo"));
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_FALSE(DialogShared::Instance().EncryptPassword);
  EXPECT_EQ(FolderRequests(), 2);

  dialog->ChooseFile(Clip(QStringLiteral("a.mp4")));
  dialog->form().cmdOK->click();
  ASSERT_EQ(queue_.Count(), 1);
  EXPECT_FALSE(queue_.item(1)->bEncPassword);

  // A server that wants the digest keeps it, and a wrong password there is not retried.
  auto second = Open();
  LogIn(*second, QStringLiteral("demo-digest"));
  EXPECT_TRUE(DialogShared::Instance().EncryptPassword);
  EXPECT_TRUE(second->picker().loginState());
  LogIn(*second, QStringLiteral("demo-digest"), QStringLiteral("wrong"));
  EXPECT_EQ(FolderRequests(), 4);
  EXPECT_EQ(messages_.size(), 1);
}

TEST_F(AddDialog, SecondOpeningShowsTheCachedTreeAndEditingLogsInAgain) {
  {
    auto first = Open();
    LogIn(*first, QStringLiteral("demo"));
    first->picker().ChooseItem(first->picker().itemForFolder(3));
    first->ChooseFile(Clip(QStringLiteral("lecture.mp4")));
    first->form().txtAuthor->setText(QStringLiteral("Dr. Who"));
    first->form().cmdOK->click();
    ASSERT_EQ(queue_.Count(), 1);
    EXPECT_TRUE(startUpload_.isEnabled());
    EXPECT_EQ(cf::testing::Cell(grid_, Clip(QStringLiteral("lecture.mp4")), cf::kColFolder),
              QStringLiteral("Chemistry 201"));
  }
  EXPECT_TRUE(DialogShared::Instance().FolderListKnown);
  const int requests = FolderRequests();

  {
    auto second = Open();
    Ui::frmAdd& ui = second->form();
    EXPECT_EQ(FolderRequests(), requests);
    EXPECT_TRUE(second->picker().loginState());
    EXPECT_EQ(ui.cmdLogIn->text(), AddText("cmdRefresh"));
    EXPECT_EQ(ui.lFolderPath->text(), QStringLiteral("Courses/Chemistry 201"));
    EXPECT_TRUE(ui.frameFile->isEnabled());
    EXPECT_TRUE(ui.cmdCancel->isEnabled());
    ui.cmdCancel->click();
    EXPECT_TRUE(second->cancelled());
  }

  // Editing always logs in again, with the job's own server and folder.
  const QString path = Clip(QStringLiteral("lecture.mp4"));
  DialogShared::Instance().folderTree.SelectByID(QStringLiteral("2"));
  cf::testing::SetState(grid_.store(), path, cf::kStateFailed);
  queue_.item(path)->state = QString(cf::kStateFailed);
  cf::testing::SetState(grid_.store(), path, cf::kStateEditing);
  EditRequest& request = DialogShared::Instance().editRequest;
  request = {true, path, 1};
  {
    auto edit = Open();
    EXPECT_EQ(DialogShared::Instance().DialogBusy, DialogShared::kFetchingFolders);
    ASSERT_TRUE(WaitIdle());
    Ui::frmAdd& ui = edit->form();
    // One request: the job remembers that this server takes the plain password.
    EXPECT_EQ(FolderRequests(), requests + 1);
    EXPECT_EQ(edit->windowTitle(), AddText("frmEdit"));
    EXPECT_EQ(ui.lFolderPath->text(), QStringLiteral("Courses/Chemistry 201"));
    EXPECT_EQ(ui.txtAuthor->text(), QStringLiteral("Dr. Who"));
    // The same file again is no duplicate of itself.
    edit->ChooseFile(path);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join(QLatin1Char('|')).toStdString();
    ASSERT_TRUE(ui.cmdOK->isEnabled());
    ui.txtTitle->setText(QStringLiteral("Renamed"));
    ui.cmdOK->click();
  }
  EXPECT_FALSE(DialogShared::Instance().editRequest.editing);
  ASSERT_EQ(queue_.Count(), 1);
  EXPECT_EQ(queue_.item(1)->title, QStringLiteral("Renamed"));
  EXPECT_EQ(grid_.rowCount(), 1);
  EXPECT_EQ(cf::testing::Cell(grid_, path, cf::kColState), QString(cf::kStateWaiting));
  EXPECT_EQ(cf::testing::Cell(grid_, path, cf::kColTitle), QStringLiteral("Renamed"));

  // A cancelled edit puts the saved state back.
  queue_.item(path)->state = QString(cf::kStateFailed);
  cf::testing::SetState(grid_.store(), path, cf::kStateEditing);
  request = {true, path, 1};
  {
    auto edit = Open();
    ASSERT_TRUE(WaitIdle());
    edit->form().cmdCancel->click();
  }
  EXPECT_EQ(cf::testing::Cell(grid_, path, cf::kColState), QString(cf::kStateFailed));
}

TEST_F(AddDialog, TypingInAServerFieldTakesBackTheLogin) {
  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("demo"));
  dialog->ChooseFile(Clip(QStringLiteral("a.mp4")));
  Ui::frmAdd& ui = dialog->form();
  ASSERT_TRUE(ui.cmdOK->isEnabled());
  for (QLineEdit* box : {ui.txtServerIP, ui.txtAccount, ui.txtPassword}) {
    QTest::keyClick(box, Qt::Key_X);
    EXPECT_FALSE(ui.cmdOK->isEnabled());
    EXPECT_FALSE(ui.frameFile->isEnabled());
    EXPECT_FALSE(dialog->picker().loginState());
    EXPECT_EQ(ui.cmdLogIn->text(), AddText("cmdLogIn"));
    EXPECT_EQ(ui.lRefresh->text(), AddText("msg_refreshFirst"));
    EXPECT_TRUE(DialogShared::Instance().EncryptPassword);
  }
}

TEST_F(AddDialog, FileRulesRefuseWhatCannotBeQueued) {
  QTemporaryDir dvd;
  const QString menu = dvd.filePath(QStringLiteral("VIDEO_TS.VOB"));
  const QString real = dvd.filePath(QStringLiteral("movie.rmvb"));
  const QString project = dvd.filePath(QStringLiteral("project.kqp"));
  for (const QString& path : {menu, real, project}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const QString queued = Clip(QStringLiteral("queued.mp4"));
  cf::UploadJob job;
  job.fileName = QStringLiteral("queued.mp4");
  job.path = queued;
  ASSERT_TRUE(queue_.Add(job));

  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("demo"));
  const QString missing = dvd.filePath(QStringLiteral("gone.mp4"));
  const struct {
    QString path;
    QString message;
    QString title;
  } cases[] = {
      {missing, QStringLiteral("\"") + missing + QStringLiteral("\" does not exists!"), {}},
      {real, AddText("msg_rm_and_rmvb"), {}},
      {menu, AddText("msg_VIDEO_TS_VOB"), {}},
      {project, AddText("msg_noMediaKq"), {}},
      {queued, AddText("msg_hasBeenAdded"), QStringLiteral("Add Video")},
  };
  for (const auto& c : cases) {
    messages_.clear();
    titles_.clear();
    dialog->ChooseFile(c.path);
    EXPECT_EQ(messages_, QStringList{c.message}) << c.path.toStdString();
    EXPECT_EQ(titles_, QStringList{c.title});
    EXPECT_TRUE(dialog->form().txtFile->text().isEmpty());
    EXPECT_FALSE(dialog->form().cmdOK->isEnabled());
  }
}

// A recorded project with its media store: one too new for the server is refused, one it takes
// brings its title and author, and an edited title is written back into the project on OK. The
// command line opens projects the same way.
TEST_F(AddDialog, ProjectsAreOpenedTestedAndTheirTextsSavedBack) {
  QTemporaryDir projects;
  const auto make = [&](const QString& name, const QString& version) {
    TestProject project;
    project.version = version;
    project.items = {IndexEntry(QStringLiteral("Start"), QStringLiteral("0"))};
    const QString kqp = TestProjects::WriteProject(projects.filePath(name), project);
    QFile media(projects.filePath(name + QStringLiteral("/media.kq")));
    EXPECT_TRUE(media.open(QIODevice::WriteOnly));
    return kqp;
  };
  const QString tooNew = make(QStringLiteral("new"), QStringLiteral("7.0"));
  const QString lesson = make(QStringLiteral("lesson one"), QStringLiteral("6.0"));
  const QString other = make(QStringLiteral("lesson two"), QStringLiteral("5.0"));
  ASSERT_FALSE(tooNew.isEmpty() || lesson.isEmpty() || other.isEmpty());

  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("demo"));
  Ui::frmAdd& ui = dialog->form();
  messages_.clear();
  dialog->ChooseFile(tooNew);
  EXPECT_EQ(messages_, QStringList{GetResString(QStringLiteral("frmCommon"),
                                                QStringLiteral("msgUnsupportKqpVer"))
                                       .replace(QStringLiteral("%s"), QStringLiteral("7"))});
  EXPECT_TRUE(ui.txtFile->text().isEmpty());
  EXPECT_TRUE(ui.txtAuthor->text().isEmpty());
  EXPECT_FALSE(ui.cmdOK->isEnabled());

  messages_.clear();
  dialog->ChooseFile(lesson);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(ui.txtTitle->text(), QStringLiteral("Fractions"));
  EXPECT_EQ(ui.txtAuthor->text(), QStringLiteral("Ms. Lee"));
  EXPECT_FALSE(ui.frameVidSetting->isEnabled());
  ASSERT_TRUE(ui.cmdOK->isEnabled());
  ui.txtTitle->setText(QStringLiteral("Fractions, revised"));
  ui.cmdOK->click();
  ASSERT_EQ(queue_.Count(), 1);
  const cf::UploadJob* job = queue_.item(1);
  EXPECT_TRUE(job->isProject());
  EXPECT_EQ(job->title, QStringLiteral("Fractions, revised"));
  // The job describes the saved file, so the driver does not see it as changed.
  EXPECT_EQ(job->fileSize, QFileInfo(lesson).size());
  cf::CProjectFile reread;
  ASSERT_TRUE(reread.Load(lesson, true));
  EXPECT_EQ(reread.title, QStringLiteral("Fractions, revised"));
  EXPECT_EQ(reread.Author, QStringLiteral("Ms. Lee"));

  QTemporaryDir cliFolder;
  for (const char* name : {"libkqmavo2.so", "res.xml", "encfiles"}) {
    QFile::link(folder_.filePath(QLatin1String(name)), cliFolder.filePath(QLatin1String(name)));
  }
  int exitCode = -1;
  const QString output = TestClips::RunProgram(
      TestClips::ProgramFolder() + QStringLiteral("/clipferry-cli"),
      {QStringLiteral("--program-folder"), cliFolder.path(), QStringLiteral("add"), other,
       QStringLiteral("--url"), ServerUrl(), QStringLiteral("--account"), QStringLiteral("demo"),
       QStringLiteral("--password"), QStringLiteral("demo"), QStringLiteral("--folder-id"),
       QStringLiteral("2"), QStringLiteral("--author"), QStringLiteral("Mr. Chen")},
      &exitCode);
  ASSERT_EQ(exitCode, 0) << output.toStdString();
  cf::UploadQueue cliQueue;
  cf::QueueGridModel cliGrid(cliQueue);
  ASSERT_EQ(cf::QueueFile::Load(cf::QueueFile::PathIn(cliFolder.path()), cliQueue),
            cf::QueueFile::LoadResult::Loaded);
  ASSERT_EQ(cliQueue.Count(), 1);
  EXPECT_EQ(cliQueue.item(1)->title, QStringLiteral("Fractions"));
  EXPECT_EQ(cliQueue.item(1)->Author, QStringLiteral("Mr. Chen"));
  ASSERT_TRUE(reread.Load(other, true));
  EXPECT_EQ(reread.Author, QStringLiteral("Mr. Chen"));
}

TEST_F(AddDialog, ResolutionOptionsFollowTheSourceWidth) {
  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("demo"));
  Ui::frmAdd& ui = dialog->form();
  const struct {
    QString size;
    bool source, high, standard;
    int32_t chosen;
    QString standardCaption;
  } cases[] = {
      {QStringLiteral("640x360"), false, false, true, 2,
       AddText("optStdRes") + QStringLiteral(" (640x360)")},
      {QStringLiteral("1024x576"), false, true, true, 2,
       AddText("optStdRes") + QStringLiteral(" (640x360)")},
      {QStringLiteral("320x240"), true, false, false, 0,
       AddText("optStdRes") + AddText("optStdResNeeds")},
  };
  for (const auto& c : cases) {
    dialog->ChooseFile(Clip(QStringLiteral("w%1.mp4").arg(c.size), c.size));
    EXPECT_EQ(ui.optSrcRes->isEnabled(), c.source) << c.size.toStdString();
    EXPECT_EQ(ui.optHiRes->isEnabled(), c.high) << c.size.toStdString();
    EXPECT_EQ(ui.optStdRes->isEnabled(), c.standard) << c.size.toStdString();
    EXPECT_EQ(dialog->setup().dstResType, c.chosen) << c.size.toStdString();
    EXPECT_EQ(ui.optStdRes->text(), c.standardCaption);
    EXPECT_TRUE(ui.cmdOK->isEnabled());
  }
  // 1024 wide: high resolution is 1024x576 at 1300 kbps.
  dialog->ChooseFile(Clip(QStringLiteral("w1024x576.mp4"), QStringLiteral("1024x576")));
  ui.optHiRes->click();
  EXPECT_EQ(dialog->setup().dstResType, 1);
  EXPECT_EQ(ui.lDstSize->text(),
            AddText("lDstSize") + QStringLiteral("  1024x576") + AddText("txtPixels"));
  EXPECT_EQ(ui.lBps->text(), AddText("lBps") + AddText("txtAbout") + QStringLiteral("1300 kbps"));
  EXPECT_TRUE(ui.lSrcSize->text().startsWith(AddText("lSrcSize") + QStringLiteral(" 1024x576") +
                                             AddText("txtPixels")));
}

TEST_F(AddDialog, NoConversionForMp4DisablesEveryResolution) {
  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("demo"));
  Ui::frmAdd& ui = dialog->form();
  dialog->ChooseFile(Clip(QStringLiteral("talk.mp4"), QStringLiteral("1024x576")));
  ASSERT_TRUE(ui.optNoCvtForMp4->isEnabled());
  ASSERT_TRUE(ui.optServerCvt->isEnabled());
  ui.optNoCvtForMp4->click();
  EXPECT_EQ(dialog->setup().dstCvtType, 2);
  EXPECT_TRUE(ui.optSrcRes->isChecked());
  for (QRadioButton* option : {ui.optSrcRes, ui.optHiRes, ui.optStdRes}) {
    EXPECT_FALSE(option->isEnabled());
  }
  EXPECT_FALSE(ui.lCustomBps->isVisible());
  EXPECT_EQ(ui.lDstSize->text(),
            AddText("lDstSize") + QStringLiteral("  1024x576") + AddText("txtPixels"));

  // A file of another kind does not offer it; the old system offers neither server option.
  QFile::copy(Clip(QStringLiteral("talk.mp4")), clips_.filePath(QStringLiteral("talk.mkv")));
  dialog->ChooseFile(clips_.filePath(QStringLiteral("talk.mkv")));
  EXPECT_FALSE(ui.optNoCvtForMp4->isEnabled());
  LogIn(*dialog, QStringLiteral("demo-legacy"));
  dialog->ChooseFile(Clip(QStringLiteral("talk.mp4")));
  EXPECT_FALSE(ui.optNoCvtForMp4->isEnabled());
  EXPECT_FALSE(ui.optServerCvt->isEnabled());
  EXPECT_TRUE(ui.lOldSysHelp->isVisibleTo(dialog.get()));
  EXPECT_EQ(ui.lRefresh->text(), AddText("msg_oldSysTip"));
}

TEST_F(AddDialog, AccountWithoutUploadableFolderOffersNoOk) {
  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("nofolder"));
  Ui::frmAdd& ui = dialog->form();
  EXPECT_TRUE(dialog->picker().loginState());
  EXPECT_FALSE(dialog->picker().hasFolder());
  EXPECT_EQ(ui.lRefresh->text(), AddText("msg_noUploadableFolder"));
  EXPECT_TRUE(ui.lFolderPath->text().isEmpty());
  dialog->ChooseFile(Clip(QStringLiteral("a.mp4")));
  EXPECT_FALSE(ui.cmdOK->isEnabled());
  dialog->cmdOK_Click();
  EXPECT_EQ(queue_.Count(), 0);
  // The folder remembered from before is kept.
  EXPECT_EQ(
      ReadSetting(QStringLiteral("clipFerry"), QStringLiteral("folderID"), QStringLiteral("1")),
      QStringLiteral("1"));
}

// Two full-HD frames stretched over `seconds`: a long source that costs nothing to make.
QString LongClip(const QTemporaryDir& dir, int seconds) {
  const QString path = dir.filePath(QStringLiteral("long%1.mp4").arg(seconds));
  EXPECT_TRUE(TestClips::Make(
      path, {"-f", "lavfi", "-i", "color=size=1920x1080:rate=1:duration=2", "-vf",
             QStringLiteral("setpts=PTS*%1").arg(seconds - 1), "-fps_mode", "passthrough", "-c:v",
             "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}));
  return path;
}

TEST_F(AddDialog, SizeNearTheLimitWarnsOnceAndOverTheLimitIsRefused) {
  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("demo"));
  Ui::frmAdd& ui = dialog->form();

  // 4200 kbps for about 66.5 minutes is 1.95 GB: accepted, with one warning per dialog.
  dialog->ChooseFile(LongClip(clips_, 3989));
  ASSERT_TRUE(ui.cmdOK->isEnabled());
  EXPECT_EQ(ui.lFileSize->text(),
            AddText("lFileSize") + AddText("txtAbout") + QStringLiteral("309 MB"));
  ui.optSrcRes->click();
  EXPECT_EQ(dialog->setup().dstResType, 0);
  EXPECT_EQ(ui.lFileSize->text(),
            AddText("lFileSize") + AddText("txtAbout") + QStringLiteral("1.95 GB"));
  EXPECT_EQ(
      messages_,
      QStringList{AddText("msg_nearly2GB").replace(QStringLiteral("%s"), QStringLiteral("1.95"))});
  EXPECT_EQ(titles_, QStringList{AddText("ttl_Warning")});
  ui.optStdRes->click();
  ui.optSrcRes->click();
  EXPECT_EQ(messages_.size(), 1);

  // 70 minutes at that rate is over 2 GiB: the choice is refused and the previous one stays.
  dialog->ChooseFile(LongClip(clips_, 4201));
  messages_.clear();
  ui.optSrcRes->click();
  EXPECT_EQ(messages_, QStringList{AddText("msg_exceed2GB")});
  EXPECT_EQ(dialog->setup().dstResType, 2);
  EXPECT_TRUE(ui.optStdRes->isChecked());
  // Server-side conversion sends the small file itself, whatever the resolution.
  ui.optServerCvt->click();
  EXPECT_EQ(dialog->setup().dstCvtType, 1);
  ui.optSrcRes->click();
  EXPECT_EQ(dialog->setup().dstResType, 0);
  EXPECT_EQ(messages_.size(), 1);
}

TEST(CustomBandwidth, PresetsStepUpAndStopAtTheLimit) {
  TestProgramFolder folder;
  QList<std::pair<int, int>> applied;
  frmCustomBps dialog(400, 3600, 560, [&](int32_t custom, int32_t shown) {
    applied.append({custom, shown});
  });
  const QString suffix = GetResString(QStringLiteral("frmCustomBps"), QStringLiteral("default"));
  EXPECT_EQ(dialog.option(0)->text(), QStringLiteral("400 kbps (100%) ") + suffix);
  EXPECT_EQ(dialog.option(5)->text(), QStringLiteral("800 kbps (200%)"));
  EXPECT_EQ(dialog.selectedIndex(), 2);  // the stored custom value
  dialog.cmdSet_Click();
  dialog.option(0)->setChecked(true);
  dialog.cmdOK_Click();
  EXPECT_EQ(applied, (QList<std::pair<int, int>>{{560, 560}, {0, 400}}));

  // 4000 kbps for 4000 s fits; 4800 does not, and nothing above it is offered.
  frmCustomBps limited(4000, 4000, 0, {});
  EXPECT_TRUE(limited.option(0)->isEnabled());
  EXPECT_FALSE(limited.option(1)->isEnabled());
  EXPECT_TRUE(limited.option(1)->text().endsWith(
      GetResString(QStringLiteral("frmCustomBps"), QStringLiteral("exceedLimit"))));
  for (int i = 2; i < 6; ++i) {
    EXPECT_FALSE(limited.option(i)->isEnabled());
    EXPECT_TRUE(limited.option(i)->text().endsWith(QStringLiteral("%)")));
  }
}

// The dialog and clipferry-cli add make the same queue entry for the same choices.
TEST_F(AddDialog, DialogAndCommandLineQueueTheSameJob) {
  const QString clip = Clip(QStringLiteral("same.mp4"), QStringLiteral("1280x720"));
  auto dialog = Open();
  LogIn(*dialog, QStringLiteral("demo"));
  dialog->ChooseFile(clip);
  dialog->form().optHiRes->click();
  dialog->form().txtAuthor->setText(QStringLiteral("Prof. X"));
  ASSERT_TRUE(dialog->form().cmdOK->isEnabled());
  dialog->form().cmdOK->click();
  ASSERT_EQ(queue_.Count(), 1);
  const QByteArray fromDialog = cf::QueueFile::Serialize(queue_);

  QTemporaryDir cliFolder;
  for (const char* name : {"ffmpeg", "libkqmavo2.so", "res.xml"}) {
    ASSERT_TRUE(QFile::link(folder_.filePath(QLatin1String(name)),
                            cliFolder.filePath(QLatin1String(name))));
  }
  int exitCode = -1;
  const QString output = TestClips::RunProgram(
      TestClips::ProgramFolder() + QStringLiteral("/clipferry-cli"),
      {QStringLiteral("--program-folder"), cliFolder.path(), QStringLiteral("add"), clip,
       QStringLiteral("--url"), ServerUrl(), QStringLiteral("--account"), QStringLiteral("demo"),
       QStringLiteral("--password"), QStringLiteral("demo"), QStringLiteral("--folder-id"),
       QStringLiteral("2"), QStringLiteral("--resolution"), QStringLiteral("high"),
       QStringLiteral("--author"), QStringLiteral("Prof. X")},
      &exitCode);
  ASSERT_EQ(exitCode, 0) << output.toStdString();
  QFile written(cliFolder.filePath(QStringLiteral("project.xml")));
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(written.readAll()), QString::fromUtf8(fromDialog));

  // Adding it again is refused like the dialog refuses a duplicate.
  TestClips::RunProgram(
      TestClips::ProgramFolder() + QStringLiteral("/clipferry-cli"),
      {QStringLiteral("--program-folder"), cliFolder.path(), QStringLiteral("add"), clip,
       QStringLiteral("--url"), ServerUrl(), QStringLiteral("--account"), QStringLiteral("demo"),
       QStringLiteral("--password"), QStringLiteral("demo"), QStringLiteral("--folder-id"),
       QStringLiteral("2")},
      &exitCode);
  EXPECT_EQ(exitCode, 1);
}

// Everything of the dialog can be done from the keyboard: Enter in a server field logs in, the
// folder box opens with Space and takes a folder with Enter, and Enter confirms once OK may.
TEST_F(AddDialog, KeyboardLogsInPicksAFolderAndConfirms) {
  const QString clip = Clip(QStringLiteral("keys.mp4"));
  auto dialog = Open();
  Ui::frmAdd& ui = dialog->form();
  ui.txtServerIP->setText(ServerUrl());
  ui.txtAccount->setText(QStringLiteral("demo"));
  ui.txtPassword->setText(QStringLiteral("demo"));
  QTest::keyClick(ui.txtPassword, Qt::Key_Return);
  ASSERT_TRUE(WaitIdle());
  ASSERT_TRUE(dialog->picker().loginState());
  EXPECT_TRUE(dialog->isVisible());

  // Tab reaches the folder box before OK and Cancel.
  QList<QWidget*> chain;
  for (QWidget* w = ui.txtPassword->nextInFocusChain(); w != ui.txtPassword && chain.size() < 500;
       w = w->nextInFocusChain()) {
    if (w->focusPolicy() & Qt::TabFocus) chain << w;
  }
  ASSERT_TRUE(chain.contains(ui.picFolder));
  EXPECT_LT(chain.indexOf(ui.picFolder), chain.indexOf(ui.cmdOK));
  EXPECT_LT(chain.indexOf(ui.cmdOK), chain.indexOf(ui.cmdCancel));

  QTest::keyClick(ui.picFolder, Qt::Key_Space);
  ASSERT_TRUE(ui.TreeView1->isVisible());
  ui.TreeView1->setCurrentItem(dialog->picker().itemForFolder(3));
  QTest::keyClick(ui.TreeView1, Qt::Key_Return);
  EXPECT_FALSE(ui.TreeView1->isVisible());
  EXPECT_EQ(ui.lFolderPath->text(), QStringLiteral("Courses/Chemistry 201"));

  // Without a file OK is disabled and Enter does nothing.
  QTest::keyClick(ui.txtTitle, Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible());
  dialog->ChooseFile(clip);
  ASSERT_TRUE(ui.cmdOK->isEnabled());
  QTest::keyClick(ui.txtTitle, Qt::Key_Return);
  EXPECT_FALSE(dialog->isVisible());
  ASSERT_EQ(queue_.Count(), 1);
  EXPECT_EQ(queue_.item(clip)->folderID, QStringLiteral("3"));
}

}  // namespace
