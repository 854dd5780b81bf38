#pragma once

#include "app/media/ProcessRunner.h"
#include "app/media/RunContext.h"
#include "app/project/CProjectFile.h"
#include "app/queue/KeptWork.h"
#include "app/queue/Outcome.h"
#include "app/queue/UploadJob.h"
#include "app/queue/UploadRetry.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class UploadControl;

namespace cf {

class BackgroundConversion;
class KqLibrary;
class MediaStoreCheck;
class UploadQueue;
class UserQuestions;
class VersionReply;

// What a run needs from this machine and the window's settings.
struct RunSettings {
  bool highSpeed = false;
  int processors = 1;
  std::optional<RetrySchedule> retry;  // the user's setting when unset
};

// One job from its start to its end. A video:
//
//   CheckingSource -> AskingServer -> Converting -> Rechecking -> Packing -> Uploading
//                                  \-> (the server converts) ---------/          |
//                                                                        Registering
// A recorded project:
//
//   CheckingSource -> AskingServer -> CheckingStore -> MakingSlides -> Packing -> Uploading ...
//
// Each server reply is read by the phase that asked for it. Whatever the phase, the run ends
// once, in Finish(Outcome), which alone sets the row and emits `finished`. What the run made stays
// in the job's kept folder (see KeptWork), so a restart does not make it again. Stop is heard in
// every phase; while slides are made it takes effect afterwards.
//
// A run can be held at two gates, so that the driver can prepare one job while another uploads
// without two requests ever going to the server at once: before its second question to the
// server (a project: before its local steps), and before its upload.
class JobRun : public QObject {
  Q_OBJECT

 public:
  enum class Phase {
    CheckingSource,
    AskingServer,
    Converting,
    Rechecking,
    CheckingStore,
    MakingSlides,
    Packing,
    Uploading,
    Registering,  // every block is sent; the server files the upload
    Done,
  };
  Q_ENUM(Phase)

  enum class Gate { BeforeRecheck, BeforeUpload };
  Q_ENUM(Gate)

  JobRun(const QString& path, UploadQueue& queue, UploadControl& control, UserQuestions& questions,
         const RunSettings& settings, QObject* parent = nullptr);
  ~JobRun() override;

  // Checks the source and asks the server; the rest follows the control's events. `finished` may
  // be emitted before this returns.
  void Begin();
  void Stop();
  // Like Stop, but an upload under way ends without discarding the server's session.
  void Pause() {
    pause_.Cancel();
    Stop();
  }

  // Closes a gate before Begin: the run waits there (emitting `held`) until it is released.
  void Hold(Gate gate) { closed_[static_cast<int>(gate)] = true; }
  // Opens a gate; a run waiting there goes on once the caller has returned.
  void Release(Gate gate);

  Phase phase() const { return phase_; }
  // What the output box shows of this run (its conversion's output and the upload's notes).
  QString outputText() const { return context_.outputText; }
  QString path() const { return path_; }
  // The folder the job was prepared in (a video's kept work folder, a project's own).
  QString workFolder() const { return workFolder_; }

 signals:
  void phaseChanged(const QString& path, cf::JobRun::Phase phase);
  // The row of the job changed (state, failure text or a time).
  void jobChanged(const QString& path);
  void statusChanged(const QString& text);
  void infoChanged(const QString& text);
  void outputChanged(const QString& text);
  // `done` of `total` in the phase's own unit (an upload's percent); while uploading, `bytes` of
  // `bytesTotal` are what the server has acknowledged of the archive.
  void progress(const QString& path, cf::JobRun::Phase phase, qint64 done, qint64 total,
                qint64 bytes, qint64 bytesTotal);
  // The first question to the server was answered, or the run ended before an answer came.
  void firstAnswer(const QString& path);
  // The run waits at a closed gate.
  void held(const QString& path, cf::JobRun::Gate gate);
  void finished(const cf::Outcome& outcome);

 private:
  void SetPhase(Phase phase);
  void SetRow(JobState state);
  void StampRow(JobTime which);
  QString Res(const char* key, const QString& fallback = {}) const;

  Outcome CheckSource();
  Outcome PrepareWorkFolder();
  void AskServer(int contentNumber);
  void OnVersionReply();
  void OnFirstVideoReply(const VersionReply& reply);
  void OnRecheckReply(const VersionReply& reply);
  void DecideOverwrite(const QString& overwrite);
  void OnProjectReply(const VersionReply& reply);
  void Convert();
  void OnConverted(const Outcome& converted, const QString& key);
  void AskAgain();
  // Runs `next` at once when the gate is open, else when it is released.
  void PassGate(Gate gate, std::function<void()> next);
  void CheckStore();
  void MakeSlidesAndUpload();
  void PackAndUpload(bool project);
  Outcome Pack(bool project);
  Outcome Upload();
  void Finish(const Outcome& outcome);

  QString path_;
  UploadQueue& queue_;
  UploadControl& control_;
  UserQuestions& questions_;
  RunSettings settings_;
  UploadJob work_;
  QString passwordToSend_;
  QString contentNumber_ = QStringLiteral("0");
  KeptWork kept_;
  QString workFolder_;
  QString archiveFolder_;
  CProjectFile project_;
  std::shared_ptr<KqLibrary> library_;
  MediaStoreCheck* storeCheck_ = nullptr;
  BackgroundConversion* conversion_ = nullptr;

  QString videoType_;
  bool sendSource_ = false;
  int slideWidth_ = 560;
  int slideHeight_ = 420;

  Phase phase_ = Phase::CheckingSource;
  bool awaitingReply_ = false;
  bool finished_ = false;
  bool answered_ = false;  // the first question to the server has its answer
  bool closed_[2] = {false, false};
  Gate waitingAt_ = Gate::BeforeRecheck;
  std::function<void()> resume_;  // what follows the gate the run waits at
  CancelToken stop_;
  CancelToken pause_;
  RunContext context_;
};

}  // namespace cf
