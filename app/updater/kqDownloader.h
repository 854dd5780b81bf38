#pragma once

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

// The download control of the update window: fetches one file at a time over HTTP into a target
// path. A call returns at once; progress follows, then exactly one of the two ending signals. The
// file appears at the target path only when it arrived whole.
class kqDownloader : public QObject {
  Q_OBJECT

 public:
  explicit kqDownloader(QObject* parent = nullptr);
  ~kqDownloader() override;

  // Starts fetching `url` into `targetPath` (replaced when present).
  void StartDownload(const QString& url, const QString& targetPath);
  bool IsBusy() const { return reply_ != nullptr; }
  // Stops the running download without an ending signal; the partial file is removed.
  void Abort();

  // Updates are a few megabytes; a server that sends more than this is not an update server.
  static constexpr qint64 kMaxBytes = qint64{1} << 30;
  // A download that receives nothing for this long fails.
  static constexpr int kStallTimeoutMs = 60000;

 signals:
  void OnDownloadProgress(qint64 received, qint64 total, const QString& name);
  void OnDownloadComplete(qint64 size, const QString& name);
  void OnDownloadError(const QString& message);

 private:
  void ReadAvailable();
  void Finished();
  void Fail(const QString& message);

  QNetworkAccessManager network_;
  QPointer<QNetworkReply> reply_;
  QFile part_;
  QString target_;
  QString url_;
  QString failure_;
  qint64 written_ = 0;
};
