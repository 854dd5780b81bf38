#pragma once

#include "app/media/ProcessRunner.h"
#include "app/queue/UploadJob.h"

#include <QString>

namespace cf {

// What the server receives for one job: the descriptions written into the work folder and the
// uncompressed archive of that folder. Every writer reports success; none throws.
class UploadPackage {
 public:
  static constexpr const char* kArchiveName = "mavo_file.zip";
  static constexpr const char* kFileListName = "fileList.xml";
  static constexpr const char* kVideoTemplateName = "default_video.xml";
  static constexpr const char* kKindVideo = "Video";
  static constexpr const char* kKindProject = "Quillbox";

  // What a recorded project's profile tells the server about it.
  struct ProjectMetadata {
    QString title;
    QString author;
    QString keywords;
    QString comments;
  };

  // Fills the work folder's mavo_profile.xml from the job (starting from the program folder's
  // template when the folder has none). `sendSource` adds the source file's name, size and size in
  // pixels. False when the profile cannot be made, read or saved, or lacks `type` or `metadata`.
  static bool WriteMetadataProfile(const QString& workFolder, const UploadJob& job, bool sendSource,
                                   QString* error = nullptr);

  // The profile of a recorded project whose own folder is `workFolder`: its texts, and the name of
  // the presentation kept beside the folder (or the folder's name when there is none).
  static bool WriteProjectMetadataProfile(const QString& workFolder, const ProjectMetadata& project,
                                          QString* error = nullptr);

  // The presentation recorded with a project: the ".ppt", else the ".pptx", named like the project
  // folder in its parent folder. Empty when there is neither.
  static QString PresentationFile(const QString& workFolder);

  // Clears the first attribute of `flv` (the injector writes its absolute file name there) and
  // puts the job's size in pixels into the injector's description.
  static bool WriteFlvDescription(const QString& xmlPath, int width, int height);

  // Completes the MP4 description copied from default_video.xml: size, duration in seconds and
  // one `value` per keyframe time of the list, up to its first empty line.
  static bool WriteMp4Description(const QString& xmlPath, const QString& keyframeListPath,
                                  const QString& duration, int width, int height);

  // Appends the job's `item` to the `video` element of the work folder's copy of fileList.xml.
  static bool WriteFileList(const QString& path, const UploadJob& job);
  // The caption of the file list's item: "720p" style for servers of the newer system.
  static QString FileListCaption(int videoWidth, const QString& sysVer);

  // "h:m:s" (any number of ":"-separated fields) as seconds.
  static double DurationSeconds(const QString& duration);

  // Stores every file below `workFolder` without compression in `archiveFile` by running zip in
  // that folder. A `presentation` is copied in for the time of packing and removed again. True when
  // the archive exists afterwards; a cancelled `cancel` ends zip, leaving a partial archive.
  static bool Pack(const QString& workFolder, const QString& archiveFile,
                   const QString& presentation = {}, const CancelToken& cancel = {});

  // Deletes a file, trying up to `tries` times half a second apart while events are handled; a
  // missing file counts as deleted.
  static bool kqLoopDeleteFile(const QString& path, int tries);
};

}  // namespace cf
