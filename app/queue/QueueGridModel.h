#pragma once

#include "app/queue/UploadJob.h"

#include <QAbstractTableModel>
#include <QFont>
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

// Column numbers of the queue grid, 1-based like the row numbers of the row operations.
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

// The queue grid's table model: a view over the queue store, holding no job data of its own.
// The row operations below (setState, setFailure, stampTime, cellText, nextWaiting, ...) are thin
// forwards to the store, kept so that code written against rows reads the same.
//
// Row numbers in the row operations are 1-based and 0 means "no row", as the callers count them;
// the QAbstractItemModel overrides use ordinary 0-based model indexes.
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

  // Appends a "Waiting" job with only these fields, or, when the store already holds a job with
  // that path, returns that job's row unchanged. Returns the row number (0 for an empty path).
  int addRow(const QString& fileName, const QString& title, const QString& author,
             const QString& path, const QString& url, const QString& folderName);
  // Rewrites kind, file name, title, author, address, folder and path of the row whose path is
  // `path`, and marks it "Waiting". False when there is no such row.
  bool updateRow(const QString& path, const QString& fileName, const QString& title,
                 const QString& author, const QString& url, const QString& folderName);
  bool setState(const QString& path, const QString& state);
  // Writes the error text and marks the row "Failed".
  bool setFailure(const QString& path, const QString& text);
  // Writes the current local time into one of the time columns.
  bool stampTime(const QString& path, int column);

  // Row of the job with this path; 0 when none. Amortised constant time.
  int findRow(const QString& path) const;
  QString cellText(const QString& path, int column) const;
  bool setCell(const QString& path, int column, const QString& text);

  // Access by row number; empty text and no effect outside the grid. Writing the kind or the
  // path column changes nothing: both follow the job.
  QString text(int row, int column) const;
  void setText(int row, int column, const QString& text);
  QString stateAt(int row) const { return text(row, kColState); }
  QString pathAt(int row) const { return text(row, kColPath); }

  // First row in the given state, scanning from the top; 0 when none.
  int firstRowInState(const QString& state) const;
  bool anyTransferring() const;
  bool anyWaiting() const;

  // The first "Waiting" row becomes the current job; returns its row number, or 0 (and emits
  // noWaitingRow when rows exist) when nothing waits.
  int nextWaiting();
  QString currentPath() const { return m_currentPath; }

  // Exchanges two rows; nothing happens unless both lie inside the grid. These remove or move
  // jobs in the store.
  void swapRows(int a, int b);
  void deleteRow(int row);
  // Deletes `count` rows starting at `first`; clipped to the grid.
  void deleteRows(int first, int count);
  void clear();

 signals:
  // Rows exist but none is waiting any more: the stop button has nothing left to stop.
  void noWaitingRow();

 private:
  bool validRow(int row) const { return row >= 1 && row <= rowCount(); }
  void jobShown(const QString& path);

  UploadQueue& m_store;
  QStringList m_headers;
  QFont m_normalFont;
  QFont m_boldFont;
  QString m_currentPath;
};

}  // namespace cf
