#pragma once

#include "app/queue/UploadJob.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace cf {

// The store of queued jobs: the only way a job enters, changes or leaves the queue, and the
// source of every row the grid shows.
//
// It keeps two orders. The collection order (item(index), the queue file) is insertion order,
// except that a replaced (edited) job moves to its end; the row order (AtRow, the grid, the next
// waiting job) keeps an edited job in its place. The key is the job's trimmed path, compared
// exactly: paths here are case-sensitive, so two files differing only in letter case are two
// jobs. Jobs keep their address while they are queued, so a pointer from item() stays valid until
// that job is removed or replaced.
//
// Row numbers are 1-based and 0 means "no row", as the window and the driver count them.
class UploadQueue : public QObject {
  Q_OBJECT

 public:
  explicit UploadQueue(QObject* parent = nullptr);
  ~UploadQueue() override;
  UploadQueue(const UploadQueue&) = delete;
  UploadQueue& operator=(const UploadQueue&) = delete;

  // Appends a "Waiting" job, and its row, under its trimmed path. False, and nothing added, when
  // that path is already queued or is empty. title, Author and path are stored trimmed.
  bool Add(const UploadJob& job);
  // The same for many jobs at once, with one signal for all of them; returns how many were
  // added (duplicates are skipped).
  int AddMany(std::vector<UploadJob> jobs);
  int AddMany(std::vector<std::unique_ptr<UploadJob>> jobs);
  // Jobs read back from the queue file: the same, except that a "Failed" job keeps its state and
  // failure text (any other state comes back "Waiting").
  int AddSaved(std::vector<std::unique_ptr<UploadJob>> jobs);
  // An edited job: the job under `oldPath` is replaced by `job`, which goes to the end of the
  // collection while the row keeps its place and shows it "Waiting". False when there is no job
  // under `oldPath`, or `job`'s path belongs to another queued job.
  bool Replace(const QString& oldPath, const UploadJob& job);

  // Removes the job with that key, and its row; nothing happens when there is none.
  void Remove(const QString& path);
  // Removes several jobs in one pass.
  void RemoveMany(const QStringList& paths);
  void Clear();
  // Exchanges two rows; nothing happens unless both lie inside the queue.
  void SwapRows(int a, int b);

  bool itemExist(const QString& path) const;
  int Count() const { return static_cast<int>(m_jobs.size()); }

  // By 1-based collection position or by key; nullptr when there is no such job.
  UploadJob* item(int index);
  const UploadJob* item(int index) const;
  UploadJob* item(const QString& path);
  const UploadJob* item(const QString& path) const;

  // Rows: the jobs in the order the grid shows them.
  int RowCount() const { return static_cast<int>(m_rows.size()); }
  const UploadJob* AtRow(int row) const;
  // Row of the job whose path is exactly `path`; 0 when none.
  int RowOf(const QString& path) const;

  // Live state. Each returns false, changing nothing, when no job has that path.
  bool SetState(const QString& path, JobState state);
  // Records the failure text and marks the job "Failed".
  bool SetFailure(const QString& path, const QString& text);
  // Only the text; the state stays.
  bool SetErrorText(const QString& path, const QString& text);
  // Puts a "Failed" job back to "Waiting" and forgets its failure; false for any other job.
  bool Retry(const QString& path);
  // Records the current local time, or clears the stamp when `time` is invalid.
  bool StampTime(const QString& path, JobTime which);
  bool SetTime(const QString& path, JobTime which, const QTime& time);
  // Rewrites what the row shows of the job and marks it "Waiting" (the job stays in place).
  bool UpdateShown(const QString& path, const QString& fileName, const QString& title,
                   const QString& author, const QString& url, const QString& folderName);

  // Path of the first waiting job in row order; empty when none.
  QString NextWaiting() const;
  bool AnyInState(JobState state) const { return FirstRowInState(state) != 0; }
  int FirstRowInState(JobState state) const;

 signals:
  // Row numbers in these signals are 0-based, ready for a model's begin/end calls.
  void rowsAboutToBeAdded(int first, int last);
  void rowsAdded(int first, int last);
  void rowsAboutToBeRemoved(int first, int last);
  void rowsRemoved(int first, int last);
  void aboutToReset();
  void wasReset();
  // Something the row shows changed: a field, the state, the error text or a time.
  void jobChanged(const QString& path);
  void rowsSwapped(int a, int b);
  // Any change of the queue: a job added, removed, replaced, moved, its state changed or a failed
  // job's text. Time stamps, which the queue file does not keep, do not count.
  void queueChanged();

 private:
  UploadJob* Find(const QString& path) const;
  int Append(std::vector<std::unique_ptr<UploadJob>> jobs, bool keepFailed);
  // Takes the job out of the collection order (not of the rows); returns it.
  std::unique_ptr<UploadJob> TakeFromCollection(const UploadJob* job);
  void RemoveRowRange(int first, int last);
  void RebuildRowIndex() const;
  void Changed(const UploadJob& job, bool keptInFile);

  std::vector<std::unique_ptr<UploadJob>> m_jobs;  // collection order
  std::vector<UploadJob*> m_rows;                  // row order
  QHash<QString, UploadJob*> m_byPath;
  // Job -> 0-based row. Appends keep it current; other changes of the row order mark it stale
  // and the next lookup rebuilds it once.
  mutable QHash<const UploadJob*, int> m_rowOf;
  mutable bool m_rowIndexStale = false;
};

}  // namespace cf
