#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"

#include <gtest/gtest.h>

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QRegularExpression>

#include <optional>
#include <random>
#include <vector>

namespace cf {
namespace {

QColor Foreground(const QueueGridModel& grid, int row, int column) {
  return grid.data(grid.index(row - 1, column - 1), Qt::ForegroundRole).value<QBrush>().color();
}

bool Bold(const QueueGridModel& grid, int row, int column) {
  return grid.data(grid.index(row - 1, column - 1), Qt::FontRole).value<QFont>().bold();
}

// Every one of the 13 cells of the row shows this colour and weight.
void ExpectRowPainted(const QueueGridModel& grid, int row, const QColor& color, bool bold) {
  for (int column = 1; column <= QueueGridModel::kColumnCount; ++column) {
    EXPECT_EQ(Foreground(grid, row, column), color) << "column " << column;
    EXPECT_EQ(Bold(grid, row, column), bold) << "column " << column;
  }
}

UploadJob Job(const QString& fileName, const QString& title, const QString& author,
              const QString& path, const QString& url, const QString& folder) {
  UploadJob job;
  job.fileName = fileName;
  job.title = title;
  job.Author = author;
  job.path = path;
  job.Url = url;
  job.folderName = folder;
  return job;
}

// Queues a video through the store; returns its row.
int AddVideo(UploadQueue& store, const QString& name) {
  if (!store.Add(Job(name + ".mp4", "T " + name, "A " + name, "/v/" + name + ".mp4", "host",
                     "F " + name))) {
    return 0;
  }
  return store.RowOf("/v/" + name + ".mp4");
}

QString StateAt(const QueueGridModel& grid, int row) { return grid.text(row, kColState); }
QString PathAt(const QueueGridModel& grid, int row) { return grid.text(row, kColPath); }

bool SetState(UploadQueue& store, const QString& path, const QString& text) {
  const std::optional<JobState> state = StateFromText(text);
  return state && store.SetState(path, *state);
}

TEST(QueueGridModelTest, AddedRowShowsTheJobAsWaiting) {
  UploadQueue store;
  QueueGridModel grid(store);
  ASSERT_TRUE(store.Add(Job("lesson.kqp", "Title", "Author", "/p/lesson.kqp", "srv:81/x", "Math")));
  ASSERT_TRUE(store.Add(Job("clip.MP4", "T2", "A2", "/v/clip.MP4", "srv", "Art")));
  ASSERT_EQ(grid.rowCount(), 2);
  ASSERT_EQ(grid.columnCount(), 13);
  const char* expected[] = {"Quillbox",     "lesson.kqp", "Title", "Author", "srv:81/x", "Math",
                            "Waiting",      "",           "",      "",       "",         "",
                            "/p/lesson.kqp"};
  for (int column = 1; column <= 13; ++column) {
    EXPECT_EQ(grid.text(1, column), expected[column - 1]) << "column " << column;
    EXPECT_EQ(grid.data(grid.index(0, column - 1)).toString(), expected[column - 1]);
  }
  EXPECT_EQ(grid.text(2, kColClassify), "Video");
  EXPECT_EQ(grid.text(3, kColPath), "");
  EXPECT_EQ(grid.text(1, 14), "");
  ExpectRowPainted(grid, 1, QColor(0, 0, 0), false);
}

TEST(QueueGridModelTest, HeadersComeFromTheLookupWithKeysAndWidthsInColumnOrder) {
  UploadQueue store;
  QueueGridModel grid(store);
  const auto& columns = QueueGridModel::Columns();
  EXPECT_STREQ(columns[kColClassify - 1].headerKey, "gridClassify");
  EXPECT_EQ(columns[kColClassify - 1].width, 65);
  EXPECT_STREQ(columns[kColAuthor - 1].key, "author");
  EXPECT_EQ(columns[kColAuthor - 1].width, 70);
  EXPECT_EQ(columns[kColFolder - 1].width, 80);
  EXPECT_STREQ(columns[kColUploadBeginTime - 1].headerKey, "gridUploadBeginTime");
  EXPECT_STREQ(columns[kColPath - 1].key, "path");

  EXPECT_EQ(grid.headerData(12, Qt::Horizontal).toString(), "path");
  grid.setHeaderTexts(
      [](const QString& key) { return key == "gridError" ? QString() : "<" + key + ">"; });
  EXPECT_EQ(grid.headerData(0, Qt::Horizontal).toString(), "<gridClassify>");
  EXPECT_EQ(grid.headerData(12, Qt::Horizontal).toString(), "<gridPath>");
  EXPECT_EQ(grid.headerData(7, Qt::Horizontal).toString(), "error");  // nothing found: the key
  EXPECT_EQ(grid.headerData(0, Qt::Horizontal, Qt::SizeHintRole).toSize().width(), 65);
}

TEST(QueueGridModelTest, EveryStatePaintsTheWholeRowWithItsColourAndWeight) {
  const struct {
    const char* state;
    QColor color;
    bool bold;
  } styles[] = {
      {"Waiting", QColor(0, 0, 0), false},   {"Transfering", QColor(0, 0, 255), true},
      {"Editing", QColor(0, 0, 255), false}, {"Finished", QColor(0, 160, 15), false},
      {"Failed", QColor(255, 0, 0), false},  {"Canceled", QColor(170, 170, 170), false},
  };
  UploadQueue store;
  QueueGridModel grid(store);
  QFont base("DejaVu Sans", 11);
  base.setItalic(true);
  grid.setBaseFont(base);
  AddVideo(store, "a");
  for (const auto& style : styles) {
    SCOPED_TRACE(style.state);
    // From bold blue to the state: nothing of the previous paint may stay behind.
    ASSERT_TRUE(SetState(store, "/v/a.mp4", "Transfering"));
    ASSERT_TRUE(SetState(store, "/v/a.mp4", style.state));
    EXPECT_EQ(StateAt(grid, 1), style.state);
    ExpectRowPainted(grid, 1, style.color, style.bold);
    const QFont font = grid.data(grid.index(0, 4), Qt::FontRole).value<QFont>();
    EXPECT_EQ(font.family(), "DejaVu Sans");
    EXPECT_TRUE(font.italic());
  }
  // States are compared literally: a text that names none is refused and the row keeps its paint.
  ASSERT_TRUE(SetState(store, "/v/a.mp4", "Transfering"));
  EXPECT_FALSE(SetState(store, "/v/a.mp4", "waiting"));
  EXPECT_EQ(StateAt(grid, 1), "Transfering");
  ExpectRowPainted(grid, 1, QColor(0, 0, 255), true);
}

TEST(QueueGridModelTest, RowsThatMoveOrAreRewrittenArePaintedByTheirOwnState) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(store, "a");
  AddVideo(store, "b");
  store.SetState("/v/a.mp4", JobState::Transfering);
  store.SwapRows(1, 2);
  EXPECT_EQ(PathAt(grid, 2), "/v/a.mp4");
  ExpectRowPainted(grid, 2, QColor(0, 0, 255), true);
  ExpectRowPainted(grid, 1, QColor(0, 0, 0), false);

