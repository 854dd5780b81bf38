#pragma once

#include <QByteArray>
#include <QString>

namespace cf {

// Where an archive's upload session stands, kept in a small file beside the archive so that an
// upload broken off (the link, a crash, a pause) continues at the next block instead of sending
// everything again. It names the archive by size, modification time and content hash, and the
// target it was sent to, so it is never applied to another archive or another server.
struct ResumeRecord {
  // The size of the blocks `nextSeqno` counts: the upload sends the archive in blocks of this size.
  static constexpr qint64 kBlockBytes = 524288;

  QString target;  // server address, account, folder and content number
  QString sessionId;
  int nextSeqno = 0;
  QString urlValue;
  qint64 archiveSize = -1;
  qint64 archiveModifiedMs = -1;
  QByteArray archiveSha256;  // lower-case hex

  static QString PathFor(const QString& archive);
  static QString Target(const QString& address, const QString& account, int folderID,
                        int contentNumber);
  // The SHA-256 of a file's content in lower-case hex; empty when it cannot be read.
  static QByteArray HashFile(const QString& path);
  // The same, read on a worker thread while this thread's events keep flowing: the archive of a
  // two-hour lecture takes seconds to read, and the window must not freeze meanwhile.
  static QByteArray HashFileWhileEventsRun(const QString& path);

  // False when there is no record or it is not sound.
  static bool Load(const QString& archive, ResumeRecord* record);
  // The record's text, as Load reads it and Save writes it.
  static bool Parse(const QByteArray& text, ResumeRecord* record);
  QByteArray Serialize() const;
  // Written whole or not at all.
  bool Save(const QString& archive) const;
  static void Remove(const QString& archive);

  // The archive still has the size and time it had; the hash is compared only then.
  bool Describes(const QString& archive) const;
};

}  // namespace cf
