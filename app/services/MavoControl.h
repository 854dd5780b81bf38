#pragma once

#include "app/services/UploadControl.h"

#include <memory>

class QWidget;

// The mavo2 control of the program folder's libkqmavo2.so, created through the component layer
// as an in-place control of `host` (a window, or a hidden widget of a tool). The module is
// registered first when the class is unknown or its registered module is gone.
class MavoControl : public UploadControl {
  Q_OBJECT

 public:
  // Creates the control; on failure Create gives null and `error` says why.
  static std::unique_ptr<MavoControl> Create(QWidget* host, QString* error = nullptr);
  ~MavoControl() override;

  bool GetFolder(const QString& url, const QString& account, const QString& password,
                 const QString& exParam) override;
  bool PutFile(const QString& url, const QString& account, const QString& password, int folderID,
               int docID, const QString& path) override;
  bool getVersion(const QString& url) override;
  bool GetVersion2(const QString& url, const QString& account, const QString& password,
                   int folderID, int docID, const QString& version,
                   const QString& exParam) override;
  bool Post(const QString& url, const QString& param) override;
  void CancelPutFile() override;
  bool PutFileFrom(const QString& url, const QString& account, const QString& password,
                   int folderID, int docID, const QString& path, const Session& session) override;
  void PausePutFile() override;
  Session UploadSession() override;
  int UploadingProgress() override;
  QString Response() override;

  // The control's own window inside its host (it draws a frame and its name there); null when it
  // has none.
  QWidget* Window() const;

 private:
  struct State;
  explicit MavoControl(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
