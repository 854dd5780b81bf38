#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// The recursive folder walk of the batch dialog: every file under a start folder whose extension
// is in a pattern list is recorded and handed to a callback, in folder order (a folder's own
// files before its subfolders). The window stays responsive because events are processed after
// every directory entry; that is also how a stop request reaches the walk.
class modDirectory {
 public:
  // More matches than this end the walk; the ones recorded so far stay.
  static constexpr int kMaxMatches = 10000;

  enum class Result { Finished, Stopped, TooManyMatches, Unreadable };

  // `patterns` is a ";"-separated list of "*.ext" entries, e.g. "*.kqp;*.mp4".
  Result Walk(const QString& startFolder, const QString& patterns,
              const std::function<void(const QString& path)>& onMatch);
  // Ends the walk at its next directory entry.
  void Stop() { stop_ = true; }

  const QStringList& matches() const { return matches_; }
  // Processing events after every entry is what keeps the window alive; benchmarks and engine
  // tests without a window can turn it off.
  void setPumpEvents(bool pump) { pumpEvents_ = pump; }

  // True when "*." + the text after the last dot + ";" occurs in `patterns`, ignoring case. A
  // name without a dot has no extension.
  static bool Matches(const QString& fileName, const QString& patterns);
  // The folder with a trailing separator.
  static QString AddBackslash(const QString& folder);
  // The text up to its first NUL character (fixed-size buffers of the folder picker).
  static QString CutAtNul(const QString& text);

 private:
  bool WalkFolder(const QString& folder, const QString& patterns,
                  const std::function<void(const QString&)>& onMatch);
  bool AfterEntry();

  std::atomic<bool> stop_{false};
  bool pumpEvents_ = true;
  bool overflow_ = false;
  QStringList matches_;
};
