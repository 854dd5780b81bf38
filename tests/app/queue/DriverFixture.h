#pragma once

#include "KqServerProcess.h"
#include "app/queue/JobDriver.h"
#include "app/queue/KeptWork.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/UserQuestions.h"
#include "app/services/MavoControl.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modLanguage.h"
#include "tests/app/media/TestClips.h"
#include "tests/app/queue/QueueTestJobs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// A program folder for one test: links to every built program and module, copies of the
// resources (so a test may change them), and nothing written into the shared build.
class LinkedProgramFolder {
 public:
  LinkedProgramFolder() {
    const QDir built(TestClips::ProgramFolder());
    for (const QFileInfo& entry :
         built.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
      const QString target = dir_.filePath(entry.fileName());
      if (entry.isFile() && entry.suffix() == QLatin1String("xml")) {
        QFile::copy(entry.absoluteFilePath(), target);
      } else if (entry.fileName() != QLatin1String("project.xml")) {
        QFile::link(entry.absoluteFilePath(), target);
      }
    }
    SetProgramFolder(dir_.path());
    ReloadResStrings();
  }
  ~LinkedProgramFolder() {
    SetProgramFolder(QString());
    ReloadResStrings();
  }
  QString path() const { return dir_.path(); }
  QString filePath(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
};

// A job as the add dialog builds it for a clip made at test time.
// The SHA-256 (hex) of the archive a job has kept in the user's data folder (the only one there),
// empty when there is none.
inline QByteArray KeptArchiveSha256() {
  QDirIterator kept(
      QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath(QStringLiteral("clipferry")),
      {QStringLiteral("mavo_file.zip")}, QDir::Files, QDirIterator::Subdirectories);
  if (!kept.hasNext()) return {};
  QFile archive(kept.next());
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!archive.open(QIODevice::ReadOnly) || !hash.addData(&archive)) return {};
  return hash.result().toHex();
}

inline cf::UploadJob ClipJob(const QString& path, const QString& url, int cvtType,
                             const QString& account = QStringLiteral("demo")) {
  const QFileInfo info(path);
  cf::UploadJob job;
  job.fileName = info.fileName();
  job.title = QStringLiteral("Lab ") + info.completeBaseName();
  job.Author = QStringLiteral("Dr. Test");
  job.path = info.absoluteFilePath();
  job.duration = QStringLiteral("0:00:02");
  job.secDuration = 2;
  job.videoWidth = 320;
  job.videoHeight = 240;
  job.srcVideoWidth = 320;
  job.srcVideoHeight = 240;
  job.vBitRate = QStringLiteral("300k");
  job.aBitRate = QStringLiteral("64k");
  job.Url = url;
  job.account = account;
  job.password = QStringLiteral("demo");
  job.bEncPassword = account == QLatin1String("demo-digest");
  job.folderID = account == QLatin1String("demo") ? QStringLiteral("2") : QStringLiteral("1");
  job.folderName = QStringLiteral("Physics 101");
  job.sysVer = QStringLiteral("5.0");
  job.dstCvtType = cvtType;
  job.fileSize = info.size();
  job.dateLastModified = cf::UploadJob::FormatDateLastModified(info.lastModified());
  return job;
}

// The real control with one seam: a test may edit the server's version answer, for answers the
// reference server never gives to a new video (an overwrite question, a refused target).
class RewritingControl : public UploadControl {
 public:
  using Rewrite = std::function<QString(const QString& answer)>;

  explicit RewritingControl(UploadControl& inner) : inner_(inner) {
    connect(&inner_, &UploadControl::OnGetVersionFinished, this, [this] {
      busy_ = false;
      emit OnGetVersionFinished();
    });
    connect(&inner_, &UploadControl::OnPutFileFinished, this, [this] {
      busy_ = false;
      emit OnPutFileFinished();
    });
    connect(&inner_, &UploadControl::OnGetFolderFinished, this, [this] {
      busy_ = false;
      emit OnGetFolderFinished();
    });
    connect(&inner_, &UploadControl::OnPostFinished, this, [this] {
      busy_ = false;
      emit OnPostFinished();
    });
    connect(&inner_, &UploadControl::OnPutFileBlock, this, [this] { emit OnPutFileBlock(); });
  }

