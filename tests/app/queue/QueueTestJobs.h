#pragma once

#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"

#include <QString>

#include <optional>

#include <gtest/gtest.h>

namespace cf::testing {

// A job whose every field differs from every other job's and from the defaults, so a field
// written to or read from the wrong place shows.
inline UploadJob SampleJob(int n) {
  const QString tag = QString::number(n);
  UploadJob job;
  job.fileName = "lecture" + tag + ".mp4";
  job.title = "Title " + tag;
  job.Author = "Author " + tag;
  job.path = "/home/teacher/videos/lecture" + tag + ".mp4";
  job.duration = "0:" + tag + ":30.5";
  job.secDuration = 1000 + n;
  job.videoWidth = 2000 + n;
  job.videoHeight = 3000 + n;
  job.vBitRate = QString::number(400 + n) + "k";
  job.aBitRate = QString::number(64 + n) + "k";
  job.Url = "127.0.0.1:8080/school" + tag;
  job.account = "account" + tag;
  job.password = "secret" + tag;
  job.folderID = QString::number(500 + n);
  job.contentID = QString::number(n % 3);
  job.folderName = "Folder " + tag;
  job.sysVer = "3." + tag;
  job.bEncPassword = n % 2 == 0;
  job.dstCvtType = n % 3;
  job.dstResType = (n + 1) % 3;
  job.dstPostfix = n % 2 == 0 ? "hd" : "";
  job.srcVideoWidth = 4000 + n;
  job.srcVideoHeight = 5000 + n;
  job.customBps = 6000 + n;
  job.bInterlaced = n % 2 == 1;
  job.fileSize = 5'000'000'000LL + n;
  job.dateLastModified = "2026-03-0" + QString::number(1 + n % 9) + "T10:11:12";
  return job;
}

// Queues the job; the grid over the queue shows it in a row.
inline void Enqueue(UploadQueue& queue, QueueGridModel& grid, const UploadJob& job) {
  queue.Add(job);
  EXPECT_EQ(grid.text(queue.RowOf(job.path), kColPath), job.path);
}

// What the grid shows of a row or of the job's row; empty when there is none.
inline QString StateAt(const QueueGridModel& grid, int row) { return grid.text(row, kColState); }
inline QString PathAt(const QueueGridModel& grid, int row) { return grid.text(row, kColPath); }
inline QString Cell(const QueueGridModel& grid, const QString& path, int column) {
  return grid.text(grid.store().RowOf(path), column);
}

// Puts the job in the state shown as `text`; false for a text that names no state or a path that
// is not queued.
inline bool SetState(UploadQueue& queue, const QString& path, const QString& text) {
  const std::optional<JobState> state = StateFromText(text);
  return state && queue.SetState(path, *state);
}

// Every field but state, which the queue file and the dialogs leave to the row.
inline void ExpectSameJob(const UploadJob& a, const UploadJob& b) {
  EXPECT_EQ(a.fileName, b.fileName);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.Author, b.Author);
  EXPECT_EQ(a.path, b.path);
  EXPECT_EQ(a.duration, b.duration);
  EXPECT_EQ(a.secDuration, b.secDuration);
  EXPECT_EQ(a.videoWidth, b.videoWidth);
  EXPECT_EQ(a.videoHeight, b.videoHeight);
  EXPECT_EQ(a.vBitRate, b.vBitRate);
  EXPECT_EQ(a.aBitRate, b.aBitRate);
  EXPECT_EQ(a.Url, b.Url);
  EXPECT_EQ(a.account, b.account);
  EXPECT_EQ(a.password, b.password);
  EXPECT_EQ(a.folderID, b.folderID);
  EXPECT_EQ(a.contentID, b.contentID);
  EXPECT_EQ(a.folderName, b.folderName);
  EXPECT_EQ(a.sysVer, b.sysVer);
  EXPECT_EQ(a.bEncPassword, b.bEncPassword);
  EXPECT_EQ(a.dstCvtType, b.dstCvtType);
  EXPECT_EQ(a.dstResType, b.dstResType);
  EXPECT_EQ(a.dstPostfix, b.dstPostfix);
  EXPECT_EQ(a.srcVideoWidth, b.srcVideoWidth);
  EXPECT_EQ(a.srcVideoHeight, b.srcVideoHeight);
  EXPECT_EQ(a.customBps, b.customBps);
  EXPECT_EQ(a.bInterlaced, b.bInterlaced);
  EXPECT_EQ(a.fileSize, b.fileSize);
  EXPECT_EQ(a.dateLastModified, b.dateLastModified);
}

}  // namespace cf::testing
