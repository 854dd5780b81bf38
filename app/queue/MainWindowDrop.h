#pragma once

#include <QObject>
#include <QStringList>

class frmUpload;

// Files dropped on the main window: one video or project opens Add with it chosen; several, or a
// folder, open the batch window searching them. Anything else is refused and named.
class MainWindowDrop : public QObject {
  Q_OBJECT

 public:
  explicit MainWindowDrop(frmUpload& window);

  // What a drop of these local paths does; the drop event ends here.
  void Drop(const QStringList& paths);
  // A file Add can take: a video of a known type or a recorded project.
  static bool IsAddable(const QString& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  frmUpload& window_;
};
