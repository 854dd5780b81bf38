#pragma once

#include "app/updater/CVerList.h"
#include "app/updater/kqDownloader.h"
#include "app/updater/modUpdate.h"

#include <QDialog>
#include <QTimer>

#include <memory>

#include <pugixml.hpp>

namespace Ui {
class frmDownloader;
}

// The update offer: shows the newer versions' logs and, on Update, downloads the updater package
// and the patches (oldest first) into the update folder, unpacks the updater and leaves the
// version list beside it. It closes with the update ready, or without an update on Quit or any
// failure.
class frmDownloader : public QDialog {
  Q_OBJECT

 public:
  frmDownloader(const CVerList& list, const pugi::xml_document& verListDoc, QString serverBase,
                UpdaterChoice updater, QWidget* parent = nullptr);
  ~frmDownloader() override;

  bool UpdateReady() const { return updateReady_; }
  QString UpdateFolderPath() const { return updateFolder_; }
  Ui::frmDownloader& form() { return *ui_; }
  kqDownloader& downloader() { return kqDownloader1_; }

 public slots:
  void done(int result) override;

 private:
  void tmrLayout_Timer();
  void cmdUpdate_Click();
  void kqDownloader1_Progress(qint64 received, qint64 total, const QString& name);
  void kqDownloader1_Complete(qint64 size, const QString& name);
  void kqDownloader1_Error(const QString& message);
  void DownloadNext();
  void Finish();
  void CloseWith(const QString& message);
  bool MatchesList(const QString& path, const QString& expected);
  void SetBar(qint64 value, qint64 maximum);
  QString FilesText() const;

  std::unique_ptr<Ui::frmDownloader> ui_;
  const CVerList& list_;
  const pugi::xml_document& verListDoc_;
  QString serverBase_;
  UpdaterChoice updater_;
  QString updateFolder_;
  QTimer tmrLayout_;
  kqDownloader kqDownloader1_;
  int patchCount_ = 0;  // N: patches to fetch
  int downloadedPatches_ = 0;
  int fileNumber_ = 0;   // 1 is the updater package
  int currentItem_ = 0;  // the item whose patch is being fetched; 0 for the package
  SizeTexts lastSizes_;
  int barShift_ = 0;  // the bar counts bytes >> this, so large files fit its range
  bool updateReady_ = false;
  bool ended_ = false;
};