  // A confirmed edit rewrites the row and marks it waiting; it must not stay blue.
  store.SetState("/v/b.mp4", JobState::Editing);
  ASSERT_TRUE(store.UpdateShown("/v/b.mp4", "b2.kqp", " New", "Me", "other", "G"));
  EXPECT_EQ(StateAt(grid, 1), "Waiting");
  EXPECT_EQ(grid.text(1, kColClassify), "Quillbox");
  EXPECT_EQ(grid.text(1, kColTitle), " New");
  EXPECT_EQ(grid.text(1, kColPath), "/v/b.mp4");
  ExpectRowPainted(grid, 1, QColor(0, 0, 0), false);
  EXPECT_FALSE(store.UpdateShown("/v/none.mp4", "x", "x", "x", "x", "x"));
}

TEST(QueueGridModelTest, StateChangesTellTheViewToRepaintTheWholeRow) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(store, "a");
  AddVideo(store, "b");
  std::vector<std::pair<QModelIndex, QModelIndex>> changes;
  QObject::connect(
      &grid, &QueueGridModel::dataChanged,
      [&](const QModelIndex& from, const QModelIndex& to) { changes.emplace_back(from, to); });
  store.SetState("/v/b.mp4", JobState::Failed);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].first, grid.index(1, 0));
  EXPECT_EQ(changes[0].second, grid.index(1, 12));
  changes.clear();
  store.SwapRows(1, 2);
  EXPECT_EQ(changes.size(), 2u);
}

TEST(QueueGridModelTest, FailuresTimesAndCellsAreWrittenToThePathsRow) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(store, "a");
  AddVideo(store, "b");
  EXPECT_TRUE(store.SetFailure("/v/b.mp4", "File not found"));
  EXPECT_EQ(grid.text(2, kColError), "File not found");
  EXPECT_EQ(StateAt(grid, 2), "Failed");
  ExpectRowPainted(grid, 2, QColor(255, 0, 0), false);
  EXPECT_EQ(StateAt(grid, 1), "Waiting");

  EXPECT_TRUE(store.StampTime("/v/a.mp4", JobTime::ConversionBegin));
  EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                  .match(grid.data(grid.index(0, kColCvtBeginTime - 1)).toString())
                  .hasMatch());
  EXPECT_EQ(QueueGridModel::TimeText(QTime(7, 3, 9)), "07:03:09");
  EXPECT_EQ(QueueGridModel::TimeText(QTime(19, 30, 0)), "19:30:00");

  EXPECT_TRUE(store.SetTime("/v/a.mp4", JobTime::UploadEnd, QTime(12, 0, 0)));
  EXPECT_EQ(grid.text(1, kColUploadEndTime), "12:00:00");
  EXPECT_FALSE(store.SetFailure("/v/none.mp4", "x"));
  EXPECT_EQ(grid.text(store.RowOf("/v/none.mp4"), kColState), "");
}

