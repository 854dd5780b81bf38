#include "app/queue/UploadQueue.h"

#include <QSet>

#include <algorithm>

namespace cf {
namespace {

// Whether a job may enter the queue under its trimmed path; fills in the trimmed texts.
void Normalize(UploadJob& job) {
  job.path = job.path.trimmed();
  job.title = job.title.trimmed();
  job.Author = job.Author.trimmed();
}

void ResetLive(UploadJob& job, bool keepFailed) {
  job.times = {};
  if (keepFailed && job.live == JobState::Failed) return;
  job.live = JobState::Waiting;
  job.errorText.clear();
}

}  // namespace

UploadQueue::UploadQueue(QObject* parent) : QObject(parent) {}

UploadQueue::~UploadQueue() = default;

bool UploadQueue::Add(const UploadJob& job) {
  std::vector<UploadJob> one;
  one.push_back(job);
  return AddMany(std::move(one)) == 1;
}

int UploadQueue::AddMany(std::vector<UploadJob> jobs) {
  std::vector<std::unique_ptr<UploadJob>> held;
  held.reserve(jobs.size());
  for (UploadJob& job : jobs) held.push_back(std::make_unique<UploadJob>(std::move(job)));
  jobs.clear();
  return AddMany(std::move(held));
}

int UploadQueue::AddMany(std::vector<std::unique_ptr<UploadJob>> jobs) {
  return Append(std::move(jobs), false);
}

int UploadQueue::AddSaved(std::vector<std::unique_ptr<UploadJob>> jobs) {
  return Append(std::move(jobs), true);
}

int UploadQueue::Append(std::vector<std::unique_ptr<UploadJob>> jobs, bool keepFailed) {
  std::vector<std::unique_ptr<UploadJob>> accepted;
  accepted.reserve(jobs.size());
  QSet<QString> seen;
  for (std::unique_ptr<UploadJob>& job : jobs) {
    Normalize(*job);
    if (job->path.isEmpty() || m_byPath.contains(job->path) || seen.contains(job->path)) continue;
    seen.insert(job->path);
    ResetLive(*job, keepFailed);
    accepted.push_back(std::move(job));
  }
  jobs.clear();
  if (accepted.empty()) return 0;
  const int first = RowCount();
  const int last = first + static_cast<int>(accepted.size()) - 1;
  emit rowsAboutToBeAdded(first, last);
  m_jobs.reserve(m_jobs.size() + accepted.size());
  m_rows.reserve(m_rows.size() + accepted.size());
  for (auto& stored : accepted) {
    UploadJob* job = stored.get();
    m_byPath.insert(job->path, job);
    if (!m_rowIndexStale) m_rowOf.insert(job, RowCount());
    m_rows.push_back(job);
    m_jobs.push_back(std::move(stored));
  }
  emit rowsAdded(first, last);
  emit queueChanged();
  return static_cast<int>(accepted.size());
}

bool UploadQueue::Replace(const QString& oldPath, const UploadJob& job) {
  UploadJob* old = Find(oldPath);
  if (old == nullptr) return false;
  UploadJob replacement = job;
  Normalize(replacement);
  if (replacement.path.isEmpty()) return false;
  const UploadJob* holder = Find(replacement.path);
  if (holder != nullptr && holder != old) return false;

  // The row keeps its place and what it recorded; the job goes to the end of the collection.
  replacement.live = JobState::Waiting;
  replacement.errorText = old->errorText;
  replacement.times = old->times;
  const int row = RowOf(old->path);
  std::unique_ptr<UploadJob> taken = TakeFromCollection(old);
  m_byPath.remove(old->path);
  auto stored = std::make_unique<UploadJob>(std::move(replacement));
  UploadJob* fresh = stored.get();
  m_rows[static_cast<size_t>(row - 1)] = fresh;
  m_rowOf.remove(old);
  m_rowOf.insert(fresh, row - 1);
  m_byPath.insert(fresh->path, fresh);
  m_jobs.push_back(std::move(stored));
  taken.reset();
  Changed(*fresh, true);
  return true;
}

void UploadQueue::Remove(const QString& path) { RemoveMany({path}); }

void UploadQueue::RemoveMany(const QStringList& paths) {
  QSet<const UploadJob*> doomed;
  for (const QString& path : paths) {
    if (const UploadJob* job = Find(path)) doomed.insert(job);
  }
  if (doomed.isEmpty()) return;
  // Rows go as runs of neighbours, from the bottom up, so each signal names rows that still
  // stand where it says.
  std::vector<int> rows;
  rows.reserve(static_cast<size_t>(doomed.size()));
  for (const UploadJob* job : doomed) rows.push_back(RowOf(job->path) - 1);
  std::sort(rows.begin(), rows.end());
  size_t end = rows.size();
  while (end > 0) {
    size_t begin = end - 1;
    while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
    RemoveRowRange(rows[begin], rows[end - 1]);
    end = begin;
  }
  for (const UploadJob* job : doomed) m_byPath.remove(job->path);
  std::erase_if(m_jobs, [&](const auto& held) { return doomed.contains(held.get()); });
  emit queueChanged();
}

void UploadQueue::RemoveRowRange(int first, int last) {
  emit rowsAboutToBeRemoved(first, last);
  const bool atEnd = last == RowCount() - 1;
  for (int row = first; row <= last; ++row) m_rowOf.remove(m_rows[static_cast<size_t>(row)]);
  m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
  // Rows at the end move nobody else, so the index stays exact without a rebuild.
  if (!atEnd) m_rowIndexStale = true;
  emit rowsRemoved(first, last);
}

void UploadQueue::Clear() {
  if (m_jobs.empty()) return;
  emit aboutToReset();
  m_rows.clear();
  m_rowOf.clear();
  m_rowIndexStale = false;
  m_byPath.clear();
  m_jobs.clear();
  emit wasReset();
  emit queueChanged();
}

void UploadQueue::SwapRows(int a, int b) {
  if (a < 1 || b < 1 || a > RowCount() || b > RowCount() || a == b) return;
  std::swap(m_rows[static_cast<size_t>(a - 1)], m_rows[static_cast<size_t>(b - 1)]);
  m_rowIndexStale = true;
  emit rowsSwapped(a - 1, b - 1);
  emit queueChanged();
}

bool UploadQueue::itemExist(const QString& path) const { return Find(path) != nullptr; }

UploadJob* UploadQueue::item(int index) {
  if (index < 1 || index > Count()) return nullptr;
  return m_jobs[static_cast<size_t>(index - 1)].get();
}

const UploadJob* UploadQueue::item(int index) const {
  return const_cast<UploadQueue*>(this)->item(index);
}

UploadJob* UploadQueue::item(const QString& path) { return Find(path); }

const UploadJob* UploadQueue::item(const QString& path) const { return Find(path); }

const UploadJob* UploadQueue::AtRow(int row) const {
  if (row < 1 || row > RowCount()) return nullptr;
  return m_rows[static_cast<size_t>(row - 1)];
}

int UploadQueue::RowOf(const QString& path) const {
  const UploadJob* job = Find(path);
  if (job == nullptr) return 0;
  if (m_rowIndexStale) RebuildRowIndex();
  return m_rowOf.value(job, -1) + 1;
}

bool UploadQueue::SetState(const QString& path, JobState state) {
  UploadJob* job = Find(path);
  if (job == nullptr) return false;
  const bool moved = job->live != state;
  job->live = state;
  Changed(*job, moved);
  return true;
}

bool UploadQueue::SetFailure(const QString& path, const QString& text) {
  UploadJob* job = Find(path);
  if (job == nullptr) return false;
  job->errorText = text;
  job->live = JobState::Failed;
  // The text is kept in the queue file with the state, so a new text alone is a change too.
  Changed(*job, true);
  return true;
}

bool UploadQueue::SetErrorText(const QString& path, const QString& text) {
  UploadJob* job = Find(path);
  if (job == nullptr) return false;
  job->errorText = text;
  Changed(*job, job->live == JobState::Failed);
  return true;
}

bool UploadQueue::Retry(const QString& path) {
  UploadJob* job = Find(path);
  if (job == nullptr || job->live != JobState::Failed) return false;
  job->errorText.clear();
  job->live = JobState::Waiting;
  Changed(*job, true);
  return true;
}

bool UploadQueue::StampTime(const QString& path, JobTime which) {
  return SetTime(path, which, QTime::currentTime());
}

bool UploadQueue::SetTime(const QString& path, JobTime which, const QTime& time) {
  UploadJob* job = Find(path);
  if (job == nullptr) return false;
  // The grid shows whole seconds; keeping only those makes a shown time read back the same.
  job->times[static_cast<size_t>(which)] =
      time.isValid() ? QTime(time.hour(), time.minute(), time.second()) : QTime();
  Changed(*job, false);
  return true;
}

bool UploadQueue::UpdateShown(const QString& path, const QString& fileName, const QString& title,
                              const QString& author, const QString& url,
                              const QString& folderName) {
  UploadJob* job = Find(path);
  if (job == nullptr) return false;
  job->fileName = fileName;
  job->title = title;
  job->Author = author;
  job->Url = url;
  job->folderName = folderName;
  job->live = JobState::Waiting;
  Changed(*job, true);
  return true;
}

QString UploadQueue::NextWaiting() const {
  const int row = FirstRowInState(JobState::Waiting);
  return row == 0 ? QString() : AtRow(row)->path;
}

int UploadQueue::FirstRowInState(JobState state) const {
  for (size_t i = 0; i < m_rows.size(); ++i) {
    if (m_rows[i]->live == state) return static_cast<int>(i) + 1;
  }
  return 0;
}

UploadJob* UploadQueue::Find(const QString& path) const {
  const auto found = m_byPath.constFind(path);
  if (found != m_byPath.constEnd()) return found.value();
  // Callers pass paths as typed; the key is trimmed. Trimming only on a miss keeps the common
  // lookup free of a copy.
  const QString trimmed = path.trimmed();
  if (trimmed.size() == path.size()) return nullptr;
  return m_byPath.value(trimmed, nullptr);
}

std::unique_ptr<UploadJob> UploadQueue::TakeFromCollection(const UploadJob* job) {
  const auto at = std::find_if(m_jobs.begin(), m_jobs.end(),
                               [job](const auto& held) { return held.get() == job; });
  if (at == m_jobs.end()) return nullptr;
  std::unique_ptr<UploadJob> taken = std::move(*at);
  m_jobs.erase(at);
  return taken;
}

void UploadQueue::RebuildRowIndex() const {
  m_rowOf.clear();
  m_rowOf.reserve(static_cast<qsizetype>(m_rows.size()));
  for (size_t i = 0; i < m_rows.size(); ++i) m_rowOf.insert(m_rows[i], static_cast<int>(i));
  m_rowIndexStale = false;
}

void UploadQueue::Changed(const UploadJob& job, bool keptInFile) {
  emit jobChanged(job.path);
  if (keptInFile) emit queueChanged();
}

}  // namespace cf
