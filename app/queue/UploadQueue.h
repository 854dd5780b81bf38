#pragma once

#include "app/queue/UploadJob.h"

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

namespace cf {

// The program's ordered, keyed collection of jobs. The key is the job's trimmed path, compared
// exactly: paths on this platform are case-sensitive, so two files differing only in letter case
// are two jobs. Jobs keep their address while they are queued, so a pointer from item() stays
// valid until that job is removed.
class UploadQueue {
 public:
  UploadQueue() = default;
  UploadQueue(const UploadQueue&) = delete;
  UploadQueue& operator=(const UploadQueue&) = delete;

  // The one queue of the running program.
  static UploadQueue& Instance();

  // Appends a job under its trimmed path. Returns false, and adds nothing, when that path is
  // already queued or is empty. title, Author and path are stored trimmed.
  bool Add(const QString& fileName, const QString& title, const QString& Author,
           const QString& path, const QString& duration, int32_t secDuration, int32_t videoWidth,
           int32_t videoHeight, int32_t srcVideoWidth, int32_t srcVideoHeight,
           const QString& vBitRate, const QString& aBitRate, const QString& Url,
           const QString& account, const QString& password, const QString& folderID,
           const QString& contentID, const QString& folderName, const QString& sysVer,
           bool bEncPassword, int32_t dstCvtType, int32_t dstResType, const QString& dstPostfix,
           int32_t customBps, bool bInterlaced, int64_t fileSize, const QString& dateLastModified,
           const QString& state = QString());
  // The same, taking every field (state included) from a filled-in record.
  bool Add(const UploadJob& job);

  // Removes the job with that key; nothing happens when there is none.
  void Remove(const QString& path);
  void Clear();

  bool itemExist(const QString& path) const;
  int Count() const { return static_cast<int>(m_jobs.size()); }

  // By 1-based position or by key; nullptr when there is no such job.
  UploadJob* item(int index);
  const UploadJob* item(int index) const;
  UploadJob* item(const QString& path);
  const UploadJob* item(const QString& path) const;

 private:
  std::vector<std::unique_ptr<UploadJob>> m_jobs;
  QHash<QString, UploadJob*> m_byPath;
};

}  // namespace cf
