#include "app/queue/QueueCommands.h"

#include "app/queue/KeptWork.h"
#include "app/queue/QueueFile.h"
#include "app/queue/UploadQueue.h"

#include <QFileInfo>

#include <algorithm>

namespace cf {
namespace {

QueueMessage Localized(const char* key, const char* defaultText = "") {
  return {QString::fromLatin1(key), QString::fromLatin1(defaultText)};
}

QueueMessage Fixed(const char* text) { return {QString(), QString::fromLatin1(text)}; }

// An edit that changes what the conversion makes, or the source, leaves nothing worth keeping; nor
// does the edit of a finished job, whose work recorded the content it became on the server.
bool KeepsWork(const UploadJob& before, const UploadJob& after, bool wasFinished) {
  return !wasFinished && before.path == after.path.trimmed() &&
         KeptWork::ConversionKey(before, {}, false) == KeptWork::ConversionKey(after, {}, false);
}

}  // namespace

QueueButtons QueueCommands::SelectionRule(JobState state) {
  if (state == JobState::Transfering) return {false, false};
  return {state != JobState::Finished, true};
}

QueueButtons QueueCommands::selectionRuleForRow(int row) const {
  const UploadJob* job = m_queue.AtRow(row);
  if (job == nullptr) return {};
  return SelectionRule(job->live);
}

QueueMessage QueueCommands::checkAdd() const {
  if (m_queue.AnyInState(JobState::Transfering)) return Localized("msgCmdWhenTransfering");
  return {};
}

RemoveOutcome QueueCommands::removeSelected(const QList<int>& selectedRows) {
  RemoveOutcome outcome;
  QList<int> rows = selectedRows;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

  bool refused = false;
  QStringList paths;
  for (const int row : rows) {
    const UploadJob* job = m_queue.AtRow(row);
    if (job == nullptr) continue;
    if (job->live == JobState::Transfering) {
      refused = true;
      continue;
    }
    paths << job->path;
  }
  // One pass however long the selection, so removing thousands of rows stays cheap.
  m_queue.RemoveMany(paths);
  outcome.removed = static_cast<int>(paths.size());

  if (refused) {
    outcome.message =
        Localized("msgRemoveTransferingFile", "The transfering file cannot be removed!");
  }
  outcome.disableStartUpload = !m_queue.AnyInState(JobState::Waiting);
  return outcome;
}

QueueMessage QueueCommands::clearAllQuestion() const {
  if (m_queue.RowCount() == 0) return {};
  return m_queue.AnyInState(JobState::Transfering) ? Localized("msgClearAll_1")
                                                   : Localized("msgClearAll_2");
}

ClearAllOutcome QueueCommands::clearAll() {
  ClearAllOutcome outcome;
  const int rowCount = m_queue.RowCount();
  const int running = m_queue.FirstRowInState(JobState::Transfering);
  if (running != 0 && running != rowCount) m_queue.SwapRows(running, rowCount);
  // Everything above the first running row goes; with the running job moved to the bottom
  // that is every other row, and the running one ends up first.
  int keepFrom = m_queue.FirstRowInState(JobState::Transfering);
  if (keepFrom == 0) keepFrom = rowCount + 1;
  QStringList paths;
  for (int row = 1; row < keepFrom; ++row) paths << m_queue.AtRow(row)->path;
  m_queue.RemoveMany(paths);
  outcome.removed = keepFrom - 1;
  return outcome;
}

EditCheck QueueCommands::checkEdit(const QList<int>& selectedRows) const {
  EditCheck check;
  if (m_queue.AnyInState(JobState::Transfering)) {
    check.message = Localized("msgCmdWhenTransfering");
    return check;
  }
  QList<int> rows;
  for (const int row : selectedRows) {
    if (row >= 1 && row <= m_queue.RowCount() && !rows.contains(row)) rows << row;
  }
  if (rows.size() > 1) {
    check.message = Localized("msgEditMultiRows", "Cannot edit more than one videos!");
    return check;
  }
  if (rows.isEmpty()) {
    check.message = Fixed("Please select a row.");
    return check;
  }
  check.row = rows.first();
  const UploadJob* job = m_queue.AtRow(check.row);
  check.path = job->path;
  if (job->live == JobState::Transfering) {
    check.message = Fixed("The transfering file cannot be edited.");
    return check;
  }
  if (!QFileInfo(check.path).isFile()) {
    check.outcome = EditCheck::Outcome::FileMissing;
    check.message = Localized("msgFileNotExist");
    return check;
  }
  check.outcome = EditCheck::Outcome::Ready;
  return check;
}

bool QueueCommands::beginEdit(const QString& path) {
  UploadJob* job = m_queue.item(path);
  if (job == nullptr) return false;
  job->state = StateText(job->live);
  m_queue.SetState(path, JobState::Editing);
  return true;
}

void QueueCommands::endEditUnchanged(const QString& path) {
  const UploadJob* job = m_queue.item(path);
  if (job == nullptr || job->live != JobState::Editing) return;
  m_queue.SetState(path, StateFromText(job->state).value_or(JobState::Waiting));
}

bool QueueCommands::commitAdd(const std::optional<UploadJob>& job) {
  return job && m_queue.Add(*job);
}

bool QueueCommands::commitEdit(const QString& editedPath, const std::optional<UploadJob>& job) {
  const UploadJob* edited = m_queue.item(editedPath);
  const UploadJob before = edited != nullptr ? *edited : UploadJob{};
  if (job && m_queue.Replace(editedPath, *job)) {
    if (!KeepsWork(before, *job, before.state == StateText(JobState::Finished))) {
      KeptWork::Discard(before.path);
    }
    return true;
  }
  endEditUnchanged(editedPath);
  return false;
}

int QueueCommands::commitBatch(const std::vector<UploadJob>& jobs) {
  std::vector<UploadJob> fresh;
  int replaced = 0;
  for (const UploadJob& job : jobs) {
    if (const UploadJob* queued = m_queue.item(job.path)) {
      const UploadJob before = *queued;
      if (!m_queue.Replace(job.path, job)) continue;
      ++replaced;
      if (!KeepsWork(before, job, before.live == JobState::Finished))
        KeptWork::Discard(before.path);
    } else {
      fresh.push_back(job);
    }
  }
  return replaced + m_queue.AddMany(std::move(fresh));
}

void QueueCommands::resolveMissingFile(const QString& path, bool removeJob) {
  if (removeJob) {
    m_queue.Remove(path);
  } else {
    m_queue.SetFailure(path, QStringLiteral("File not found"));
  }
}

QByteArray QueueCommands::RetryMessage(const QStringList& paths) {
  QByteArray message(kRetryMessage);
  for (const QString& path : paths) message += path.toUtf8() + '\n';
  return message;
}

RetryOutcome QueueCommands::retry(const QStringList& paths) {
  RetryOutcome outcome;
  QStringList named = paths;
  if (named.isEmpty()) {
    for (int row = 1; row <= m_queue.RowCount(); ++row) {
      if (m_queue.AtRow(row)->live == JobState::Failed) named << m_queue.AtRow(row)->path;
    }
  }
  for (const QString& path : std::as_const(named)) {
    const char* verdict = "retried ";
    if (!m_queue.itemExist(path)) {
      verdict = "unknown ";
    } else if (!m_queue.Retry(path)) {
      verdict = "not-failed ";
    }
    outcome.answer += verdict + path.toUtf8() + '\n';
    if (verdict[0] == 'r') {
      ++outcome.retried;
    } else {
      ++outcome.refused;
    }
  }
  return outcome;
}

QStringList QueueCommands::failedAmong(const QList<int>& selectedRows) const {
  QStringList paths;
  for (const int row : selectedRows) {
    const UploadJob* job = m_queue.AtRow(row);
    if (job != nullptr && job->live == JobState::Failed && !paths.contains(job->path)) {
      paths << job->path;
    }
  }
  return paths;
}

HandedJobs QueueCommands::acceptHanded(const QByteArray& document) {
  HandedJobs result;
  if (document.startsWith(kRetryMessage)) {
    QStringList paths;
    for (const QByteArray& line : document.mid(qstrlen(kRetryMessage)).split('\n')) {
      if (!line.isEmpty()) paths << QString::fromUtf8(line);
    }
    const RetryOutcome retried = retry(paths);
    return {retried.answer, retried.retried};
  }
  UploadQueue handed;
  if (!QueueFile::Parse(document, handed)) return result;
  std::vector<UploadJob> jobs;
  for (int i = 1; i <= handed.Count(); ++i) {
    const UploadJob& job = *handed.item(i);
    const bool fresh = !m_queue.itemExist(job.path);
    result.answer += (fresh ? "added " : "queued ") + job.path.toUtf8() + '\n';
    if (fresh) jobs.push_back(job);
  }
  result.added = m_queue.AddMany(std::move(jobs));
  return result;
}

}  // namespace cf
