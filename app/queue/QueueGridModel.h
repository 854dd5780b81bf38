#pragma once

#include "app/queue/UploadJob.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QHash>
#include <QLatin1String>
#include <QString>
#include <QTime>

#include <array>
#include <functional>

namespace cf {

// Job states as they stand in the state column; compared literally.
inline constexpr QLatin1String kStateWaiting("Waiting");
inline constexpr QLatin1String kStateTransfering("Transfering");
inline constexpr QLatin1String kStateEditing("Editing");
inline constexpr QLatin1String kStateFinished("Finished");
inline constexpr QLatin1String kStateFailed("Failed");
inline constexpr QLatin1String kStateCanceled("Canceled");

// Column numbers of the queue grid, 1-based like the store's row numbers.
enum QueueColumn : int {
  kColClassify = 1,
  kColFileName,
  kColTitle,
  kColAuthor,
  kColUrl,
  kColFolder,
  kColState,
  kColError,
  kColCvtBeginTime,
  kColCvtEndTime,
  kColUploadBeginTime,
  kColUploadEndTime,
  kColPath,
};

struct QueueColumnInfo {
  const char* key;        // the column's key
  const char* headerKey;  // localized-text key of its header, section frmUpload
  int width;              // pixels
};

class UploadQueue;

// The queue grid's table model: a view over the queue store, holding no job data of its own. Jobs
// are added, changed and removed through the store; the model follows its signals.
class QueueGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 13;
  static const std::array<QueueColumnInfo, kColumnCount>& Columns();

  // Text colour and weight of a row in the given state; unknown states read as "Waiting".
  static QColor StateColor(const QString& state);
  static bool StateBold(const QString& state);
  // "Quillbox" for a recorded project, "Video" otherwise (never localized).
  static QString KindText(const QString& fileName);
  // Time stamps in the time columns.
  static QString TimeText(const QTime& time);

  explicit QueueGridModel(UploadQueue& store, QObject* parent = nullptr);

  UploadQueue& store() { return m_store; }
  const UploadQueue& store() const { return m_store; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Header texts come from the caller's lookup of each column's header key; until then the
  // column keys stand in.
  void setHeaderTexts(const std::function<QString(const QString& headerKey)>& lookup);
  // The grid's font; rows use a normal and a bold copy of it.
  void setBaseFont(const QFont& font);

  // What the grid shows in a cell; empty outside the grid. Rows and columns are 1-based here.
  QString text(int row, int column) const;
  // What a running job is doing, shown in its state cell instead of the state; empty clears it.
  // The stored state is not touched.
  void setActivity(const QString& path, const QString& activity);

 private:
  void jobShown(const QString& path);

  UploadQueue& m_store;
  QStringList m_headers;
  QHash<QString, QString> m_activity;
  QFont m_normalFont;
  QFont m_boldFont;
};

}  // namespace cf
