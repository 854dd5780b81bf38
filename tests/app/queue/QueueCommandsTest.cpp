#include "app/queue/QueueCommands.h"

#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "tests/app/queue/QueueTestJobs.h"

#include <gtest/gtest.h>

#include <QBrush>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QTemporaryDir>

namespace cf {
namespace {

using testing::SampleJob;

class QueueCommandsTest : public ::testing::Test {
 protected:
  // Queues jobs 1..count, each with a row in the given state.
  void Fill(const std::vector<QString>& states) {
    for (size_t i = 0; i < states.size(); ++i) {
      const UploadJob job = SampleJob(static_cast<int>(i) + 1);
      testing::Enqueue(queue, grid, job);
      cf::testing::SetState(grid.store(), job.path, states[i]);
    }
  }
  // Job numbers (as in SampleJob) of the rows from the top.
  std::vector<int> RowJobs() const {
    std::vector<int> jobs;
    for (int row = 1; row <= grid.rowCount(); ++row) {
      for (int n = 1; n <= 10; ++n) {
        if (cf::testing::PathAt(grid, row) == SampleJob(n).path) jobs.push_back(n);
      }
    }
    return jobs;
  }
  std::vector<int> QueuedJobs() const {
    std::vector<int> jobs;
    for (int n = 1; n <= 10; ++n) {
      if (queue.itemExist(SampleJob(n).path)) jobs.push_back(n);
    }
    return jobs;
  }

