#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace cf {

class KqLibrary;

// Checks that a recorded project's media store is whole, on a thread of its own: a store of
// several gigabytes takes a while, and the window must stay responsive and hear Stop meanwhile.
// The library function cannot be interrupted; a check that is abandoned finishes unseen, keeping
// its library loaded until then.
class MediaStoreCheck : public QObject {
  Q_OBJECT

 public:
  explicit MediaStoreCheck(QObject* parent = nullptr);
  ~MediaStoreCheck() override;

  // Starts checking `store` with `library` (already loaded). `finished` follows, on this thread.
  void Start(std::shared_ptr<const KqLibrary> library, const QString& store);
  // Stops waiting; `finished` is not emitted.
  void Abandon();

  static constexpr int kPollMs = 100;

 signals:
  // Milliseconds since the check began, a few times a second.
  void progress(qint64 elapsedMs);
  void finished(bool whole);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  QTimer poll_;
  QElapsedTimer clock_;
};

}  // namespace cf
