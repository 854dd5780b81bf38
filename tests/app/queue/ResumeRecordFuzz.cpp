// Feeds arbitrary bytes to the reader of an upload's resume record, a file that a crash or a full
// disk can leave cut short. A record it accepts names a later block inside the archive, and reads
// back the same once written.
#include "app/queue/ResumeRecord.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using cf::ResumeRecord;
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  ResumeRecord record;
  if (!ResumeRecord::Parse(text, &record)) return 0;
  if (record.sessionId.isEmpty() || record.nextSeqno <= 0 ||
      record.nextSeqno * cf::ResumeRecord::kBlockBytes >= record.archiveSize ||
      record.archiveSha256.size() != 64) {
    std::abort();
  }
  ResumeRecord again;
  if (!ResumeRecord::Parse(record.Serialize(), &again)) std::abort();
  if (again.target != record.target || again.sessionId != record.sessionId ||
      again.nextSeqno != record.nextSeqno || again.urlValue != record.urlValue ||
      again.archiveSize != record.archiveSize ||
      again.archiveModifiedMs != record.archiveModifiedMs ||
      again.archiveSha256 != record.archiveSha256) {
    std::abort();
  }
  return 0;
}
