#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "app/services/UploadControl.h"

// The hidden window that asks the update server for a fresh version list through the upload
// control and keeps the answer for the next start (setting verListPath). It closes itself when
// the answer is in; an unusable answer leaves the previous list in place.
class frmGetVerList : public QWidget {
  Q_OBJECT

 public:
  // `control` is the upload control to use; without one the program folder's is created.
  frmGetVerList(QWidget* owner, QString url, QString ownVersion,
                std::unique_ptr<UploadControl> control = nullptr);
  ~frmGetVerList() override;

  // Saved lists are named this in the temporary folder; only such files are ever deleted.
  static constexpr const char* kListPrefix = "_kqVerList_";

 signals:
  void done();

 private:
  void tmrStart_Timer();
  void mavo_GetFolderFinished();
  void SaveAnswer(const QString& response);
  void End();

  QString url_;
  QString ownVersion_;
  std::unique_ptr<UploadControl> mavo_;
  QTimer tmrStart_;
  bool ended_ = false;
};
