#pragma once

#include "app/media/ProcessRunner.h"
#include "app/queue/Outcome.h"
#include "app/queue/ResumeRecord.h"

#include <QString>

#include <functional>

class UploadControl;

namespace cf {

// Sends one archive with the upload control and reads the server's answer. Waits in nested event
// loops, so the control's events and Stop are heard; the token ends the upload.
//
// A resume record beside the archive says where its session stands after each acknowledged
// block. An upload of an archive that matches its record continues that session; when the server
// no longer takes it, the upload starts over from block 0, once. Stop sends the cancel request
// and forgets the session; a pause ends the upload without it and keeps the record.
class UploadStep {
 public:
  struct Request {
    QString address;  // the server as stored ("host:port"), without "http://"
    QString account;
    QString password;  // as sent: the stored password or its digest
    int folderID = 0;
    int contentNumber = 0;
    QString archive;
  };
  struct Events {
    std::function<void(const QString& text)> status;
    std::function<void(int percent)> progress;
    // Every block is sent; the server files the upload (closing must wait).
    std::function<void()> registering;
    // A line for the output box (see AddNote).
    std::function<void(const QString& line)> note;
    // Bytes of the archive the server has acknowledged so far.
    std::function<void(qint64 bytes)> acknowledged;
  };

  UploadStep(UploadControl& control, CancelToken stop, CancelToken pause = {});

  // Done with the content number the server gave in `contentID`; Stopped when the token was
  // cancelled; UploadFailed with the row's text otherwise.
  Outcome Run(const Request& request, const Events& events, QString* contentID);

  // The last Run ended because the link failed during a block (not an answer of the server):
  // the session is kept and may be continued.
  bool linkFailed() const { return linkFailed_; }

  static constexpr int kPollMs = 500;
  // A cancelled upload still ends with the control's completion event; no new request may start
  // before it, but a control that never answers must not hang the program.
  static constexpr int kCancelAnswerWaitMs = 120000;
  static constexpr qint64 kBlockBytes = ResumeRecord::kBlockBytes;

  // Adds a note to the output box's text. A note that starts with a carriage return takes the
  // place of the last one, as on a terminal (a countdown).
  static void AddNote(QString* text, const QString& line);

  // The result is the control's own document of a block that broke off or was never answered.
  static bool IsLinkFailure(const QString& response);

 private:
  enum class Sent { kAnswered, kLinkFailed, kStopped, kNotStarted };
  struct Attempt {
    Sent sent = Sent::kAnswered;
    bool acknowledgedAny = false;
  };
  Attempt Send(const Request& request, const Events& events, int startSeqno,
               const QString& sessionId, const QString& urlValue);
  void WaitForEvent(int ms);
  void RecordBlock(const Request& request, const Events& events);
  Outcome ReadAnswer(QString* contentID);

  UploadControl& control_;
  CancelToken stop_;
  CancelToken pause_;
  bool answered_ = true;
  bool linkFailed_ = false;
  QByteArray archiveHash_;
  bool hashing_ = false;
};

}  // namespace cf
