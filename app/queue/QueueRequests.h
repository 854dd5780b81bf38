#pragma once

#include <QByteArray>
#include <QString>

namespace cf {

class QueueCommands;
class UploadQueue;

// What another process asks of the queue's owner: clipferry-cli sends it to the running window,
// or applies it to the queue file itself when no window runs. A queue document adds its jobs,
// RemoveRequest one job, ClearRequest every job but a running one. The answer has a line per job
// concerned: "added", "queued" (already there), "removed", "running" (kept: it is being sent) or
// "unknown" (not queued), a blank and the path.
struct QueueRequestResult {
  QByteArray answer;
  int added = 0;
  int removed = 0;
};

QByteArray RemoveRequest(const QString& path);
QByteArray ClearRequest();

QueueRequestResult AnswerQueueRequest(QueueCommands& commands, UploadQueue& queue,
                                      const QByteArray& request);

}  // namespace cf
