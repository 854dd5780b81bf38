#pragma once

#include "app/queue/Outcome.h"
#include "app/queue/UploadJob.h"

#include <QString>

namespace cf {

class UploadQueue;

// What a job has made so far, kept in the user's data folder until the job is finished, removed
// or edited to other settings: a converted video takes long to make again, and an upload that
// breaks off must find the same archive when it starts again.
//
//   <root>/<source base name>-<hash of the path>/
//       work/      the converted video, its pictures and descriptions (videos only)
//       archive/   the packed upload
//       stamp      the source and settings the steps were made from, and which steps completed
//
// A project is packed from its own folder, which is never deleted; only its archive is kept.
class KeptWork {
 public:
  // The folder holding the kept folders of the jobs queued in this program folder, in the user's
  // data folder ($XDG_DATA_HOME/clipferry/kept/...).
  static QString Root();
  // The job's kept folder; the name is readable and unique, and cannot leave the root.
  static QString FolderFor(const QString& sourcePath);
  // Deletes what the job with this source path kept.
  static void Discard(const QString& sourcePath);
  // Deletes every kept folder that belongs to no queued job still to be uploaded (finished jobs
  // and jobs that are gone, as after a crash), and the roots of program folders that were
  // deleted. Only folders named the way FolderFor and Root name them are touched.
  static void Sweep(const UploadQueue& queue);

  // What a conversion depends on besides the source: a change in any of these makes another video.
  static QString ConversionKey(const UploadJob& job, const QString& videoType, bool sendSource);
  // What the archive depends on besides the conversion (the descriptions packed with it).
  static QString PackingKey(const UploadJob& job, const QString& conversionKey);

  // Opens the job's kept folder, throwing away whatever was made from another version of the
  // source, and creates what is missing.
  Outcome Open(const UploadJob& job);

  QString folder() const { return folder_; }
  // Empty for a project.
  QString workFolder() const { return workFolder_; }
  QString archiveFolder() const { return archiveFolder_; }

  // Whether the work folder holds a finished conversion made with `conversionKey`. When it does
  // not, the work folder and the archive are emptied, ready for a fresh conversion.
  bool ReuseConversion(const QString& conversionKey);
  void MarkConverted(const QString& conversionKey);
  // Whether the archive is whole and packed from this conversion with these descriptions.
  bool ReuseArchive(const QString& packingKey) const;
  void MarkPacked(const QString& packingKey);
  // Forgets the archive before packing again, so a pack cut short never passes for a whole one.
  void ForgetArchive();

 private:
  struct Stamp {
    QString source;  // size and modification time of the source
    QString conversion;
    QString packing;
  };
  Stamp ReadStamp() const;
  bool WriteStamp() const;

  QString folder_;
  QString workFolder_;
  QString archiveFolder_;
  Stamp stamp_;
};

}  // namespace cf
