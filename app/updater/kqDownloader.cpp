#include "app/updater/kqDownloader.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <filesystem>

namespace {

constexpr const char* kPartSuffix = ".part";

}  // namespace

kqDownloader::kqDownloader(QObject* parent) : QObject(parent) {}

kqDownloader::~kqDownloader() { Abort(); }

void kqDownloader::StartDownload(const QString& url, const QString& targetPath) {
  if (IsBusy()) {
    // The caller learns of it the same way as of any failure: later, through the signal.
    QTimer::singleShot(0, this, [this] {
      emit OnDownloadError(QStringLiteral("Another download is still running."));
    });
    return;
  }
  url_ = url;
  target_ = targetPath;
  failure_.clear();
  written_ = 0;
  const QUrl address(url, QUrl::StrictMode);
  if (!address.isValid() ||
      address.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0) {
    const QString message = QStringLiteral("Cannot download %1: not an http address.").arg(url);
    QTimer::singleShot(0, this, [this, message] { emit OnDownloadError(message); });
    return;
  }
  part_.setFileName(targetPath + QLatin1String(kPartSuffix));
  if (!part_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    const QString message =
        QStringLiteral("Cannot write %1: %2").arg(part_.fileName(), part_.errorString());
    QTimer::singleShot(0, this, [this, message] { emit OnDownloadError(message); });
    return;
  }
  QNetworkRequest request(address);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setTransferTimeout(kStallTimeoutMs);
  reply_ = network_.get(request);
  connect(reply_, &QNetworkReply::readyRead, this, &kqDownloader::ReadAvailable);
  connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
    if (reply_ && failure_.isEmpty() && received > 0) {
      emit OnDownloadProgress(received, total, target_);
    }
  });
  connect(reply_, &QNetworkReply::finished, this, &kqDownloader::Finished);
}

void kqDownloader::ReadAvailable() {
  if (!reply_ || !failure_.isEmpty()) return;
  const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (status != 0 && status != 200) return;  // the error page is not the file
  const QByteArray data = reply_->readAll();
  if (written_ + data.size() > kMaxBytes) {
    failure_ =
        QStringLiteral("Download of %1 refused: larger than %2 bytes.").arg(url_).arg(kMaxBytes);
    reply_->abort();
    return;
  }
  if (part_.write(data) != data.size()) {
    failure_ = QStringLiteral("Cannot write %1: %2").arg(part_.fileName(), part_.errorString());
    reply_->abort();
    return;
  }
  written_ += data.size();
}

void kqDownloader::Finished() {
  QNetworkReply* reply = reply_;
  if (!reply) return;
  ReadAvailable();
  reply_ = nullptr;
  reply->deleteLater();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (failure_.isEmpty() && reply->error() != QNetworkReply::NoError && status == 0) {
    failure_ = QStringLiteral("Download of %1 failed: %2").arg(url_, reply->errorString());
  }
  if (failure_.isEmpty() && status != 200) {
    failure_ =
        QStringLiteral("Download of %1 failed: the server answered %2.").arg(url_).arg(status);
  }
  const qint64 expected = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
  if (failure_.isEmpty() && expected > 0 && expected != written_) {
    failure_ = QStringLiteral("Download of %1 broke off after %2 of %3 bytes.")
                   .arg(url_)
                   .arg(written_)
                   .arg(expected);
  }
  if (failure_.isEmpty() && !part_.flush()) {
    failure_ = QStringLiteral("Cannot write %1: %2").arg(part_.fileName(), part_.errorString());
  }
  part_.close();
  if (failure_.isEmpty()) {
    std::error_code error;
    std::filesystem::rename(part_.fileName().toStdString(), target_.toStdString(), error);
    if (error) {
      failure_ = QStringLiteral("Cannot write %1: %2")
                     .arg(target_, QString::fromStdString(error.message()));
    }
  }
  if (!failure_.isEmpty()) {
    Fail(failure_);
    return;
  }
  emit OnDownloadProgress(written_, written_, target_);
  emit OnDownloadComplete(written_, target_);
}

void kqDownloader::Fail(const QString& message) {
  part_.close();
  QFile::remove(part_.fileName());
  emit OnDownloadError(message);
}

void kqDownloader::Abort() {
  if (!reply_) return;
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  reply->disconnect(this);
  reply->abort();
  reply->deleteLater();
  part_.close();
  QFile::remove(part_.fileName());
}
