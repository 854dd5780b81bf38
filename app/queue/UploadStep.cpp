#include "app/queue/UploadStep.h"

#include "app/queue/VersionReply.h"
#include "app/services/UploadControl.h"
#include "app/services/XmlFile.h"
#include "app/services/modLanguage.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace cf {

namespace {

constexpr const char* kPutFileRoute = "/mavo/putFile/";

QString Res(const char* key, const QString& fallback) {
  return GetResString(QStringLiteral("frmUpload"), QString::fromLatin1(key), fallback);
}

}  // namespace

UploadStep::UploadStep(UploadControl& control, CancelToken stop)
    : control_(control), stop_(std::move(stop)) {}

void UploadStep::WaitForEvent(int ms) {
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  QObject::connect(&control_, &UploadControl::OnPutFileFinished, &loop, &QEventLoop::quit,
                   Qt::QueuedConnection);
  timer.start(ms);
  loop.exec();
}

Outcome UploadStep::Run(const Request& request, const Events& events, QString* contentID) {
  const QString uploadText = Res(
      "msgUpload", QStringLiteral("Uploading data to ") + request.address + QStringLiteral(" ..."));
  events.status(uploadText);
  bool finished = false;
  answered_ = false;
  const QMetaObject::Connection done =
      QObject::connect(&control_, &UploadControl::OnPutFileFinished, [&] {
        finished = true;
        answered_ = true;
      });
  const bool started = control_.PutFile(
      QStringLiteral("http://") + request.address + QLatin1String(kPutFileRoute), request.account,
      request.password, request.folderID, request.contentNumber, request.archive);
  if (!started) {
    finished = true;
    answered_ = true;
  }
  bool registering = false;
  while (!finished) {
    const int percent = control_.UploadingProgress();
    events.progress(percent);
    if (percent >= 100) {
      events.status(Res("msgUpdate", QStringLiteral("Updating ") + request.address +
                                         QStringLiteral(" database, please wait ...")));
      if (!registering && events.registering) events.registering();
      registering = true;
    } else {
      events.status(uploadText + QLatin1Char(' ') + QString::number(percent) + QLatin1Char('%'));
    }
    if (stop_.cancelled()) {
      control_.CancelPutFile();
      events.status(Res("msgUploadCancel", QStringLiteral("Uploading data to ") + request.address +
                                               QStringLiteral(" ... Canceled!")));
      break;
    }
    WaitForEvent(kPollMs);
  }
  // The control takes one request at a time: a cancelled upload is over only with its event.
  QElapsedTimer waited;
  waited.start();
  while (!answered_ && waited.elapsed() < kCancelAnswerWaitMs) WaitForEvent(kPollMs);
  QObject::disconnect(done);

  if (stop_.cancelled()) return Outcome::Stop();
  if (!started) {
    return {Outcome::Status::UploadFailed,
            VersionReply::ServerErrorText() + QStringLiteral(": the upload could not be started.")};
  }
  return ReadAnswer(contentID);
}

Outcome UploadStep::ReadAnswer(QString* contentID) {
  const auto failed = [](const QString& text) {
    return Outcome{Outcome::Status::UploadFailed, text};
  };
  pugi::xml_document doc;
  if (!LoadXmlText(control_.Response().toUtf8(), &doc)) {
    return failed(QStringLiteral("Parse XML error!"));
  }
  const QString errInfo = ValueByPath(doc, QStringLiteral("errInfo"));
  if (!errInfo.isEmpty()) return failed(VersionReply::ResultErrorText(errInfo, false));
  const QString number = ValueByPath(doc, QStringLiteral("contentID")).trimmed();
  if (number.isEmpty()) {
    return failed(Res("mavoNoResponse", QStringLiteral("Upload failed! Server did not response.")));
  }
  bool ok = false;
  if (number.toLongLong(&ok) == 0 || !ok) {
    return failed(QStringLiteral("Upload failed! ContentID = ") + number);
  }
  *contentID = number;
  return Outcome::Done();
}

}  // namespace cf
