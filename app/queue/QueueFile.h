#pragma once

#include <QByteArray>
#include <QString>

namespace cf {

class UploadQueue;

// The queue kept across restarts in project.xml in the program folder. Jobs that are "Finished"
// are dropped; a "Failed" job comes back "Failed" with its text, every other job "Waiting".
class QueueFile {
 public:
  enum class LoadResult {
    Missing,     // no file: the queue stays empty
    Loaded,      // the jobs were queued (possibly none)
    Discarded,   // well-formed, but not a queue document; the file was deleted
    SetAside,    // not readable as XML; renamed aside (see Load's `asidePath`), nothing queued
    Unreadable,  // the file could not be read; it is left alone
  };

  static constexpr char kFileName[] = "project.xml";
  static constexpr char kEmptyDocument[] =
      "<?xml version=\"1.0\"?><clipferry ver=\"2.120222\"><queue></queue></clipferry>";

  // The queue file of a program folder.
  static QString PathIn(const QString& programFolder);

  // Queues the file's jobs. A job whose path is already queued is skipped. A file
  // that is not XML at all may be a damaged queue the user wants back, so it is renamed to
  // "<file>.bad-<date and time>" (named in `asidePath`) instead of being deleted.
  static LoadResult Load(const QString& filePath, UploadQueue& queue, QString* asidePath = nullptr);
  // The same over a document's text, without touching any file; false when it is not a queue
  // document.
  static bool Parse(const QByteArray& text, UploadQueue& queue);

  // Writes every job that is not "Finished", in collection order, replacing the file atomically
  // with a file only its owner can read (it holds passwords). When no job is written the file is
  // deleted. On failure the previous file stays as it was and false is returned. `written` gets
  // the count.
  static bool Save(const QString& filePath, const UploadQueue& queue, int* written = nullptr);
  // The document text Save writes (empty queue included).
  static QByteArray Serialize(const UploadQueue& queue, int* written = nullptr);

  // Puts CR LF between tags that touch, except between a start tag and its own end tag, so each
  // element with simple content stands on one line.
  static QByteArray BreakLines(const QByteArray& xml);
};

}  // namespace cf
