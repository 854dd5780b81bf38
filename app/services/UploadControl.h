#pragma once

#include <QObject>
#include <QString>

// What the program asks of an upload control instance: one request at a time, each ending with
// exactly one completion signal on the thread that owns the object, and then its result document
// in Response(). The job driver and the dialogs talk to this, never to the module itself.
class UploadControl : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  ~UploadControl() override = default;

  // Each starts a request and returns whether it was started; the outcome comes with the signal.
  virtual bool GetFolder(const QString& url, const QString& account, const QString& password,
                         const QString& exParam) = 0;
  virtual bool PutFile(const QString& url, const QString& account, const QString& password,
                       int folderID, int docID, const QString& path) = 0;
  virtual bool getVersion(const QString& url) = 0;
  virtual bool GetVersion2(const QString& url, const QString& account, const QString& password,
                           int folderID, int docID, const QString& version,
                           const QString& exParam) = 0;
  virtual bool Post(const QString& url, const QString& param) = 0;
  virtual void CancelPutFile() = 0;

  // Where an upload's session stands after its last acknowledged block.
  struct Session {
    QString id;  // empty before an upload made one
    int nextSeqno = 0;
    QString urlValue;  // addresses block nextSeqno
  };
  // Like PutFile, but continues `session` at its next block when it has an id (a new session
  // otherwise), and emits OnPutFileBlock after each acknowledged block but the last.
  virtual bool PutFileFrom(const QString& url, const QString& account, const QString& password,
                           int folderID, int docID, const QString& path,
                           const Session& session) = 0;
  // Ends the running upload without telling the server, which keeps the session.
  virtual void PausePutFile() = 0;
  virtual Session UploadSession() = 0;

  // Percent of the running upload, 0 to 100.
  virtual int UploadingProgress() = 0;
  // The result document of the last request.
  virtual QString Response() = 0;

 signals:
  void OnPutFileFinished();
  void OnGetFolderFinished();
  void OnGetVersionFinished();
  void OnPostFinished();
  void OnPutFileBlock();
};
