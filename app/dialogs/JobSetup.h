#pragma once

#include "app/dialogs/BitrateEstimate.h"
#include "app/dialogs/FolderReply.h"
#include "app/media/VideoInfo.h"
#include "app/queue/UploadJob.h"

#include <QString>

namespace cf {
class UploadQueue;
}

// A message for the user: the text of `key` in section frmAdd with `fallback` as its default, or
// `fallback` as it stands when there is no key.
struct DialogMessage {
  QString key;
  QString fallback;
  QString title;

  bool isEmpty() const { return key.isEmpty() && fallback.isEmpty(); }
  QString text() const;
};

// The server side of a job: where it goes and how it logs in.
struct JobServer {
  QString Url;  // normalised address
  QString account;
  QString password;
  QString folderID;
  QString folderName;
};

// The working values of the add dialog for one source file and the rules that change them: the
// file checks, the conversion and resolution choices with their 2 GiB test, the destination, and
// the job that OK queues. clipferry-cli add goes through the same steps, so both make the same job.
class JobSetup {
 public:
  // Refusals of a chosen file, in the order they are tested; an empty message accepts it.
  // `editedPath` is the key of the job being edited (empty when adding): choosing it again is
  // not a duplicate.
  static DialogMessage CheckFile(const QString& path, const cf::UploadQueue& queue,
                                 const QString& editedPath);
  static bool IsProjectPath(const QString& path);
  static bool IsMp4Path(const QString& path);

  // A newly accepted file: the default choices, nothing probed yet.
  void StartFile(const QString& path);
  // Takes over what the probe learned, and the file's size and modification time.
  void ApplyProbe(const VideoInfo& info);
  // Takes over a recorded project's length; a project has no frame size of its own.
  void ApplyProject(const QString& durationText, int32_t seconds);
  // Forgets the source (a failed probe or a refused project).
  void ClearFile();

  // Opens the chosen project (the shared project) and tests its version against what the server
  // accepts. False when it cannot be read, or, with `refusal` set, when it is too new. On success
  // the file's size and time are taken over and `title` and `author` hold the project's own.
  bool OpenProject(const ServerCaps& caps, bool quiet, QString* title, QString* author,
                   DialogMessage* refusal);
  // Writes a changed title or author into the opened project and saves it. True when nothing
  // needed saving or the save worked.
  static bool SaveProjectTexts(const QString& title, const QString& author);

  // Which conversions the server and the file allow; a current choice that is not allowed falls
  // back to local conversion.
  struct ConversionChoices {
    bool local = false;
    bool server = false;
    bool noConversion = false;
  };
  ConversionChoices ApplyConversionRule(const ServerCaps& caps, bool groupEnabled);
  // Which resolutions may be chosen; a current resolution that is not allowed moves on to the
  // next allowed one. Nothing is allowed without conversion or with the group disabled.
  cf::estimate::ResolutionChoices ApplyResolutionRule(const ServerCaps& caps, bool groupEnabled);

  // An option click: refused (false) when the upload would exceed the limit; otherwise the choice
  // is taken and the custom bandwidth reset.
  bool ChooseConversion(int32_t conversion);
  bool ChooseResolution(int32_t resolution);

  // Recomputes the destination frame and bitrates from the current choices.
  void Recompute();

  // The job OK queues, with `state` empty.
  cf::UploadJob BuildJob(const JobServer& server, const ServerCaps& caps, bool encryptPassword,
                         const QString& title, const QString& author) const;

  const cf::estimate::Source& source() const { return source_; }
  QString path() const { return path_; }

  QString duration;
  bool bInterlaced = false;
  int32_t dstCvtType = cf::estimate::kLocalCvt;
  int32_t dstResType = cf::estimate::kStandardRes;
  int32_t customBps = 0;
  int32_t videoWidth = 0;
  int32_t videoHeight = 0;
  QString vBitRate;
  QString aBitRate;
  int32_t totalKbps = 0;
  QString dateLastModified;

 private:
  QString path_;
  cf::estimate::Source source_;
};
