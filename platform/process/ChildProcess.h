#pragma once

#include <QObject>
#include <QProcess>
#include <QString>

// One outside program started from a command line: hidden (its own session, no terminal, input
// from /dev/null), optionally at lower priority, with standard output and standard error either
// joined into one pipe or discarded. Terminating it ends its whole process group, so helpers the
// program started itself do not outlive it.
class ChildProcess : public QObject {
  Q_OBJECT

 public:
  enum class Output { Captured, Discarded };

  struct Options {
    QString programFolder;  // searched first for a bare program name
    QString workingFolder;  // the child's current folder; empty keeps ours
    Output output = Output::Captured;
    bool belowNormalPriority = false;
  };

  explicit ChildProcess(QObject* parent = nullptr);
  ~ChildProcess() override;

  // Starts the command; false with ErrorText() set when the program is missing or cannot run.
  bool Start(const QString& commandLine, const Options& options);

  QString ErrorText() const { return errorText_; }
  qint64 ProcessId() const { return processId_; }
  bool IsRunning() const;

  // Reads up to `maxBytes` of what the child has written so far.
  QByteArray Read(qint64 maxBytes);
  qint64 BytesAvailable() const;

  // Kills the child and every process of its group.
  void Terminate();

  // Blocks the calling thread; for callers that are allowed to wait without an event loop.
  bool WaitForFinished(int msecs = -1);
  int ExitCode() const;

  // Lower priority of a child started with belowNormalPriority.
  static constexpr int kBelowNormalNice = 10;

 signals:
  void outputReady();
  void finished();

 private:
  QProcess process_;
  QString errorText_;
  qint64 processId_ = 0;
};
