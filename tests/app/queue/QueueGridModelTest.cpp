#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"

#include <gtest/gtest.h>

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QRegularExpression>

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

int AddVideo(QueueGridModel& grid, const QString& name) {
  return grid.addRow(name + ".mp4", "T " + name, "A " + name, "/v/" + name + ".mp4", "host",
                     "F " + name);
}

TEST(QueueGridModelTest, AddedRowShowsTheJobAsWaiting) {
  UploadQueue store;
  QueueGridModel grid(store);
  EXPECT_EQ(grid.addRow("lesson.kqp", "Title", "Author", "/p/lesson.kqp", "srv:81/x", "Math"), 1);
  EXPECT_EQ(grid.addRow("clip.MP4", "T2", "A2", "/v/clip.MP4", "srv", "Art"), 2);
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
  AddVideo(grid, "a");
  for (const auto& style : styles) {
    SCOPED_TRACE(style.state);
    // From bold blue to the state: nothing of the previous paint may stay behind.
    ASSERT_TRUE(grid.setState("/v/a.mp4", "Transfering"));
    ASSERT_TRUE(grid.setState("/v/a.mp4", style.state));
    EXPECT_EQ(grid.stateAt(1), style.state);
    ExpectRowPainted(grid, 1, style.color, style.bold);
    const QFont font = grid.data(grid.index(0, 4), Qt::FontRole).value<QFont>();
    EXPECT_EQ(font.family(), "DejaVu Sans");
    EXPECT_TRUE(font.italic());
  }
  // States are compared literally: a text that names none is refused and the row keeps its paint.
  ASSERT_TRUE(grid.setState("/v/a.mp4", "Transfering"));
  EXPECT_FALSE(grid.setState("/v/a.mp4", "waiting"));
  EXPECT_EQ(grid.stateAt(1), "Transfering");
  ExpectRowPainted(grid, 1, QColor(0, 0, 255), true);
}

TEST(QueueGridModelTest, RowsThatMoveOrAreRewrittenArePaintedByTheirOwnState) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(grid, "a");
  AddVideo(grid, "b");
  grid.setState("/v/a.mp4", "Transfering");
  grid.swapRows(1, 2);
  EXPECT_EQ(grid.pathAt(2), "/v/a.mp4");
  ExpectRowPainted(grid, 2, QColor(0, 0, 255), true);
  ExpectRowPainted(grid, 1, QColor(0, 0, 0), false);

  // A confirmed edit rewrites the row and marks it waiting; it must not stay blue.
  grid.setState("/v/b.mp4", "Editing");
  ASSERT_TRUE(grid.updateRow("/v/b.mp4", "b2.kqp", " New", "Me", "other", "G"));
  EXPECT_EQ(grid.stateAt(1), "Waiting");
  EXPECT_EQ(grid.text(1, kColClassify), "Quillbox");
  EXPECT_EQ(grid.text(1, kColTitle), " New");
  EXPECT_EQ(grid.text(1, kColPath), "/v/b.mp4");
  ExpectRowPainted(grid, 1, QColor(0, 0, 0), false);
  EXPECT_FALSE(grid.updateRow("/v/none.mp4", "x", "x", "x", "x", "x"));
}

TEST(QueueGridModelTest, StateChangesTellTheViewToRepaintTheWholeRow) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(grid, "a");
  AddVideo(grid, "b");
  std::vector<std::pair<QModelIndex, QModelIndex>> changes;
  QObject::connect(
      &grid, &QueueGridModel::dataChanged,
      [&](const QModelIndex& from, const QModelIndex& to) { changes.emplace_back(from, to); });
  grid.setState("/v/b.mp4", "Failed");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].first, grid.index(1, 0));
  EXPECT_EQ(changes[0].second, grid.index(1, 12));
  changes.clear();
  grid.swapRows(1, 2);
  EXPECT_EQ(changes.size(), 2u);
}

