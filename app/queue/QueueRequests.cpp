#include "app/queue/QueueRequests.h"

#include "app/queue/QueueCommands.h"
#include "app/queue/UploadQueue.h"

#include <QStringList>

namespace cf {
namespace {

// Neither can start a queue document, which begins with its XML declaration or element.
constexpr char kRemove[] = "remove\n";
constexpr char kClear[] = "clear\n";

QByteArray Line(const char* what, const QString& path) {
  return QByteArray(what) + ' ' + path.toUtf8() + '\n';
}

}  // namespace

QByteArray RemoveRequest(const QString& path) { return kRemove + path.toUtf8(); }

QByteArray ClearRequest() { return kClear; }

QueueRequestResult AnswerQueueRequest(QueueCommands& commands, UploadQueue& queue,
                                      const QByteArray& request) {
  QueueRequestResult result;
  if (request.startsWith(kRemove)) {
    const QString path = QString::fromUtf8(request.mid(qsizetype(sizeof kRemove) - 1));
    const int row = queue.RowOf(path);
    if (row == 0) {
      result.answer = Line("unknown", path);
      return result;
    }
    // The window's Remove, for that one row: a running job stays.
    result.removed = commands.removeSelected({row}).removed;
    result.answer = Line(result.removed > 0 ? "removed" : "running", path);
    return result;
  }
  if (request == kClear) {
    QStringList removed;
    for (int row = 1; row <= queue.RowCount(); ++row) {
      const UploadJob* job = queue.AtRow(row);
      if (job->live == JobState::Transfering) {
        result.answer += Line("running", job->path);
      } else {
        removed << job->path;
      }
    }
    result.removed = commands.clearAll().removed;
    for (const QString& path : std::as_const(removed)) result.answer += Line("removed", path);
    return result;
  }
  const HandedJobs handed = commands.acceptHanded(request);
  result.answer = handed.answer;
  result.added = handed.added;
  return result;
}

}  // namespace cf
