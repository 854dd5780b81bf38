#include "app/services/WindowPlace.h"

#include "app/services/SettingsStore.h"

#include <QEvent>
#include <QFileInfo>
#include <QWidget>

namespace {

const QString kSettings = QString::fromLatin1(kSettingsSection);
const QString kLastFolder = QStringLiteral("lastPickedFolder");

QString PlaceKey(const QWidget* window) { return window->objectName() + QStringLiteral("Place"); }

class PlaceKeeper : public QObject {
 public:
  explicit PlaceKeeper(QWidget* window) : QObject(window), window_(window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Closing hides a window too; a dialog's exec ends the same way.
    if (watched == window_ && event->type() == QEvent::Hide) Save();
    return false;
  }

 private:
  void Save() {
    WritePlainSetting(kSettings, PlaceKey(window_),
                      QString::fromLatin1(window_->saveGeometry().toBase64()));
  }
  QWidget* window_;
};

}  // namespace

void RememberWindowPlace(QWidget* window) {
  if (window->objectName().isEmpty()) return;
  const QString saved = ReadPlainSetting(kSettings, PlaceKey(window), QString());
  if (!saved.isEmpty()) {
    // Qt moves a place that lies off every screen today back onto the nearest one.
    window->restoreGeometry(QByteArray::fromBase64(saved.toLatin1()));
  }
  window->installEventFilter(new PlaceKeeper(window));
}

QString LastPickedFolder() {
  const QString folder = ReadPlainSetting(kSettings, kLastFolder, QString());
  return QFileInfo(folder).isDir() ? folder : QString();
}

void RememberPickedPath(const QString& path) {
  if (path.isEmpty()) return;
  const QFileInfo picked(path);
  WritePlainSetting(kSettings, kLastFolder,
                    picked.isDir() ? picked.absoluteFilePath() : picked.absolutePath());
}
