#include "app/queue/BackgroundConversion.h"

#include "app/media/RunContext.h"

#include <QThread>

namespace cf {

BackgroundConversion::BackgroundConversion(const UploadJob& job, const ConversionSettings& settings,
                                           const CancelToken& cancel, QObject* parent)
    : QObject(parent), job_(job), settings_(settings), cancel_(cancel) {}

BackgroundConversion::~BackgroundConversion() {
  if (thread_ == nullptr) return;
  if (!ended_) cancel_.Cancel();
  thread_->wait();
  delete thread_;
}

void BackgroundConversion::Start(const QString& sourcePath, const QString& workFolder) {
  if (thread_ != nullptr) return;
  // Signals are posted to this object's thread; once this object is gone they are dropped.
  const auto post = [this](auto function) {
    QMetaObject::invokeMethod(this, std::move(function), Qt::QueuedConnection);
  };
  thread_ = QThread::create([this, post, sourcePath, workFolder] {
    RunContext context;
    context.logEnabled = true;
    context.cancel = cancel_;
    QObject::connect(&context, &RunContext::outputChanged, [post, this](const QString& text) {
      post([this, text] { emit outputChanged(text); });
    });
    QObject::connect(&context, &RunContext::progressChanged,
                     [post, this](const QString& text, double percent) {
                       post([this, text, percent] { emit progressChanged(text, percent); });
                     });
    VideoConverter converter(job_, settings_, context, [post, this](JobTime which) {
      post([this, which] { emit stamped(which); });
    });
    const Outcome outcome = converter.Run(sourcePath, workFolder);
    ended_ = true;
    post([this, outcome] { emit finished(outcome); });
  });
  thread_->setObjectName(QStringLiteral("conversion"));
  thread_->start();
}

}  // namespace cf
