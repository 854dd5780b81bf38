#include "app/updater/frmDownloader.h"

#include "app/media/ProcessRunner.h"
#include "app/services/FormTexts.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/XmlFile.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"
#include "app/updater/ArchiveGuard.h"
#include "platform/process/CommandLine.h"
#include "ui_frmDownloader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <limits>

namespace {

const QString kSection = QStringLiteral("frmDownloader");

QString Res(const QString& key, const QString& fallback) {
  return GetResString(kSection, key, fallback);
}

// Whether `path` lies below `folder` (both absolute, no links in between expected).
bool IsInside(const QString& folder, const QString& path) {
  const QString root = QDir::cleanPath(folder) + QLatin1Char('/');
  return QDir::cleanPath(path).startsWith(root);
}

}  // namespace

frmDownloader::frmDownloader(const CVerList& list, const pugi::xml_document& verListDoc,
                             QString serverBase, UpdaterChoice updater, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmDownloader>()),
      list_(list),
      verListDoc_(verListDoc),
      serverBase_(std::move(serverBase)),
      updater_(std::move(updater)) {
  ui_->setupUi(this);
  ApplyFormTexts(this);
  setModal(true);
  updateFolder_ = UpdateFolder();
  ui_->lFile->hide();
  ui_->lProgress->hide();

  connect(ui_->cmdUpdate, &QPushButton::clicked, this, &frmDownloader::cmdUpdate_Click);
  connect(ui_->cmdQuit, &QPushButton::clicked, this, &QDialog::reject);
  connect(&kqDownloader1_, &kqDownloader::OnDownloadProgress, this,
          &frmDownloader::kqDownloader1_Progress);
  connect(&kqDownloader1_, &kqDownloader::OnDownloadComplete, this,
          &frmDownloader::kqDownloader1_Complete);
  connect(&kqDownloader1_, &kqDownloader::OnDownloadError, this,
          &frmDownloader::kqDownloader1_Error);

  // Update waits until the folder is ready and the log is shown.
  ui_->cmdUpdate->setEnabled(false);
  tmrLayout_.setSingleShot(true);
  tmrLayout_.setInterval(10);
  connect(&tmrLayout_, &QTimer::timeout, this, &frmDownloader::tmrLayout_Timer);
  tmrLayout_.start();
}

frmDownloader::~frmDownloader() = default;

void frmDownloader::done(int result) {
  // Quit, the close box and every failure end here: nothing may go on downloading.
  ended_ = true;
  kqDownloader1_.Abort();
  QDialog::done(result);
}

void frmDownloader::CloseWith(const QString& message) {
  kqDownloader1_.Abort();
  if (!message.isEmpty()) ShowMessage(message, QString(), MsgButtons::Ok, MsgIcon::Warning);
  reject();
}

void frmDownloader::tmrLayout_Timer() {
  tmrLayout_.stop();
  ui_->ProgressBar1->setMinimum(0);
  ui_->ProgressBar1->setValue(0);
  if (list_.Count() == 0) {
    reject();
    return;
  }
  // The folder has a fixed name in a shared temporary folder and what lands in it is run: only a
  // folder of ours is emptied, and it is made again private to us.
  QString problem;
  if (!ArchiveGuard::MakeFreshFolder(updateFolder_, &problem)) {
    CloseWith(
        Res(QStringLiteral("msgTempLocked"), QStringLiteral("Update Error: Temp File Locked!")) +
        QLatin1Char('\n') + problem);
    return;
  }
  QString log = LogBoxText(list_);
  log.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  ui_->txtLog->setPlainText(log);
  ui_->cmdUpdate->setEnabled(true);
}

QString frmDownloader::FilesText() const {
  return QString::number(fileNumber_) + QLatin1Char('/') + QString::number(patchCount_ + 1);
}

void frmDownloader::cmdUpdate_Click() {
  ui_->cmdUpdate->setEnabled(false);
  ui_->lFile->show();
  ui_->lProgress->show();
  patchCount_ = PatchCount(list_);
  ui_->lStatus->setText(Res(QStringLiteral("msgDownloading"), QStringLiteral("Downloading")));
  fileNumber_ = 1;
  currentItem_ = 0;
  ui_->lFile->setText(QStringLiteral("File (") + FilesText() + QStringLiteral("):  ") +
                      updater_.packageName);
  kqDownloader1_.StartDownload(
      serverBase_ + QString::fromLatin1(kPackageFolderPath) + updater_.packageName,
      JoinPath(updateFolder_, updater_.packageName));
}

void frmDownloader::SetBar(qint64 value, qint64 maximum) {
  barShift_ = 0;
  while ((maximum >> barShift_) > std::numeric_limits<int>::max()) ++barShift_;
  ui_->ProgressBar1->setMaximum(static_cast<int>(maximum >> barShift_));
  ui_->ProgressBar1->setValue(static_cast<int>(std::min(value, maximum) >> barShift_));
}

void frmDownloader::kqDownloader1_Progress(qint64 received, qint64 total, const QString&) {
  // A server that does not announce the size gives no total; the bytes so far stand in for it.
  if (total <= 0) total = std::max<qint64>(received, 1);
  const long long percent = std::llround(static_cast<double>(received) * 100.0 / total);
  setWindowTitle(QStringLiteral("(") + FilesText() + QStringLiteral(") ") +
                 QString::number(percent) + QStringLiteral("% Downloaded"));
  SetBar(received, total);
  lastSizes_ = FormatSizes(received, total);
  ui_->lProgress->setText(QStringLiteral("Progress:  ") + lastSizes_.received + QLatin1Char(' ') +
                          lastSizes_.unit + QStringLiteral(" / ") + lastSizes_.total +
                          QLatin1Char(' ') + lastSizes_.unit + QStringLiteral("  downloaded"));
}

