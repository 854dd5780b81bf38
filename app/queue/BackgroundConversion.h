#pragma once

#include "app/media/ProcessRunner.h"
#include "app/queue/Outcome.h"
#include "app/queue/UploadJob.h"
#include "app/queue/VideoConverter.h"

#include <QObject>
#include <QString>

#include <atomic>

class QThread;

namespace cf {

// One conversion on a thread of its own. The converter's tools wait in that thread's event loop,
// so the thread that serves the window never nests a conversion inside another job's upload (or
// the other way round) and each ends when its own work ends. What the converter reports comes
// back as signals on the owner's thread; the token given here stops it.
class BackgroundConversion : public QObject {
  Q_OBJECT

 public:
  BackgroundConversion(const UploadJob& job, const ConversionSettings& settings,
                       const CancelToken& cancel, QObject* parent = nullptr);
  // Stops a conversion still running and waits for its thread.
  ~BackgroundConversion() override;

  void Start(const QString& sourcePath, const QString& workFolder);

 signals:
  void stamped(cf::JobTime which);
  void outputChanged(const QString& text);
  void progressChanged(const QString& text, double percent);
  // Emitted once, after every other signal of the conversion.
  void finished(const cf::Outcome& outcome);

 private:
  UploadJob job_;
  ConversionSettings settings_;
  CancelToken cancel_;
  QThread* thread_ = nullptr;
  // Set by the thread once the conversion has ended; the token is shared with the owner's run,
  // so it is cancelled on destruction only while the conversion still runs.
  std::atomic<bool> ended_{false};
};

}  // namespace cf
