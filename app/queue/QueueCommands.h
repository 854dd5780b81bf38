#pragma once

#include "app/queue/UploadJob.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace cf {

class UploadQueue;

// A message the window must show: looked up by `key` in section frmUpload with `text` as the
// default, or `text` as it stands when `key` is empty. Empty when there is nothing to show.
struct QueueMessage {
  QString key;
  QString text;

  bool isEmpty() const { return key.isEmpty() && text.isEmpty(); }
};

// Which of the queue buttons a selected row allows.
struct QueueButtons {
  bool editEnabled = false;
  bool removeEnabled = false;
};

struct RemoveOutcome {
  int removed = 0;
  QueueMessage message;  // the refusal for a running row, once however many were selected
  bool disableStartUpload = false;  // nothing is waiting any more
};

struct ClearAllOutcome {
  int removed = 0;
  bool disableStartUpload = true;
};

struct EditCheck {
  enum class Outcome {
    Refused,      // show `message`, open nothing
    FileMissing,  // ask `message` with Yes (remove the job) and No (mark it "File not found")
    Ready,        // call BeginEdit and open the dialog
  };
  Outcome outcome = Outcome::Refused;
  QueueMessage message;
  int row = 0;
  QString path;
};

// The queue commands of the main window as engine logic: the window passes the selected row
// numbers (1-based), shows what comes back and sets its buttons; the queue and its rows change
// here. A running ("Transfering") row is never removed or opened by any of them.
// What became of jobs handed over by another process.
struct HandedJobs {
  QByteArray answer;  // a line per job for the sender: "added PATH" or "queued PATH"
  int added = 0;
};

// What Retry did with the jobs it was given.
struct RetryOutcome {
  // A line per job: "retried PATH", "not-failed PATH" or "unknown PATH".
  QByteArray answer;
  int retried = 0;
  int refused = 0;  // jobs named that are not queued or not failed
};

class QueueCommands {
 public:
  // What clipferry-cli retry hands to a running window: this line, then the paths one to a line;
  // the line alone means every failed job.
  static constexpr char kRetryMessage[] = "clipferry-retry\n";
  static QByteArray RetryMessage(const QStringList& paths);

  explicit QueueCommands(UploadQueue& queue) : m_queue(queue) {}

  // Jobs handed over as a queue document (clipferry-cli add while the window runs): the new ones
  // are appended, the ones already queued are left as they are. A retry message (see
  // RetryMessage) puts the jobs it names back to "Waiting"; `added` counts them.
  HandedJobs acceptHanded(const QByteArray& document);

  // Retry: the failed jobs among `paths`, or every failed job when `paths` is empty, go back to
  // "Waiting" with their failure forgotten.
  RetryOutcome retry(const QStringList& paths);
  // The selected rows that Retry would put back.
  QStringList failedAmong(const QList<int>& selectedRows) const;

  // Edit and Remove for a row in this state.
  static QueueButtons SelectionRule(JobState state);
  // The same for a row of the grid; both off when there is no such row.
  QueueButtons selectionRuleForRow(int row) const;

  // Add and AddKqp are refused while a job runs.
  QueueMessage checkAdd() const;

  // Removes the selected jobs and their rows, from the last to the first, keeping a running row.
  RemoveOutcome removeSelected(const QList<int>& selectedRows);

  // The question to ask before Clear All; empty when the grid is empty (nothing happens then).
  QueueMessage clearAllQuestion() const;
  // Removes every job but the running one, which ends up as row 1.
  ClearAllOutcome clearAll();

  // Steps of Edit that come before the dialog opens.
  EditCheck checkEdit(const QList<int>& selectedRows) const;
  // Remembers the row's state in the job so a cancelled edit can restore it, and marks the row
  // "Editing".
  bool beginEdit(const QString& path);
  // A closed dialog that did not replace the job: the row gets its saved state back.
  void endEditUnchanged(const QString& path);
  // What the add and edit dialogs hand back; these are the window's one way to put their jobs
  // into the queue. An edit confirmed with a job puts it in place of the edited one ("Waiting");
  // an edit closed without one gives the row its saved state back. Each returns whether a job
  // went in.
  bool commitAdd(const std::optional<UploadJob>& job);
  bool commitEdit(const QString& editedPath, const std::optional<UploadJob>& job);
  // Batch add: a job whose path is queued replaces that job, the others are appended together.
  // Returns how many went in.
  int commitBatch(const std::vector<UploadJob>& jobs);

  // Answer to the question about a vanished source: Yes removes the job, No marks it failed.
  void resolveMissingFile(const QString& path, bool removeJob);

 private:
  UploadQueue& m_queue;
};

}  // namespace cf
