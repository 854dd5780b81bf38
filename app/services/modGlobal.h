#pragma once

#include <QString>
#include <QtGlobal>

// File, folder, disk-space and number utilities shared by the windows and the engine. Each one
// catches its own errors and reports them through its result.

// Copies over an existing target (read-only or not); false when the source is missing or on error.
bool CopyFileForce(const QString& source, const QString& target);
// Moves, replacing an existing target; false when the source is missing or on error.
bool MoveFileForce(const QString& source, const QString& target);
// Deletes a file even when read-only; a missing file counts as success.
bool DeleteFileForce(const QString& path);
// Deletes a folder tree even when read-only; a missing folder counts as success.
bool DeleteFolder(const QString& path);
// Empties a folder by deleting and creating it: 0 done, 1 parent missing, 2 delete failed,
// 3 create failed.
int RecreateFolder(const QString& path);

// Size in bytes; 0 when the file is missing.
qint64 GetFileSize(const QString& path);
// Size in KiB rounded to the nearest whole number; 0 when missing.
qint64 GetFileSizeKB(const QString& path);
// Total bytes of the files below a folder.
qint64 GetFolderSize(const QString& path);

// Free space of the path's file system in MiB, rounded; 101 for a network share ("//" or "\\"
// at the start); 0 when the query fails.
qint64 GetFreeSpaceMB(const QString& path);
// True when the free space in MiB is at least `bytes` / 1 MiB.
bool HasEnoughSpace(const QString& path, double bytes);

// A fresh temporary name: "rad", five hexadecimal digits, ".tmp".
QString FreshTempName();
// folder + "/" + prefix + fresh temporary name + "." + extension, drawn again until no such file
// exists; empty when the folder does not exist.
QString UniqueTempPath(const QString& folder, const QString& extension, const QString& prefix);

// Removes every tab and vertical tab.
QString StripControlChars(const QString& text);
// Seconds as "h:mm:ss" (hours not padded).
QString SecondsToClock(qint64 seconds);
// The even integer nearest to x; halfway cases go up (3 -> 4).
qint64 NearestEven(double x);
// Rounds to the nearest integer, halves to the even neighbour.
qint64 RoundHalfEven(double x);