  void setVersionRewrite(Rewrite rewrite) { rewrite_ = std::move(rewrite); }
  QList<int> putFileContentNumbers() const { return putFileContentNumbers_; }
  QList<int> versionContentNumbers() const { return versionContentNumbers_; }
  // Requests started while an earlier one had not been answered yet.
  int overlappingRequests() const { return overlapping_; }

  bool GetFolder(const QString& url, const QString& account, const QString& password,
                 const QString& exParam) override {
    lastWasVersion_ = false;
    return Send([&] { return inner_.GetFolder(url, account, password, exParam); });
  }
  bool PutFile(const QString& url, const QString& account, const QString& password, int folderID,
               int docID, const QString& path) override {
    lastWasVersion_ = false;
    putFileContentNumbers_.append(docID);
    return Send([&] { return inner_.PutFile(url, account, password, folderID, docID, path); });
  }
  bool PutFileFrom(const QString& url, const QString& account, const QString& password,
                   int folderID, int docID, const QString& path, const Session& session) override {
    lastWasVersion_ = false;
    putFileContentNumbers_.append(docID);
    return Send(
        [&] { return inner_.PutFileFrom(url, account, password, folderID, docID, path, session); });
  }
  void PausePutFile() override { inner_.PausePutFile(); }
  Session UploadSession() override { return inner_.UploadSession(); }
  bool getVersion(const QString& url) override { return inner_.getVersion(url); }
  bool GetVersion2(const QString& url, const QString& account, const QString& password,
                   int folderID, int docID, const QString& version,
                   const QString& exParam) override {
    lastWasVersion_ = true;
    versionContentNumbers_.append(docID);
    return Send([&] {
      return inner_.GetVersion2(url, account, password, folderID, docID, version, exParam);
    });
  }
  bool Post(const QString& url, const QString& param) override {
    return Send([&] { return inner_.Post(url, param); });
  }
  void CancelPutFile() override { inner_.CancelPutFile(); }
  int UploadingProgress() override { return inner_.UploadingProgress(); }
  QString Response() override {
    const QString answer = inner_.Response();
    return lastWasVersion_ && rewrite_ ? rewrite_(answer) : answer;
  }

 private:
  template <typename Request>
  bool Send(const Request& request) {
    if (busy_) ++overlapping_;
    busy_ = true;  // before the call: a request may end inside it
    const bool sent = request();
    if (!sent) busy_ = false;
    return sent;
  }

  UploadControl& inner_;
  Rewrite rewrite_;
  bool busy_ = false;
  int overlapping_ = 0;
  bool lastWasVersion_ = false;
  QList<int> putFileContentNumbers_;
  QList<int> versionContentNumbers_;
};

// The user's side of a run as a test scripts it: every notice and question is recorded, and the
// overwrite question gets the answer the test chose.
class ScriptedQuestions : public cf::UserQuestions {
 public:
  void Tell(const QString& text, MsgIcon) override { messages.append(text); }
  MsgAnswer AskOverwrite(const QString& text) override {
    messages.append(text);
    return overwriteAnswer;
  }

  QStringList messages;
  MsgAnswer overwriteAnswer = MsgAnswer::Cancel;
};

// The engine as a window would hold it, over the real control, talking to kqserver on loopback.
class DriverBench {
 public:
  DriverBench() {
    if (!server_.Start({QStringLiteral("--init-demo")})) {
      ADD_FAILURE() << server_.ErrorText().toStdString();
      return;
    }
    QString why;
    control_ = MavoControl::Create(&host_, &why);
    if (!control_) {
      ADD_FAILURE() << why.toStdString();
      return;
    }
    rewriting_ = std::make_unique<RewritingControl>(*control_);
    driver_ = std::make_unique<cf::JobDriver>(queue_, *rewriting_, questions_);
    // A failed link fails the job at once unless a test asks for the waits.
    cf::RetrySchedule noRetries;
    noRetries.limitMs = 0;
    driver_->setRetrySchedule(noRetries);
    // Nothing below the engine should ask; what does is recorded with the engine's questions.
    previousHandler_ = SetMessageHandler([this](const MessageRequest& request) {
      questions_.messages.append(request.text);
      return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
    });
  }
  ~DriverBench() {
    if (driver_) driver_->Close();
    driver_.reset();
    SetMessageHandler(previousHandler_);
  }

