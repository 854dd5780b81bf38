// The media-store functions a recorded project's upload calls: check a store, and make the slide
// pictures of listed positions in the background while the caller polls the progress. Built
// twice, as kqLib_P5 and kqLib_P6, one module per project format version.

#include "tools/kqlib/KqMediaStore.h"
#include "tools/kqlib/ThumbMaker.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define KQLIB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// One picture job at a time per process: the caller starts it and polls Time() until -1.
class ThumbWorker {
 public:
  ~ThumbWorker() {
    // The module may be unloaded, or the process end, while pictures are still being written.
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
  }

  bool Start(const std::string& store, const std::string& list, const std::string& folderName,
             int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A previous job is let finish: its pictures belong to the same slides folder.
    if (thread_.joinable()) thread_.join();
    std::string error;
    std::vector<int32_t> positions;
    if (!ThumbMaker::IsPlainFolderName(folderName) || width < 1 || height < 1 ||
        width > ThumbMaker::kMaxSide || height > ThumbMaker::kMaxSide ||
        !ThumbMaker::ReadPositionList(list, &positions, &error)) {
      time_ = -1;
      return false;
    }
    const std::string folder = FolderOf(store) + "/" + folderName;
    time_ = 0;
    cancel_ = false;
    thread_ = std::thread([this, store, positions = std::move(positions), folder, width, height] {
      std::string failure;
      ThumbMaker::Make(
          store, positions, folder, width, height, [this](int32_t ms) { time_ = ms; }, cancel_,
          &failure);
      time_ = -1;
    });
    return true;
  }

  int32_t Time() const { return time_; }

 private:
  std::mutex mutex_;
  std::thread thread_;
  std::atomic<int32_t> time_{-1};
  std::atomic<bool> cancel_{false};
};

ThumbWorker& Worker() {
  static ThumbWorker worker;
  return worker;
}

}  // namespace

// 0 when the store is damaged, 1 when it is sound.
KQLIB_EXPORT int32_t verifyWholeKqFile(const char* kqFile) {
  if (!kqFile) return 0;
  std::string error;
  return KqMediaStore::Verify(kqFile, &error) ? 1 : 0;
}

// Starts writing one JPEG per position of `listFile` into the folder `folderName` beside the
// store and returns at once: 1 when started, 0 when the arguments are unusable (nothing to wait
// for then: ThumbTime reports -1).
KQLIB_EXPORT int32_t ThumbCreate2(const char* kqFile, const char* listFile, const char* folderName,
                                  int32_t width, int32_t height) {
  if (!kqFile || !listFile || !folderName) return 0;
  return Worker().Start(kqFile, listFile, folderName, width, height) ? 1 : 0;
}

// The position of the last picture written, in milliseconds, while pictures are being made;
// -1 once they are all written.
KQLIB_EXPORT int32_t ThumbTime() { return Worker().Time(); }
