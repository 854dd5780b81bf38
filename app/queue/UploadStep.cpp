#include "app/queue/UploadStep.h"

#include "app/queue/ResumeRecord.h"
#include "app/queue/VersionReply.h"
#include "app/services/UploadControl.h"
#include "app/services/XmlFile.h"
#include "app/services/modLanguage.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace cf {

namespace {

constexpr const char* kPutFileRoute = "/mavo/putFile/";

QString Res(const char* key, const QString& fallback) {
  return GetResString(QStringLiteral("frmUpload"), QString::fromLatin1(key), fallback);
}

QString TargetOf(const UploadStep::Request& request) {
  return ResumeRecord::Target(request.address, request.account, request.folderID,
                              request.contentNumber);
}

}  // namespace

UploadStep::UploadStep(UploadControl& control, CancelToken stop, CancelToken pause)
    : control_(control), stop_(std::move(stop)), pause_(std::move(pause)) {}

bool UploadStep::IsLinkFailure(const QString& response) {
  pugi::xml_document doc;
  if (!LoadXmlText(response.toUtf8(), &doc)) return false;
  // The control's own documents of a broken block carry the root without a version; the
  // server's answers and the control's other failures do not.
  if (QString::fromUtf8(doc.document_element().name()) != QLatin1String("PutFile")) return false;
  const QString code = ValueByPath(doc, QStringLiteral("errInfo")).trimmed();
  return code == QLatin1String("0") || code == QLatin1String("1001") ||
         code == QLatin1String("1003") || code == QLatin1String("1005");
}

void UploadStep::AddNote(QString* text, const QString& line) {
  if (line.startsWith(QLatin1Char('\r'))) {
    const qsizetype end = text->endsWith(QLatin1Char('\n')) ? text->size() - 1 : text->size();
    text->truncate(text->lastIndexOf(QLatin1Char('\n'), end - 1) + 1);
    *text += line.mid(1) + QLatin1Char('\n');
    return;
  }
  *text += line + QLatin1Char('\n');
}

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
  linkFailed_ = false;
  archiveHash_.clear();
  const auto note = [&events](const QString& line) {
    if (events.note) events.note(line);
  };
  ResumeRecord record;
  bool resume = false;
  if (ResumeRecord::Load(request.archive, &record)) {
    resume = record.target == TargetOf(request) && record.Describes(request.archive);
    if (resume) {
      archiveHash_ = record.archiveSha256;
      if (events.acknowledged) events.acknowledged(record.nextSeqno * kBlockBytes);
      note(GetResString(QStringLiteral("uploadResume"), QStringLiteral("msgContinue"),
                        QStringLiteral("Continuing the earlier upload at %1 of %2 bytes."))
               .arg(record.nextSeqno * kBlockBytes)
               .arg(record.archiveSize));
    } else {
      ResumeRecord::Remove(request.archive);
    }
  }
  Attempt attempt = resume
                        ? Send(request, events, record.nextSeqno, record.sessionId, record.urlValue)
                        : Send(request, events, 0, {}, {});
  if (resume && attempt.sent == Sent::kAnswered && !attempt.acknowledgedAny) {
    QString ignored;
    if (!ReadAnswer(&ignored).ok()) {
      // The server no longer takes the session (it expired, or the server lost it): once, the
      // whole archive goes again in a new one.
      note(GetResString(QStringLiteral("uploadResume"), QStringLiteral("msgStartOver"),
                        QStringLiteral("The server did not take up the earlier upload; sending "
                                       "the file again from the start.")));
      ResumeRecord::Remove(request.archive);
      archiveHash_.clear();
      if (events.acknowledged) events.acknowledged(0);
      attempt = Send(request, events, 0, {}, {});
    }
  }

  switch (attempt.sent) {
    case Sent::kStopped:
      // Stop told the server to discard the session; a pause left it there to continue.
      if (!pause_.cancelled()) ResumeRecord::Remove(request.archive);
      return Outcome::Stop();
    case Sent::kNotStarted:
      return {
          Outcome::Status::UploadFailed,
          VersionReply::ServerErrorText() + QStringLiteral(": the upload could not be started.")};
    case Sent::kLinkFailed:
      linkFailed_ = true;
      return ReadAnswer(contentID);
    case Sent::kAnswered:
      break;
  }
  ResumeRecord::Remove(request.archive);
  return ReadAnswer(contentID);
}

UploadStep::Attempt UploadStep::Send(const Request& request, const Events& events, int startSeqno,
                                     const QString& sessionId, const QString& urlValue) {
  const QString uploadText = Res(
      "msgUpload", QStringLiteral("Uploading data to ") + request.address + QStringLiteral(" ..."));
  events.status(uploadText);
  Attempt attempt;
  bool finished = false;
  answered_ = false;
  const QMetaObject::Connection done =
      QObject::connect(&control_, &UploadControl::OnPutFileFinished, [&] {
        finished = true;
        answered_ = true;
      });
  const QMetaObject::Connection block =
      QObject::connect(&control_, &UploadControl::OnPutFileBlock, [&] {
        attempt.acknowledgedAny = true;
        RecordBlock(request, events);
      });
  const bool started = control_.PutFileFrom(
      QStringLiteral("http://") + request.address + QLatin1String(kPutFileRoute), request.account,
      request.password, request.folderID, request.contentNumber, request.archive,
      {sessionId, startSeqno, urlValue});
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
      if (pause_.cancelled()) {
        control_.PausePutFile();
      } else {
        control_.CancelPutFile();
        events.status(Res("msgUploadCancel", QStringLiteral("Uploading data to ") +
                                                 request.address +
                                                 QStringLiteral(" ... Canceled!")));
      }
      break;
    }
    WaitForEvent(kPollMs);
  }
  // The control takes one request at a time: a cancelled upload is over only with its event.
  QElapsedTimer waited;
  waited.start();
  while (!answered_ && waited.elapsed() < kCancelAnswerWaitMs) WaitForEvent(kPollMs);
  QObject::disconnect(done);
  QObject::disconnect(block);

  if (stop_.cancelled()) {
    attempt.sent = Sent::kStopped;
  } else if (!started) {
    attempt.sent = Sent::kNotStarted;
  } else if (IsLinkFailure(control_.Response())) {
    attempt.sent = Sent::kLinkFailed;
  }
  return attempt;
}

void UploadStep::RecordBlock(const Request& request, const Events& events) {
  UploadControl::Session session = control_.UploadSession();
  if (session.id.isEmpty() || session.nextSeqno <= 0) return;
  if (archiveHash_.isEmpty()) {
    // Hashed once per session, while the blocks go on: those acknowledged meanwhile are
    // recorded by the call that hashes, with the session as it stands then.
    if (hashing_) {
      if (events.acknowledged) events.acknowledged(session.nextSeqno * kBlockBytes);
      return;
    }
    hashing_ = true;
    archiveHash_ = ResumeRecord::HashFileWhileEventsRun(request.archive);
    hashing_ = false;
    session = control_.UploadSession();
    if (session.id.isEmpty() || session.nextSeqno <= 0) return;
  }
  const QFileInfo info(request.archive);
  ResumeRecord record;
  record.target = TargetOf(request);
  record.sessionId = session.id;
  record.nextSeqno = session.nextSeqno;
  record.urlValue = session.urlValue;
  record.archiveSize = info.size();
  record.archiveModifiedMs = info.lastModified().toMSecsSinceEpoch();
  record.archiveSha256 = archiveHash_;
  record.Save(request.archive);
  if (events.acknowledged) events.acknowledged(session.nextSeqno * kBlockBytes);
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
