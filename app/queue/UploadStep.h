#pragma once

#include "app/media/ProcessRunner.h"
#include "app/queue/Outcome.h"

#include <QString>

#include <functional>

class UploadControl;

namespace cf {

// Sends one archive with the upload control and reads the server's answer. Waits in nested event
// loops, so the control's events and Stop are heard; the token ends the upload.
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
  };

  UploadStep(UploadControl& control, CancelToken stop);

  // Done with the content number the server gave in `contentID`; Stopped when the token was
  // cancelled; UploadFailed with the row's text otherwise.
  Outcome Run(const Request& request, const Events& events, QString* contentID);

  static constexpr int kPollMs = 500;
  // A cancelled upload still ends with the control's completion event; no new request may start
  // before it, but a control that never answers must not hang the program.
  static constexpr int kCancelAnswerWaitMs = 120000;

 private:
  void WaitForEvent(int ms);
  Outcome ReadAnswer(QString* contentID);

  UploadControl& control_;
  CancelToken stop_;
  bool answered_ = true;
};

}  // namespace cf
