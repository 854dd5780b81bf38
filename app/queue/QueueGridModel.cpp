#include "app/queue/QueueGridModel.h"

#include "app/queue/UploadQueue.h"

#include <QBrush>
#include <QColor>
#include <QSize>

#include <algorithm>

namespace cf {
namespace {

// How each state paints its row. The colour always follows the state text, so a row can never
// show one state in another state's colour, whatever moved or rewrote it.
struct StateStyle {
  QLatin1String state;
  int red;
  int green;
  int blue;
  bool bold;
};

constexpr StateStyle kStateStyles[] = {
    {kStateWaiting, 0, 0, 0, false},   {kStateTransfering, 0, 0, 255, true},
    {kStateEditing, 0, 0, 255, false}, {kStateFinished, 0, 160, 15, false},
    {kStateFailed, 255, 0, 0, false},  {kStateCanceled, 170, 170, 170, false},
};

const StateStyle& StyleOf(const QString& state) {
  for (const StateStyle& style : kStateStyles) {
    if (state == style.state) return style;
  }
  return kStateStyles[0];
}

constexpr std::array<QueueColumnInfo, QueueGridModel::kColumnCount> kColumns = {{
    {"classify", "gridClassify", 65},
    {"filename", "gridFileName", 100},
    {"title", "gridTitle", 100},
    {"author", "gridAuthor", 70},
    {"url", "gridUrl", 100},
    {"folder", "gridFolder", 80},
    {"state", "gridState", 80},
    {"error", "gridError", 100},
    {"cvtbegintime", "gridCvtBeginTime", 100},
    {"cvtendtime", "gridCvtEndTime", 100},
    {"uploadbegintime", "gridUploadBeginTime", 100},
    {"uploadendtime", "gridUploadEndTime", 100},
    {"path", "gridPath", 100},
}};

constexpr int kRowHeight = 20;

bool ValidColumn(int column) { return column >= 1 && column <= QueueGridModel::kColumnCount; }

}  // namespace

const std::array<QueueColumnInfo, QueueGridModel::kColumnCount>& QueueGridModel::Columns() {
  return kColumns;
}

QColor QueueGridModel::StateColor(const QString& state) {
  const StateStyle& style = StyleOf(state);
  return QColor(style.red, style.green, style.blue);
}

bool QueueGridModel::StateBold(const QString& state) { return StyleOf(state).bold; }

QString QueueGridModel::KindText(const QString& fileName) {
  return UploadJob::IsProjectFileName(fileName) ? QStringLiteral("Quillbox")
                                                : QStringLiteral("Video");
}

QString QueueGridModel::TimeText(const QTime& time) {
  return time.toString(QStringLiteral("hh:mm:ss"));
}

QueueGridModel::QueueGridModel(UploadQueue& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store) {
  for (const QueueColumnInfo& column : kColumns) m_headers << QString::fromLatin1(column.key);
  setBaseFont(QFont());
  connect(&m_store, &UploadQueue::rowsAboutToBeAdded, this,
          [this](int first, int last) { beginInsertRows(QModelIndex(), first, last); });
  connect(&m_store, &UploadQueue::rowsAdded, this, [this] { endInsertRows(); });
  connect(&m_store, &UploadQueue::rowsAboutToBeRemoved, this,
          [this](int first, int last) { beginRemoveRows(QModelIndex(), first, last); });
  connect(&m_store, &UploadQueue::rowsRemoved, this, [this] { endRemoveRows(); });
  connect(&m_store, &UploadQueue::aboutToReset, this, [this] { beginResetModel(); });
  connect(&m_store, &UploadQueue::wasReset, this, [this] { endResetModel(); });
  connect(&m_store, &UploadQueue::jobChanged, this, &QueueGridModel::jobShown);
  connect(&m_store, &UploadQueue::rowsSwapped, this, [this](int a, int b) {
    emit dataChanged(index(a, 0), index(a, kColumnCount - 1));
    emit dataChanged(index(b, 0), index(b, kColumnCount - 1));
  });
}

int QueueGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_store.RowCount();
}

int QueueGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant QueueGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() >= kColumnCount) return {};
  const UploadJob* job = m_store.AtRow(index.row() + 1);
  if (job == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return text(index.row() + 1, index.column() + 1);
    case Qt::ForegroundRole:
      return QBrush(StateColor(StateText(job->live)));
    case Qt::FontRole:
      return StateBold(StateText(job->live)) ? m_boldFont : m_normalFont;
    default:
      return {};
  }
}

QVariant QueueGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  if (role == Qt::DisplayRole) return m_headers.value(section);
  if (role == Qt::SizeHintRole)
    return QSize(kColumns[static_cast<size_t>(section)].width, kRowHeight);
  return {};
}

void QueueGridModel::setHeaderTexts(const std::function<QString(const QString&)>& lookup) {
  for (int column = 0; column < kColumnCount; ++column) {
    const QueueColumnInfo& info = kColumns[static_cast<size_t>(column)];
    const QString textFound = lookup ? lookup(QString::fromLatin1(info.headerKey)) : QString();
    m_headers[column] = textFound.isEmpty() ? QString::fromLatin1(info.key) : textFound;
  }
  emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

void QueueGridModel::setBaseFont(const QFont& font) {
  m_normalFont = font;
  m_normalFont.setBold(false);
  m_boldFont = font;
  m_boldFont.setBold(true);
  if (rowCount() > 0) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1), {Qt::FontRole});
  }
}