TEST(QueueGridModelTest, FailuresTimesAndCellsAreWrittenToThePathsRow) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(grid, "a");
  AddVideo(grid, "b");
  EXPECT_TRUE(grid.setFailure("/v/b.mp4", "File not found"));
  EXPECT_EQ(grid.text(2, kColError), "File not found");
  EXPECT_EQ(grid.stateAt(2), "Failed");
  ExpectRowPainted(grid, 2, QColor(255, 0, 0), false);
  EXPECT_EQ(grid.stateAt(1), "Waiting");

  EXPECT_TRUE(grid.stampTime("/v/a.mp4", kColCvtBeginTime));
  EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                  .match(grid.cellText("/v/a.mp4", kColCvtBeginTime))
                  .hasMatch());
  EXPECT_EQ(QueueGridModel::TimeText(QTime(7, 3, 9)), "07:03:09");
  EXPECT_EQ(QueueGridModel::TimeText(QTime(19, 30, 0)), "19:30:00");

  EXPECT_TRUE(grid.setCell("/v/a.mp4", kColUploadEndTime, "12:00:00"));
  EXPECT_EQ(grid.cellText("/v/a.mp4", kColUploadEndTime), "12:00:00");
  EXPECT_FALSE(grid.setCell("/v/a.mp4", 0, "x"));
  EXPECT_FALSE(grid.setCell("/v/a.mp4", 14, "x"));
  EXPECT_FALSE(grid.setFailure("/v/none.mp4", "x"));
  EXPECT_EQ(grid.cellText("/v/none.mp4", kColState), "");
}

TEST(QueueGridModelTest, NextWaitingTakesTheTopmostWaitingRow) {
  UploadQueue store;
  QueueGridModel grid(store);
  int noneLeft = 0;
  QObject::connect(&grid, &QueueGridModel::noWaitingRow, [&] { ++noneLeft; });
  EXPECT_EQ(grid.nextWaiting(), 0);
  EXPECT_EQ(noneLeft, 0);  // an empty grid has nothing to stop either way

  for (const char* name : {"a", "b", "c"}) AddVideo(grid, name);
  grid.setState("/v/a.mp4", "Failed");
  EXPECT_EQ(grid.nextWaiting(), 2);
  EXPECT_EQ(grid.currentPath(), "/v/b.mp4");
  grid.setState("/v/b.mp4", "Transfering");
  EXPECT_TRUE(grid.anyTransferring());
  EXPECT_EQ(grid.nextWaiting(), 3);
  EXPECT_EQ(grid.currentPath(), "/v/c.mp4");
  grid.setState("/v/c.mp4", "Finished");
  EXPECT_FALSE(grid.anyWaiting());
  EXPECT_EQ(grid.nextWaiting(), 0);
  EXPECT_EQ(noneLeft, 1);
  EXPECT_EQ(grid.currentPath(), "/v/c.mp4");
}

TEST(QueueGridModelTest, SwapIgnoresRowsOutsideTheGrid) {
  UploadQueue store;
  QueueGridModel grid(store);
  AddVideo(grid, "a");
  AddVideo(grid, "b");
  for (const auto& [a, b] : {std::pair{0, 1}, {1, 3}, {-1, 2}, {2, 2}}) {
    grid.swapRows(a, b);
    EXPECT_EQ(grid.pathAt(1), "/v/a.mp4");
    EXPECT_EQ(grid.pathAt(2), "/v/b.mp4");
  }
  grid.deleteRow(0);
  grid.deleteRow(3);
  grid.deleteRows(2, 10);
  EXPECT_EQ(grid.rowCount(), 1);
}

// findRow is backed by an index that row moves, deletions and path edits must keep honest: run
// random row operations and compare every lookup with a plain scan from the top.
TEST(QueueGridModelTest, FindRowAgreesWithAScanThroughRandomEdits) {
  UploadQueue store;
  QueueGridModel grid(store);
  std::mt19937 random(20261208);
  const auto pick = [&](int upTo) { return std::uniform_int_distribution<int>(0, upTo)(random); };
  const auto pathOf = [](int n) { return QString("/v/%1.mp4").arg(n); };
  const auto scan = [&](const QString& path) {
    for (int row = 1; row <= grid.rowCount(); ++row) {
      if (grid.pathAt(row) == path) return row;
    }
    return 0;
  };
  for (int step = 0; step < 3000; ++step) {
    const int rows = grid.rowCount();
    switch (pick(6)) {
      case 0:
      case 1:  // paths repeat now and then, as a hand-edited queue file may have them
        grid.addRow("x.mp4", "t", "a", pathOf(pick(60)), "u", "f");
        break;
      case 2:
        grid.deleteRow(pick(rows));
        break;
      case 3:
        grid.deleteRows(pick(rows), pick(3));
        break;
      case 4:
        grid.swapRows(pick(rows), pick(rows));
        break;
      case 5:  // the path column follows the job: writing it changes nothing
        grid.setText(pick(rows), kColPath, pathOf(pick(60)));
        break;
      default:
        grid.setState(pathOf(pick(60)), "Failed");
        break;
    }
    const QString probe = pathOf(pick(60));
    ASSERT_EQ(grid.findRow(probe), scan(probe)) << "step " << step;
  }
  grid.clear();
  EXPECT_EQ(grid.rowCount(), 0);
  EXPECT_EQ(grid.findRow(pathOf(1)), 0);
}

}  // namespace
}  // namespace cf