bool frmDownloader::MatchesList(const QString& path, const QString& expected) {
  if (expected.isEmpty()) return true;
  QString actual;
  return FileSha256(path, &actual) && actual == expected;
}

void frmDownloader::kqDownloader1_Complete(qint64 size, const QString& name) {
  if (ended_) return;
  const bool isPatch = name.endsWith(QLatin1String(kPatchName));
  // Everything arrives over plain HTTP; a file the list gives a digest for must match it.
  const QString expected = currentItem_ > 0 ? list_.Item(currentItem_).sha256
                                            : PackageSha256(verListDoc_, updater_.packageName);
  if (!MatchesList(name, expected)) {
    QFile::remove(name);
    CloseWith(Res(QStringLiteral("msgChecksum"),
                  QStringLiteral("Update Error: the downloaded file does not match the update "
                                 "list:")) +
              QLatin1Char(' ') + QFileInfo(name).fileName() +
              (currentItem_ > 0 ? QStringLiteral(" (v.") + list_.Item(currentItem_).ver + ')'
                                : QString()));
    return;
  }
  if (isPatch) ++downloadedPatches_;
  SetBar(size, std::max<qint64>(size, 1));
  setWindowTitle(QStringLiteral("(") + FilesText() + QStringLiteral(") 100% Downloaded"));
  ui_->lStatus->setText(QStringLiteral("Download Complete \u2500  ") + lastSizes_.total +
                        QLatin1Char(' ') + lastSizes_.unit + QStringLiteral(" totally"));
  // Let the window show the finished file before the next one starts.
  QTimer::singleShot(0, this, &frmDownloader::DownloadNext);
}

void frmDownloader::DownloadNext() {
  if (ended_) return;
  if (downloadedPatches_ >= patchCount_) {
    ui_->lStatus->setText(
        Res(QStringLiteral("msgDownloadComplete"), QStringLiteral("Download complete")));
    Finish();
    return;
  }
  currentItem_ = patchCount_ - downloadedPatches_;
  const CVerItem& item = list_.Item(currentItem_);
  const QString folder = JoinPath(updateFolder_, item.ver);
  if (!IsPlainVersion(item.ver) || !IsInside(updateFolder_, folder) || !QDir().mkpath(folder)) {
    CloseWith(
        Res(QStringLiteral("msgTempLocked"), QStringLiteral("Update Error: Temp File Locked!")));
    return;
  }
  ++fileNumber_;
  ui_->lFile->setText(QStringLiteral("File (") + FilesText() + QStringLiteral("):  ") +
                      QString::fromLatin1(kPatchName) + QStringLiteral("  \u2500  v.") + item.ver);
  kqDownloader1_.StartDownload(
      serverBase_ + item.folderUrl + QLatin1Char('/') + QString::fromLatin1(kPatchName),
      JoinPath(folder, QString::fromLatin1(kPatchName)));
}

void frmDownloader::kqDownloader1_Error(const QString& message) { CloseWith(message); }

void frmDownloader::Finish() {
  const QString unzipError = Res(QStringLiteral("msgUnzipError"), QStringLiteral("Unzip error!"));
  const QString package = JoinPath(updateFolder_, updater_.packageName);
  const QString updaterFolder = JoinPath(updateFolder_, QString::fromLatin1(kUpdaterSubfolder));
  // The patches are refused here already, before the program hands over and closes: one that
  // cannot pass the updater's checks would only leave the user without the program.
  QString problem;
  bool accepted = ArchiveGuard::CheckEntries(package, &problem);
  for (int i = patchCount_; accepted && i >= 1; --i) {
    accepted = ArchiveGuard::CheckEntries(
        JoinPath(JoinPath(updateFolder_, list_.Item(i).ver), QString::fromLatin1(kPatchName)),
        &problem);
  }
  if (!accepted) {
    qWarning("%s", qPrintable(problem));
    CloseWith(unzipError);
    return;
  }
  RunHidden(QStringLiteral("unzip -q ") + CommandLine::Quote(package) + QStringLiteral(" -d ") +
            CommandLine::Quote(updaterFolder));
  const QString program = JoinPath(updaterFolder, updater_.programName);
  if (!ArchiveGuard::HoldsOnlyPlainFiles(updaterFolder, &problem) || !QFileInfo(program).isFile()) {
    if (!problem.isEmpty()) qWarning("%s", qPrintable(problem));
    CloseWith(unzipError);
    return;
  }
  QStringList versions;
  for (int i = patchCount_; i >= 1; --i) versions.append(list_.Item(i).ver);
  if (!WriteFileAtomically(JoinPath(updateFolder_, QString::fromLatin1(kVerListXmlName)),
                           XmlText(verListDoc_)) ||
      !WriteVersionLines(JoinPath(updateFolder_, QString::fromLatin1(kVerListTxtName)), versions)) {
    CloseWith(
        Res(QStringLiteral("msgTempLocked"), QStringLiteral("Update Error: Temp File Locked!")));
    return;
  }
  updateReady_ = true;
  accept();
}
