#pragma once

#include "app/media/ProcessRunner.h"

#include <QObject>
#include <QString>

// What a captured run shares with the step that started it. The main window owns one and the
// conversion step fills it before each run; a dialog's probe uses a local one. Windows connect to
// the signals and show what they carry; nothing here knows about widgets.
class RunContext : public QObject {
  Q_OBJECT

 public:
  explicit RunContext(QObject* parent = nullptr);

  // Set by the caller before a run.
  bool parseProgress = false;  // follow "time=" and report progress
  short passNumber = 0;        // 0 single run, 1 first of two passes, 2 second pass
  int totalSeconds = 0;        // length of the source, for the percentage
  QString labelText;           // prefix of the progress text
  QString durationText;        // the job's duration as shown
  bool logEnabled = false;     // append the run's output to log.txt in the program folder
  QString workFolder;          // where DosOutput.txt goes
  QString workingFolder;       // the child's current folder; empty keeps the program's own
  bool belowNormalPriority = false;
  // How much of the earlier output the output text keeps; the box shows the tail only.
  int outputLimit = kOutputBoxLimit;

  // Cancelled by Stop (or any caller); the running child is ended within a fraction of a second
  // and the run returns. A job shares it with the hidden programs it runs.
  CancelToken cancel;

  // Results.
  QString lastTimeText;  // the last value read after "time="
  int stepResult = 1;    // 1 while all is well; -3, -8 or 0 when a run was aborted
  QString errorText;     // why a run ended with stepResult 0
  QString outputText;    // what the output box shows
  QString progressText;  // what the progress label shows
  QString remainingText =
      QStringLiteral("--");  // remaining minutes, "--" before the first estimate
  double percent = 0;
  qint64 processId = 0;  // the last child started

  static constexpr int kOutputBoxLimit = 4096;

  // Announces a new output text or progress text; called by the runner.
  void PublishOutput();
  void PublishProgress();

 signals:
  void outputChanged(const QString& text);
  void progressChanged(const QString& text, double percent);
};
