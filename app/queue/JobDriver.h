#pragma once

#include "app/media/RunContext.h"
#include "app/queue/DriverState.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <pugixml.hpp>

class UploadControl;

namespace cf {

class QueueGridModel;
class UploadQueue;

// Runs the queued jobs one at a time: checks the source, asks the server, converts, packs and
// uploads, and records the outcome in the job's grid row. It knows no widgets: windows and the
// command line show what it reports through its signals and command it through Start, Stop and
// Close. Everything runs on the thread that owns it; long steps wait in nested event loops, so
// Stop and the control's events are heard while a step runs.
class JobDriver : public QObject {
  Q_OBJECT

 public:
  JobDriver(QueueGridModel& grid, UploadQueue& queue, UploadControl& control,
            QObject* parent = nullptr);
  ~JobDriver() override;

  // Runs the next "Waiting" job (the start button).
  void Start();
  // Stops the running job at its next check (the stop button).
  void Stop();
  // The first part of closing: refused (false, after telling the user) while a row is
  // "Transfering"; otherwise stops what runs and deletes every folder the run made.
  bool Close();

  void setHighSpeed(bool on) { highSpeed_ = on; }
  void setProcessors(int processors) { processors_ = processors; }

  const DriverState& state() const { return state_; }
  RunContext& runContext() { return context_; }
  // A job is being run (from its start to the end of its upload or failure).
  bool running() const { return running_; }

  static constexpr int kUploadPollMs = 500;
  static constexpr int kAnimationMs = 700;

 signals:
  void statusChanged(const QString& text);
  void infoChanged(const QString& text);
  // lConvertInfo and the output box are shown while a video is converted.
  void conversionViewVisible(bool visible);
  void outputChanged(const QString& text);
  void progressChanged(int percent);
  void startEnabledChanged(bool enabled);
  void stopEnabledChanged(bool enabled);
  void exitEnabledChanged(bool enabled);
  void exitCaptionChanged(const QString& caption);
  // The driver started a job, or stopped running jobs (queue done, stopped, or waiting for the
  // user after a failed upload).
  void runningChanged(bool running);

 private:
  enum class Outcome { Succeeded, Failed };

  void StartNextWhenWaiting();
  void ScheduleStart();
  void SetRunning(bool running);
  void SetStatus(const QString& text);
  void SetInfo(const QString& text);

  void OnVersionReply();
  // Parses a version answer; a document that does not parse or carries errInfo fails the job.
  bool AcceptVersionReply(const QString& response, pugi::xml_document* doc);
  void HandleVideoReply(const QString& response);
  // A recorded project: quota, overwrite rule, media store check, slides, then pack and upload.
  void HandleProjectReply(const QString& response);
  void ReadSlideSize(const pugi::xml_document& doc);
  // False (the job failed) when the reply's quota leaves no room for `required` megabytes.
  bool CheckQuota(const pugi::xml_document& doc, qint64 required);
  // The server refused the target folder (overwrite "2" or "3").
  void RefuseTarget(const QString& overwrite);
  void Conversion();
  void ServerSidePreparation();
  // A stop before the server stage: the row waits again and the queue stops.
  void StopBeforeServerStage();
  void PackAndUpload(const QString& kind);
  Outcome Upload();
  void WaitForUploadEvent(int ms);

  // The job ends "Failed" with `text`; the next waiting job starts.
  void FailAndContinue(const QString& text);
  void FailUnexpected(const QString& description);
  bool SendVersionRequest(int contentNumber);
  QString ResultErrorText(const QString& code, bool prefixVersion) const;
  QString Res(const QString& key, const QString& fallback = {}) const;
  QString UploadText() const;

  QueueGridModel& grid_;
  UploadQueue& queue_;
  UploadControl& control_;
  DriverState state_;
  RunContext context_;
  QTimer animation_;
  QString status_;
  bool running_ = false;
  bool highSpeed_ = false;
  int processors_ = 1;
  bool putFileAnswered_ = true;
  bool closingStopDone_ = false;
};

}  // namespace cf
