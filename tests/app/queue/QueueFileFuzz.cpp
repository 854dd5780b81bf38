// Feeds arbitrary bytes to the queue file reader. Whatever it accepts must survive being written
// and read back: the same jobs in the same order, and a layout the reader takes again.
#include "app/queue/QueueFile.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cf;
  UploadQueue queue;
  QueueGridModel grid(queue);
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (!QueueFile::Parse(text, queue)) return 0;
  if (grid.rowCount() != queue.Count()) std::abort();

  const QByteArray written = QueueFile::Serialize(queue);
  UploadQueue again;
  QueueGridModel againGrid(again);
  if (!QueueFile::Parse(written, again)) std::abort();
  if (again.Count() != queue.Count()) std::abort();
  for (int index = 1; index <= queue.Count(); ++index) {
    const UploadJob* before = queue.item(index);
    const UploadJob* after = again.item(index);
    if (before->path != after->path || before->title != after->title ||
        before->password != after->password || before->fileSize != after->fileSize ||
        before->bInterlaced != after->bInterlaced || before->secDuration != after->secDuration) {
      std::abort();
    }
  }
  return 0;
}
