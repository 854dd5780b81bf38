#include "app/queue/MainWindowDrop.h"

#include "app/dialogs/DialogShared.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/modLanguage.h"
#include "ui_frmUpload.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace {

// The types the add dialog's file dialog offers.
const QStringList kVideoSuffixes = {
    QStringLiteral("wmv"),  QStringLiteral("mp4"), QStringLiteral("m4v"),  QStringLiteral("mpg"),
    QStringLiteral("mpeg"), QStringLiteral("avi"), QStringLiteral("m2ts"), QStringLiteral("m2t"),
    QStringLiteral("mts"),  QStringLiteral("flv"), QStringLiteral("mov"),  QStringLiteral("mkv"),
    QStringLiteral("3gp"),  QStringLiteral("vob")};

QStringList LocalPaths(const QMimeData* data) {
  QStringList paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    paths << url.toLocalFile();
  }
  return paths;
}

}  // namespace

MainWindowDrop::MainWindowDrop(frmUpload& window) : QObject(&window), window_(window) {
  window.setAcceptDrops(true);
  window.installEventFilter(this);
}

bool MainWindowDrop::IsAddable(const QString& path) {
  const QFileInfo file(path);
  if (!file.isFile()) return false;
  if (file.fileName().compare(QLatin1String("project.kqp"), Qt::CaseInsensitive) == 0) return true;
  return kVideoSuffixes.contains(file.suffix().toLower());
}

bool MainWindowDrop::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &window_) return false;
  if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
    auto* drag = static_cast<QDropEvent*>(event);
    if (!LocalPaths(drag->mimeData()).isEmpty()) drag->acceptProposedAction();
    return true;
  }
  if (event->type() == QEvent::Drop) {
    auto* drop = static_cast<QDropEvent*>(event);
    const QStringList paths = LocalPaths(drop->mimeData());
    if (paths.isEmpty()) return false;
    drop->acceptProposedAction();
    Drop(paths);
    return true;
  }
  return false;
}

void MainWindowDrop::Drop(const QStringList& paths) {
  QStringList taken;
  QStringList refused;
  bool folder = false;
  for (const QString& path : paths) {
    if (QFileInfo(path).isDir()) {
      folder = true;
      taken << path;
    } else if (IsAddable(path)) {
      taken << path;
    } else {
      refused << QFileInfo(path).fileName();
    }
  }
  if (!refused.isEmpty()) {
    ShowMessage(GetResString(QStringLiteral("frmUpload"), QStringLiteral("msgDropRefused"),
                             QStringLiteral("Only videos, recorded projects (project.kqp) and "
                                            "folders can be added. Not added:\n%s"))
                    .replace(QStringLiteral("%s"), refused.join(QLatin1Char('\n'))),
                QString(), MsgButtons::Ok, MsgIcon::Warning);
  }
  if (taken.isEmpty()) return;
  // The dialog takes the paths when it opens; a refused Add (a job running) leaves none behind.
  DialogShared::Instance().droppedPaths = taken;
  Ui::frmUpload& ui = window_.form();
  if (taken.size() == 1 && !folder) {
    ui.cmdAdd->click();
  } else {
    ui.cmdAddKqp->click();
  }
  DialogShared::Instance().droppedPaths.clear();
}