  bool ready() const { return driver_ != nullptr; }
  KqServerProcess& server() { return server_; }
  cf::JobDriver& driver() { return *driver_; }
  RewritingControl& control() { return *rewriting_; }
  cf::QueueGridModel& grid() { return grid_; }
  cf::UploadQueue& queue() { return queue_; }
  QStringList& messages() { return questions_.messages; }
  void answerOverwrite(MsgAnswer answer) { questions_.overwriteAnswer = answer; }
  QString clipFolder() const { return clips_.path(); }

  // A 2-second 320x240 clip; `bitrate` makes it larger so its archive spans several blocks.
  QString MakeClip(const QString& name, const QString& bitrate = {}) {
    const QString path = clips_.filePath(name);
    if (bitrate.isEmpty()) {
      EXPECT_TRUE(TestClips::MakeVideo(path, 2, QStringLiteral("320x240")));
    } else {
      // Noise does not compress, so the bitrate holds.
      EXPECT_TRUE(TestClips::MakeNoiseVideo(path, bitrate));
    }
    return path;
  }

  // Queues the job with its "Waiting" row.
  void Add(const cf::UploadJob& job) { ASSERT_TRUE(queue_.Add(job)); }
  cf::UploadJob AddClip(const QString& name, int cvtType,
                        const QString& account = QStringLiteral("demo")) {
    const cf::UploadJob job = ClipJob(MakeClip(name), server_.BaseUrl(), cvtType, account);
    Add(job);
    return job;
  }

  // Presses Start and waits until the driver stops running jobs.
  void RunQueue(int timeoutMs = 90000) {
    QSignalSpy idle(driver_.get(), &cf::JobDriver::runningChanged);
    driver_->Start();
    while (driver_->running()) {
      if (!idle.wait(timeoutMs)) {
        ADD_FAILURE() << "the driver did not finish";
        return;
      }
    }
  }

  QString State(const QString& path) const { return cf::testing::Cell(grid_, path, cf::kColState); }
  QString Error(const QString& path) const { return cf::testing::Cell(grid_, path, cf::kColError); }

  // The stored archive of the account's last upload, and its listing.
  QString LastArchive() {
    const QByteArray contents = server_.AdminGet(QStringLiteral("/admin/contents"));
    const int at = contents.lastIndexOf("path=\"");
    if (at < 0) return {};
    const int end = contents.indexOf('"', at + 6);
    return QString::fromUtf8(contents.mid(at + 6, end - at - 6));
  }
  // Unpacks the archive into a fresh folder and returns it.
  QString Unpack(const QString& archive) {
    auto dir = std::make_unique<QTemporaryDir>();
    const QString path = dir->path();
    TestClips::RunProgram(QStringLiteral("/usr/bin/unzip"),
                          {QStringLiteral("-q"), archive, QStringLiteral("-d"), path});
    unpacked_.push_back(std::move(dir));
    return path;
  }

  // Work and archive folders left under the system temporary folder (cleared at boot, so a run
  // keeps nothing there), and kept folders of jobs that are finished or no longer queued.
  static QStringList LeftoverFolders(const cf::UploadQueue& queue) {
    QStringList left =
        QDir(QDir::tempPath())
            .entryList({QStringLiteral("_kqClipFerry_*"), QStringLiteral("_kqVidZip_*")},
                       QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList owned;
    for (int i = 1; i <= queue.Count(); ++i) {
      const cf::UploadJob* job = queue.item(i);
      if (job->live != cf::JobState::Finished)
        owned << QFileInfo(cf::KeptWork::FolderFor(job->path)).fileName();
    }
    QDirIterator kept(cf::KeptWork::Root(), QDir::Dirs | QDir::NoDotAndDotDot);
    while (kept.hasNext()) {
      const QString name = QFileInfo(kept.next()).fileName();
      if (!owned.contains(name)) left << QStringLiteral("kept/") + name;
    }
    return left;
  }
  QStringList LeftoverFolders() const { return LeftoverFolders(queue_); }

 private:
  KqServerProcess server_;
  QWidget host_;
  std::unique_ptr<MavoControl> control_;
  std::unique_ptr<RewritingControl> rewriting_;
  cf::UploadQueue queue_;
  cf::QueueGridModel grid_{queue_};
  ScriptedQuestions questions_;
  std::unique_ptr<cf::JobDriver> driver_;
  MessageHandler previousHandler_;
  QTemporaryDir clips_;
  std::vector<std::unique_ptr<QTemporaryDir>> unpacked_;
};
