#pragma once

#include "app/queue/UploadJob.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

namespace pugi {
class xml_node;
}

// The 28 field elements of a queued job as the queue file holds them: their names in file order,
// how each value is written as element text, and how a file element is read back into a job
// (with the optional state of a failed job after them).
namespace cf::queuefile {

inline constexpr int kFieldCount = 28;

// Element name of the field at `index` (file order).
const char* FieldName(int index);

// Appends the field's value as the element's escaped text content.
void AppendFieldText(QByteArray& out, int index, const UploadJob& job);

// Many jobs share their server, account, folder and settings; one copy of each text serves them
// all, which keeps a long queue small.
class TextPool {
 public:
  QString Get(const char* utf8);

 private:
  QHash<QByteArray, QString> m_texts;
};

// A failed job's state and failure text, as two elements after the fields; nothing for a job in
// any other state. Readers that do not know them skip them.
void AppendLiveState(QByteArray& out, const UploadJob& job);

// Whatever the element lacks or holds in a wrong form reads as empty, zero or false; the job is
// still queued as long as it names its source. Of fields named twice the first counts.
std::unique_ptr<UploadJob> ReadJob(const pugi::xml_node& fileNode, TextPool& pool);

}  // namespace cf::queuefile
