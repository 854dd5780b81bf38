#include "app/queue/UploadQueue.h"

#include <algorithm>

namespace cf {

UploadQueue& UploadQueue::Instance() {
  static UploadQueue queue;
  return queue;
}

bool UploadQueue::Add(const QString& fileName, const QString& title, const QString& Author,
                      const QString& path, const QString& duration, int32_t secDuration,
                      int32_t videoWidth, int32_t videoHeight, int32_t srcVideoWidth,
                      int32_t srcVideoHeight, const QString& vBitRate, const QString& aBitRate,
                      const QString& Url, const QString& account, const QString& password,
                      const QString& folderID, const QString& contentID, const QString& folderName,
                      const QString& sysVer, bool bEncPassword, int32_t dstCvtType,
                      int32_t dstResType, const QString& dstPostfix, int32_t customBps,
                      bool bInterlaced, int64_t fileSize, const QString& dateLastModified,
                      const QString& state) {
  UploadJob job;
  job.fileName = fileName;
  job.title = title;
  job.Author = Author;
  job.state = state;
  job.path = path;
  job.duration = duration;
  job.secDuration = secDuration;
  job.videoWidth = videoWidth;
  job.videoHeight = videoHeight;
  job.vBitRate = vBitRate;
  job.aBitRate = aBitRate;
  job.Url = Url;
  job.account = account;
  job.password = password;
  job.folderID = folderID;
  job.contentID = contentID;
  job.folderName = folderName;
  job.sysVer = sysVer;
  job.bEncPassword = bEncPassword;
  job.dstCvtType = dstCvtType;
  job.dstResType = dstResType;
  job.dstPostfix = dstPostfix;
  job.srcVideoWidth = srcVideoWidth;
  job.srcVideoHeight = srcVideoHeight;
  job.customBps = customBps;
  job.bInterlaced = bInterlaced;
  job.fileSize = fileSize;
  job.dateLastModified = dateLastModified;
  return Add(job);
}

bool UploadQueue::Add(const UploadJob& job) {
  // The key is the trimmed path, so that the row's path (stored trimmed) always finds the job.
  const QString key = job.path.trimmed();
  if (key.isEmpty() || m_byPath.contains(key)) return false;
  auto stored = std::make_unique<UploadJob>(job);
  stored->path = key;
  stored->title = job.title.trimmed();
  stored->Author = job.Author.trimmed();
  m_byPath.insert(key, stored.get());
  m_jobs.push_back(std::move(stored));
  return true;
}

void UploadQueue::Remove(const QString& path) {
  const auto found = m_byPath.find(path.trimmed());
  if (found == m_byPath.end()) return;
  const UploadJob* job = found.value();
  m_byPath.erase(found);
  const auto at = std::find_if(m_jobs.begin(), m_jobs.end(),
                               [job](const auto& held) { return held.get() == job; });
  if (at != m_jobs.end()) m_jobs.erase(at);
}

void UploadQueue::Clear() {
  m_byPath.clear();
  m_jobs.clear();
}

bool UploadQueue::itemExist(const QString& path) const { return m_byPath.contains(path.trimmed()); }

UploadJob* UploadQueue::item(int index) {
  if (index < 1 || index > Count()) return nullptr;
  return m_jobs[static_cast<size_t>(index - 1)].get();
}

const UploadJob* UploadQueue::item(int index) const {
  return const_cast<UploadQueue*>(this)->item(index);
}

UploadJob* UploadQueue::item(const QString& path) {
  return m_byPath.value(path.trimmed(), nullptr);
}

const UploadJob* UploadQueue::item(const QString& path) const {
  return m_byPath.value(path.trimmed(), nullptr);
}

}  // namespace cf