int QueueGridModel::addRow(const QString& fileName, const QString& title, const QString& author,
                           const QString& path, const QString& url, const QString& folderName) {
  if (const int existing = findRow(path)) return existing;
  UploadJob job;
  job.fileName = fileName;
  job.title = title;
  job.Author = author;
  job.path = path;
  job.Url = url;
  job.folderName = folderName;
  if (!m_store.Add(job)) return 0;
  return m_store.RowCount();
}

bool QueueGridModel::updateRow(const QString& path, const QString& fileName, const QString& title,
                               const QString& author, const QString& url,
                               const QString& folderName) {
  return m_store.UpdateShown(path, fileName, title, author, url, folderName);
}

bool QueueGridModel::setState(const QString& path, const QString& state) {
  const std::optional<JobState> known = StateFromText(state);
  return known && m_store.SetState(path, *known);
}

bool QueueGridModel::setFailure(const QString& path, const QString& text) {
  return m_store.SetFailure(path, text);
}

bool QueueGridModel::stampTime(const QString& path, int column) {
  if (column < kColCvtBeginTime || column > kColUploadEndTime) return false;
  return m_store.StampTime(path, static_cast<JobTime>(column - kColCvtBeginTime));
}

int QueueGridModel::findRow(const QString& path) const { return m_store.RowOf(path); }

QString QueueGridModel::cellText(const QString& path, int column) const {
  return text(findRow(path), column);
}

bool QueueGridModel::setCell(const QString& path, int column, const QString& text) {
  const int row = findRow(path);
  if (row == 0 || !ValidColumn(column)) return false;
  setText(row, column, text);
  return true;
}

QString QueueGridModel::text(int row, int column) const {
  const UploadJob* job = m_store.AtRow(row);
  if (job == nullptr || !ValidColumn(column)) return {};
  switch (column) {
    case kColClassify:
      return KindText(job->fileName);
    case kColFileName:
      return job->fileName;
    case kColTitle:
      return job->title;
    case kColAuthor:
      return job->Author;
    case kColUrl:
      return job->Url;
    case kColFolder:
      return job->folderName;
    case kColState:
      return StateText(job->live);
    case kColError:
      return job->errorText;
    case kColPath:
      return job->path;
    default:
      return job->timeText(static_cast<JobTime>(column - kColCvtBeginTime));
  }
}

void QueueGridModel::setText(int row, int column, const QString& text) {
  const UploadJob* job = m_store.AtRow(row);
  if (job == nullptr || !ValidColumn(column)) return;
  const QString path = job->path;
  switch (column) {
    case kColClassify:
    case kColPath:
      return;
    case kColFileName:
    case kColTitle:
    case kColAuthor:
    case kColUrl:
    case kColFolder: {
      const JobState state = job->live;
      // Rewriting one shown field keeps the row's state.
      m_store.UpdateShown(
          path, column == kColFileName ? text : job->fileName,
          column == kColTitle ? text : job->title, column == kColAuthor ? text : job->Author,
          column == kColUrl ? text : job->Url, column == kColFolder ? text : job->folderName);
      m_store.SetState(path, state);
      return;
    }
    case kColState:
      setState(path, text);
      return;
    case kColError:
      m_store.SetErrorText(path, text);
      return;
    default:
      m_store.SetTime(path, static_cast<JobTime>(column - kColCvtBeginTime),
                      QTime::fromString(text, QStringLiteral("hh:mm:ss")));
      return;
  }
}

int QueueGridModel::firstRowInState(const QString& state) const {
  const std::optional<JobState> known = StateFromText(state);
  return known ? m_store.FirstRowInState(*known) : 0;
}

bool QueueGridModel::anyTransferring() const { return m_store.AnyInState(JobState::Transfering); }

bool QueueGridModel::anyWaiting() const { return m_store.AnyInState(JobState::Waiting); }

int QueueGridModel::nextWaiting() {
  const QString path = m_store.NextWaiting();
  if (!path.isEmpty()) {
    m_currentPath = path;
    return findRow(path);
  }
  if (rowCount() > 0) emit noWaitingRow();
  return 0;
}

void QueueGridModel::swapRows(int a, int b) { m_store.SwapRows(a, b); }

void QueueGridModel::deleteRow(int row) { deleteRows(row, 1); }

void QueueGridModel::deleteRows(int first, int count) {
  if (!validRow(first) || count <= 0) return;
  const int last = std::min(first + count - 1, rowCount());
  QStringList paths;
  for (int row = first; row <= last; ++row) paths << m_store.AtRow(row)->path;
  m_store.RemoveMany(paths);
}

void QueueGridModel::clear() { m_store.Clear(); }

void QueueGridModel::jobShown(const QString& path) {
  const int row = findRow(path);
  if (row == 0) return;
  emit dataChanged(index(row - 1, 0), index(row - 1, kColumnCount - 1));
}

}  // namespace cf
