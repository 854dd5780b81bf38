#include "app/queue/QueueGridModel.h"

#include "app/queue/UploadJob.h"

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

QueueGridModel::QueueGridModel(QObject* parent) : QAbstractTableModel(parent) {
  for (const QueueColumnInfo& column : kColumns) m_headers << QString::fromLatin1(column.key);
  setBaseFont(QFont());
}

int QueueGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int QueueGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant QueueGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()) ||
      index.column() >= kColumnCount) {
    return {};
  }
  const Row& row = m_rows[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return row[static_cast<size_t>(index.column())];
    case Qt::ForegroundRole:
      return QBrush(StateColor(row[kColState - 1]));
    case Qt::FontRole:
      return StateBold(row[kColState - 1]) ? m_boldFont : m_normalFont;
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
  if (!m_rows.empty()) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1), {Qt::FontRole});
  }
}

int QueueGridModel::addRow(const QString& fileName, const QString& title, const QString& author,
                           const QString& path, const QString& url, const QString& folderName) {
  Row row;
  row[kColClassify - 1] = KindText(fileName);
  row[kColFileName - 1] = fileName;
  row[kColTitle - 1] = title;
  row[kColAuthor - 1] = author;
  row[kColUrl - 1] = url;
  row[kColFolder - 1] = folderName;
  row[kColState - 1] = kStateWaiting;
  row[kColPath - 1] = path;
  const int position = static_cast<int>(m_rows.size());
  beginInsertRows(QModelIndex(), position, position);
  m_rows.push_back(std::move(row));
  if (!m_indexStale && !m_rowByPath.contains(path)) m_rowByPath.insert(path, position);
  endInsertRows();
  return position + 1;
}

bool QueueGridModel::updateRow(const QString& path, const QString& fileName, const QString& title,
                               const QString& author, const QString& url,
                               const QString& folderName) {
  const int rowNumber = findRow(path);
  if (rowNumber == 0) return false;
  Row& row = m_rows[static_cast<size_t>(rowNumber - 1)];
  row[kColClassify - 1] = KindText(fileName);
  row[kColFileName - 1] = fileName;
  row[kColTitle - 1] = title;
  row[kColAuthor - 1] = author;
  row[kColUrl - 1] = url;
  row[kColFolder - 1] = folderName;
  row[kColPath - 1] = path;
  row[kColState - 1] = kStateWaiting;
  rowChanged(rowNumber);
  return true;
}

bool QueueGridModel::setState(const QString& path, const QString& state) {
  return setCell(path, kColState, state);
}

bool QueueGridModel::setFailure(const QString& path, const QString& text) {
  if (!setCell(path, kColError, text)) return false;
  return setState(path, kStateFailed);
}

bool QueueGridModel::stampTime(const QString& path, int column) {
  return setCell(path, column, TimeText(QTime::currentTime()));
}

int QueueGridModel::findRow(const QString& path) const {
  if (m_indexStale) rebuildIndex();
  const auto found = m_rowByPath.constFind(path);
  if (found == m_rowByPath.constEnd()) return 0;
  return found.value() + 1;
}

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
  if (!validRow(row) || !ValidColumn(column)) return {};
  return m_rows[static_cast<size_t>(row - 1)][static_cast<size_t>(column - 1)];
}

void QueueGridModel::setText(int row, int column, const QString& text) {
  if (!validRow(row) || !ValidColumn(column)) return;
  QString& cell = m_rows[static_cast<size_t>(row - 1)][static_cast<size_t>(column - 1)];
  if (column == kColPath && cell != text) m_indexStale = true;
  cell = text;
  // The state decides the colour and weight of the whole row.
  if (column == kColState) {
    rowChanged(row);
  } else {
    cellChanged(row, column);
  }
}

int QueueGridModel::firstRowInState(const QString& state) const {
  for (size_t i = 0; i < m_rows.size(); ++i) {
    if (m_rows[i][kColState - 1] == state) return static_cast<int>(i) + 1;
  }
  return 0;
}

int QueueGridModel::nextWaiting() {
  const int row = firstRowInState(kStateWaiting);
  if (row != 0) {
    m_currentPath = pathAt(row);
  } else if (!m_rows.empty()) {
    emit noWaitingRow();
  }
  return row;
}

void QueueGridModel::swapRows(int a, int b) {
  if (!validRow(a) || !validRow(b) || a == b) return;
  std::swap(m_rows[static_cast<size_t>(a - 1)], m_rows[static_cast<size_t>(b - 1)]);
  m_indexStale = true;
  rowChanged(a);
  rowChanged(b);
}

void QueueGridModel::deleteRow(int row) { deleteRows(row, 1); }

void QueueGridModel::deleteRows(int first, int count) {
  if (!validRow(first) || count <= 0) return;
  const int last = std::min(first + count - 1, static_cast<int>(m_rows.size()));
  beginRemoveRows(QModelIndex(), first - 1, last - 1);
  const bool atEnd = last == static_cast<int>(m_rows.size());
  if (atEnd && !m_indexStale) {
    // Rows at the end move nobody else, so the index stays exact without a rebuild.
    for (int row = first; row <= last; ++row) {
      const QString& path = m_rows[static_cast<size_t>(row - 1)][kColPath - 1];
      const auto found = m_rowByPath.find(path);
      if (found != m_rowByPath.end() && found.value() == row - 1) m_rowByPath.erase(found);
    }
  } else {
    m_indexStale = true;
  }
  m_rows.erase(m_rows.begin() + (first - 1), m_rows.begin() + last);
  endRemoveRows();
}

void QueueGridModel::clear() {
  if (m_rows.empty()) return;
  beginResetModel();
  m_rows.clear();
  m_rowByPath.clear();
  m_indexStale = false;
  endResetModel();
}

void QueueGridModel::rowChanged(int row) {
  emit dataChanged(index(row - 1, 0), index(row - 1, kColumnCount - 1));
}

void QueueGridModel::cellChanged(int row, int column) {
  const QModelIndex cell = index(row - 1, column - 1);
  emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
}

void QueueGridModel::rebuildIndex() const {
  m_rowByPath.clear();
  m_rowByPath.reserve(static_cast<qsizetype>(m_rows.size()));
  // From the bottom up, so that a path standing in several rows maps to its first row.
  for (size_t i = m_rows.size(); i-- > 0;) {
    m_rowByPath.insert(m_rows[i][kColPath - 1], static_cast<int>(i));
  }
  m_indexStale = false;
}

}  // namespace cf