TEST(QueueGridModelTest, NextWaitingTakesTheTopmostWaitingRow) {
  UploadQueue store;
  QueueGridModel grid(store);
  EXPECT_EQ(store.NextWaiting(), "");

  for (const char* name : {"a", "b", "c"}) AddVideo(store, name);
  store.SetState("/v/a.mp4", JobState::Failed);
  EXPECT_EQ(store.NextWaiting(), "/v/b.mp4");
  store.SetState("/v/b.mp4", JobState::Transfering);
  EXPECT_TRUE(store.AnyInState(JobState::Transfering));
  EXPECT_EQ(store.NextWaiting(), "/v/c.mp4");
  // Rows, not the collection, decide: an edited job keeps its place.
  store.SwapRows(2, 3);
  store.SetState("/v/b.mp4", JobState::Waiting);
  EXPECT_EQ(store.NextWaiting(), "/v/c.mp4");
  store.SetState("/v/c.mp4", JobState::Finished);
  store.SetState("/v/b.mp4", JobState::Finished);
  EXPECT_FALSE(store.AnyInState(JobState::Waiting));
  EXPECT_EQ(store.NextWaiting(), "");
}

TEST(QueueGridModelTest, SwapIgnoresRowsOutsideTheGrid) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(store, "a");
  AddVideo(store, "b");
  for (const auto& [a, b] : {std::pair{0, 1}, {1, 3}, {-1, 2}, {2, 2}}) {
    store.SwapRows(a, b);
    EXPECT_EQ(PathAt(grid, 1), "/v/a.mp4");
    EXPECT_EQ(PathAt(grid, 2), "/v/b.mp4");
  }
  EXPECT_EQ(grid.text(0, kColPath), "");
  EXPECT_EQ(grid.text(3, kColPath), "");
}

// RowOf is backed by an index that row moves, removals and edits must keep honest: run random
// store operations and compare every lookup, and what the grid shows, with a plain scan.
TEST(QueueGridModelTest, RowLookupAgreesWithAScanThroughRandomEdits) {
  UploadQueue store;
  QueueGridModel grid(store);
  std::mt19937 random(20261208);
  const auto pick = [&](int upTo) { return std::uniform_int_distribution<int>(0, upTo)(random); };
  const auto pathOf = [](int n) { return QString("/v/%1.mp4").arg(n); };
  const auto scan = [&](const QString& path) {
    for (int row = 1; row <= grid.rowCount(); ++row) {
      if (PathAt(grid, row) == path) return row;
    }
    return 0;
  };
  const auto pathAtRow = [&](int row) {
    const UploadJob* job = store.AtRow(row);
    return job != nullptr ? job->path : QString();
  };
  for (int step = 0; step < 3000; ++step) {
    const int rows = grid.rowCount();
    switch (pick(6)) {
      case 0:
      case 1:  // paths repeat now and then, as a hand-edited queue file may have them
        store.Add(Job("x.mp4", "t", "a", pathOf(pick(60)), "u", "f"));
        break;
      case 2:
        store.Remove(pathAtRow(pick(rows)));
        break;
      case 3: {
        QStringList paths;
        for (int n = pick(3), row = pick(rows); n > 0; --n, ++row) paths << pathAtRow(row);
        store.RemoveMany(paths);
        break;
      }
      case 4:
        store.SwapRows(pick(rows), pick(rows));
        break;
      case 5:  // an edit under a new path keeps the row's place
        store.Replace(pathAtRow(pick(rows)), Job("y.mp4", "t", "a", pathOf(pick(60)), "u", "f"));
        break;
      default:
        store.SetState(pathOf(pick(60)), JobState::Failed);
        break;
    }
    ASSERT_EQ(grid.rowCount(), store.RowCount());
    const QString probe = pathOf(pick(60));
    ASSERT_EQ(store.RowOf(probe), scan(probe)) << "step " << step;
  }
  store.Clear();
  EXPECT_EQ(grid.rowCount(), 0);
  EXPECT_EQ(store.RowOf(pathOf(1)), 0);
}

}  // namespace
}  // namespace cf
