#include "app/queue/MediaStoreCheck.h"

#include "app/project/KqLibrary.h"

#include <atomic>
#include <thread>

namespace cf {

// What the checking thread and the run share; the thread keeps its own reference, so a run that
// is gone leaves nothing dangling.
struct MediaStoreCheck::Shared {
  std::atomic<int> result{-1};  // -1 while checking, then 0 or 1
};

MediaStoreCheck::MediaStoreCheck(QObject* parent) : QObject(parent) {
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] {
    const int result = shared_ ? shared_->result.load() : -1;
    if (result < 0) {
      emit progress(clock_.elapsed());
      return;
    }
    poll_.stop();
    shared_.reset();
    emit finished(result == 1);
  });
}

MediaStoreCheck::~MediaStoreCheck() = default;

void MediaStoreCheck::Start(std::shared_ptr<const KqLibrary> library, const QString& store) {
  shared_ = std::make_shared<Shared>();
  clock_.start();
  std::thread([shared = shared_, library = std::move(library), store] {
    shared->result = library->VerifyWholeKqFile(store) ? 1 : 0;
  }).detach();
  poll_.start();
}

void MediaStoreCheck::Abandon() {
  poll_.stop();
  shared_.reset();
}

}  // namespace cf
