#include "app/queue/QueueGridModel.h"

#include "app/queue/UploadQueue.h"

#include <QBrush>
#include <QColor>
#include <QSize>

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
      if (index.column() == kColState - 1 && job->live == JobState::Transfering &&
          m_activity.contains(job->path)) {
        return m_activity.value(job->path);
      }
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

void QueueGridModel::setActivity(const QString& path, const QString& activity) {
  if (activity.isEmpty()) {
    if (m_activity.remove(path) == 0) return;
  } else {
    if (m_activity.value(path) == activity) return;
    m_activity.insert(path, activity);
  }
  jobShown(path);
}

void QueueGridModel::jobShown(const QString& path) {
  const int row = m_store.RowOf(path);
  if (row == 0) return;
  emit dataChanged(index(row - 1, 0), index(row - 1, kColumnCount - 1));
}

}  // namespace cf
