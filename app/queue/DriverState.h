#pragma once

#include "app/queue/UploadJob.h"

#include <QString>
#include <QStringList>

namespace cf {

// Everything the job driver remembers between the steps of one job, and across jobs of a run.
struct DriverState {
  QString currentPath;     // key of the job being run
  UploadJob work;          // the job's fields as loaded at its start
  QString passwordToSend;  // the stored password, or its digest when the job asks for one
  QString contentNumber = QStringLiteral("0");  // from the work folder's profile
  QString workFolder;
  // Every work folder made during the run of the program; all are deleted on closing.
  QStringList temporaryFolders;
  QString archiveFolder;

  bool serverStage = false;  // past the conversion: Stop cancels the upload, not the conversion
  bool stopInConversion = false;
  bool stopInUpload = false;
  bool firstCheck = false;  // the next server reply answers the job's first version request
  bool closing = false;
  bool uploadFinished = false;
  bool archiveMade = false;

  QString videoType;  // "mp4" or anything else for FLV
  bool sendSource = false;
  bool thumbnailsWanted = false;
  int slideWidth = 560;
  int slideHeight = 420;

  QString failureText;
  QString serverErrorText;  // the generic server error text
  QString exitCaption;
};

}  // namespace cf