  UploadQueue queue;
  QueueGridModel grid{queue};
  QueueCommands commands{queue};
};

TEST_F(QueueCommandsTest, SelectionRuleEnablesEditAndRemoveByState) {
  const struct {
    const char* state;
    bool edit;
    bool remove;
  } cases[] = {{"Waiting", true, true},   {"Transfering", false, false}, {"Editing", true, true},
               {"Finished", false, true}, {"Failed", true, true},        {"Canceled", true, true}};
  for (const auto& c : cases) {
    const QueueButtons buttons =
        QueueCommands::SelectionRule(*cf::StateFromText(QString::fromLatin1(c.state)));
    EXPECT_EQ(buttons.editEnabled, c.edit) << c.state;
    EXPECT_EQ(buttons.removeEnabled, c.remove) << c.state;
  }
  Fill({"Finished"});
  EXPECT_FALSE(commands.selectionRuleForRow(1).editEnabled);
  EXPECT_TRUE(commands.selectionRuleForRow(1).removeEnabled);
  EXPECT_FALSE(commands.selectionRuleForRow(2).removeEnabled);
}

TEST_F(QueueCommandsTest, RemoveKeepsTheRunningMiddleRowAndRefusesOnce) {
  Fill({"Waiting", "Failed", "Transfering", "Finished", "Waiting"});
  const RemoveOutcome outcome = commands.removeSelected({2, 3, 4});
  EXPECT_EQ(outcome.removed, 2);
  EXPECT_EQ(outcome.message.key, "msgRemoveTransferingFile");
  EXPECT_EQ(outcome.message.text, "The transfering file cannot be removed!");
  EXPECT_FALSE(outcome.disableStartUpload);
  EXPECT_EQ(RowJobs(), (std::vector<int>{1, 3, 5}));
  EXPECT_EQ(QueuedJobs(), (std::vector<int>{1, 3, 5}));
  EXPECT_EQ(cf::testing::StateAt(grid, 2), "Transfering");
}

TEST_F(QueueCommandsTest, RemoveTakesScatteredAndRepeatedSelectionsAndReportsWhenNothingWaits) {
  Fill({"Waiting", "Failed", "Waiting", "Finished", "Waiting", "Canceled", "Waiting"});
  RemoveOutcome outcome = commands.removeSelected({7, 1, 3, 3, 5, 0, 42});
  EXPECT_EQ(outcome.removed, 4);
  EXPECT_TRUE(outcome.message.isEmpty());
  EXPECT_TRUE(outcome.disableStartUpload);
  EXPECT_EQ(RowJobs(), (std::vector<int>{2, 4, 6}));
  EXPECT_EQ(QueuedJobs(), (std::vector<int>{2, 4, 6}));
  for (int row = 1; row <= grid.rowCount(); ++row) {
    EXPECT_EQ(grid.store().RowOf(cf::testing::PathAt(grid, row)), row);
  }
  outcome = commands.removeSelected({});
  EXPECT_EQ(outcome.removed, 0);
}

TEST_F(QueueCommandsTest, ClearAllKeepsOnlyTheRunningJobAsTheFirstRow) {
  const struct {
    int running;  // 0: none
    std::vector<int> rowsLeft;
  } cases[] = {{3, {3}}, {5, {5}}, {1, {1}}, {0, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.running);
    queue.Clear();
    grid.store().Clear();
    std::vector<QString> states(5, "Waiting");
    states[1] = "Failed";
    states[3] = "Finished";
    if (c.running != 0) states[static_cast<size_t>(c.running - 1)] = "Transfering";
    Fill(states);

    EXPECT_EQ(commands.clearAllQuestion().key, c.running ? "msgClearAll_1" : "msgClearAll_2");
    const ClearAllOutcome outcome = commands.clearAll();
    EXPECT_EQ(outcome.removed, c.running ? 4 : 5);
    EXPECT_TRUE(outcome.disableStartUpload);
    EXPECT_EQ(RowJobs(), c.rowsLeft);
    EXPECT_EQ(QueuedJobs(), c.rowsLeft);
    if (c.running != 0) {
      EXPECT_EQ(cf::testing::StateAt(grid, 1), "Transfering");
      EXPECT_EQ(grid.data(grid.index(0, 0), Qt::ForegroundRole).value<QBrush>().color(),
                QColor(0, 0, 255));
      EXPECT_TRUE(grid.data(grid.index(0, 0), Qt::FontRole).value<QFont>().bold());
      EXPECT_EQ(grid.store().RowOf(SampleJob(c.running).path), 1);
    }
  }
  grid.store().Clear();
  EXPECT_TRUE(commands.clearAllQuestion().isEmpty());
}

TEST_F(QueueCommandsTest, AddAndEditAreRefusedWhileAJobRuns) {
  Fill({"Waiting", "Transfering"});
  EXPECT_EQ(commands.checkAdd().key, "msgCmdWhenTransfering");
  const EditCheck check = commands.checkEdit({1});
  EXPECT_EQ(check.outcome, EditCheck::Outcome::Refused);
  EXPECT_EQ(check.message.key, "msgCmdWhenTransfering");
  cf::testing::SetState(grid.store(), SampleJob(2).path, "Finished");
  EXPECT_TRUE(commands.checkAdd().isEmpty());
}

TEST_F(QueueCommandsTest, EditNeedsExactlyOneSelectedRowWhoseFileExists) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  UploadJob present = SampleJob(1);
  present.path = folder.filePath("present.mp4");
  QFile file(present.path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  testing::Enqueue(queue, grid, present);
  UploadJob missing = SampleJob(2);
  missing.path = folder.filePath("missing.mp4");
  testing::Enqueue(queue, grid, missing);

  const struct {
    QList<int> rows;
    EditCheck::Outcome outcome;
    const char* key;
    const char* text;
  } cases[] = {
      {{1, 2},
       EditCheck::Outcome::Refused,
       "msgEditMultiRows",
       "Cannot edit more than one videos!"},
      {{}, EditCheck::Outcome::Refused, "", "Please select a row."},
      {{9}, EditCheck::Outcome::Refused, "", "Please select a row."},
      {{1, 1}, EditCheck::Outcome::Ready, "", ""},
      {{2}, EditCheck::Outcome::FileMissing, "msgFileNotExist", ""},
  };
  for (const auto& c : cases) {
    const EditCheck check = commands.checkEdit(c.rows);
    EXPECT_EQ(check.outcome, c.outcome) << c.key << c.text;
    EXPECT_EQ(check.message.key, c.key);
    EXPECT_EQ(check.message.text, c.text);
  }
  EXPECT_EQ(commands.checkEdit({1}).path, present.path);
}

TEST_F(QueueCommandsTest, CancelledEditRestoresTheSavedStateAndMissingFilesAreResolved) {
  Fill({"Failed", "Waiting", "Canceled"});
  const QString path = SampleJob(1).path;
  ASSERT_TRUE(commands.beginEdit(path));
  EXPECT_EQ(cf::testing::StateAt(grid, 1), "Editing");
  EXPECT_EQ(queue.item(path)->state, "Failed");
  commands.endEditUnchanged(path);
  EXPECT_EQ(cf::testing::StateAt(grid, 1), "Failed");
  EXPECT_FALSE(commands.beginEdit("/v/none.mp4"));

  commands.resolveMissingFile(SampleJob(2).path, false);
  EXPECT_EQ(cf::testing::StateAt(grid, 2), "Failed");
  EXPECT_EQ(grid.text(2, kColError), "File not found");
  commands.resolveMissingFile(SampleJob(3).path, true);
  EXPECT_EQ(RowJobs(), (std::vector<int>{1, 2}));
  EXPECT_EQ(QueuedJobs(), (std::vector<int>{1, 2}));
}

// Retry from the button, the command line and a running window's channel: only failed rows go
// back to "Waiting", their failure text forgotten, and the others are named in the answer.
TEST_F(QueueCommandsTest, RetryPutsOnlyFailedRowsBackToWaiting) {
  const struct {
    const char* name;
    QStringList paths;  // empty: every failed job
    bool throughWindow;
    QByteArray answer;
    std::vector<QString> states;
  } cases[] = {
      {"one path",
       {SampleJob(2).path},
       false,
       "retried " + SampleJob(2).path.toUtf8() + "\n",
       {"Waiting", "Waiting", "Failed", "Finished"}},
      {"all failed",
       {},
       false,
       "retried " + SampleJob(2).path.toUtf8() + "\nretried " + SampleJob(3).path.toUtf8() + "\n",
       {"Waiting", "Waiting", "Waiting", "Finished"}},
      {"refused",
       {SampleJob(4).path, "/nowhere/x.mp4", SampleJob(1).path},
       false,
       "not-failed " + SampleJob(4).path.toUtf8() + "\nunknown /nowhere/x.mp4\nnot-failed " +
           SampleJob(1).path.toUtf8() + "\n",
       {"Waiting", "Failed", "Failed", "Finished"}},
      {"window, one path",
       {SampleJob(3).path},
       true,
       "retried " + SampleJob(3).path.toUtf8() + "\n",
       {"Waiting", "Failed", "Waiting", "Finished"}},
      {"window, all failed",
       {},
       true,
       "retried " + SampleJob(2).path.toUtf8() + "\nretried " + SampleJob(3).path.toUtf8() + "\n",
       {"Waiting", "Waiting", "Waiting", "Finished"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    queue.Clear();
    Fill({"Waiting", "Waiting", "Waiting", "Finished"});
    queue.SetFailure(SampleJob(2).path, "quota");
    queue.SetFailure(SampleJob(3).path, "refused");
    int retried = 0;
    if (c.throughWindow) {
      const HandedJobs handed = commands.acceptHanded(QueueCommands::RetryMessage(c.paths));
      EXPECT_EQ(handed.answer, c.answer);
      retried = handed.added;
    } else {
      const RetryOutcome outcome = commands.retry(c.paths);
      EXPECT_EQ(outcome.answer, c.answer);
      retried = outcome.retried;
    }
    EXPECT_EQ(retried, static_cast<int>(c.answer.count("retried ")));
    for (int row = 1; row <= 4; ++row) {
      EXPECT_EQ(cf::testing::StateAt(grid, row), c.states[static_cast<size_t>(row - 1)]) << row;
      const bool failed = c.states[static_cast<size_t>(row - 1)] == QLatin1String("Failed");
      EXPECT_EQ(queue.AtRow(row)->errorText.isEmpty(), !failed) << row;
    }
  }
}

TEST_F(QueueCommandsTest, RetryIsOfferedForSelectedFailedRowsOnly) {
  Fill({"Failed", "Waiting", "Transfering", "Failed", "Finished"});
  EXPECT_EQ(commands.failedAmong({1, 4, 1}), QStringList({SampleJob(1).path, SampleJob(4).path}));
  EXPECT_TRUE(commands.failedAmong({2, 3, 5, 0, 9}).isEmpty());
}

}  // namespace
}  // namespace cf
