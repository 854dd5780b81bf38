#pragma once

#include <QString>

#include <atomic>
#include <memory>

class RunContext;

// Lets whoever started a run end it from outside, and only that run: each run, or each job that
// may run several programs in a row, carries its own token. Copies share one flag.
class CancelToken {
 public:
  CancelToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
  void Cancel() const { flag_->store(true); }
  bool cancelled() const { return flag_->load(); }

 private:
  std::shared_ptr<std::atomic<bool>> flag_;
};

// How to start one outside program.
struct RunOptions {
  QString workingFolder;  // the child's current folder; empty keeps the program's own
  CancelToken cancel;     // ends the child within a fraction of a second once cancelled
};

struct RunResult {
  bool started = false;
  bool cancelled = false;  // the token ended the run (or was cancelled before it began)
};

// The ways the program starts outside programs. All of them keep the calling thread's event loop
// turning while they wait (on the GUI thread: windows repaint and Stop is heard). A bare program
// name is found in the program folder first, then on PATH.

// Starts a command hidden, its output discarded, and waits for it or for the token. The exit code
// is not reported: callers judge by the files made.
RunResult RunProcess(const QString& commandLine, const RunOptions& options);

// RunProcess for callers that never stop the program: false only when it was cancelled, which
// without a token of the caller's cannot happen.
bool RunHidden(const QString& commandLine, const QString& workingFolder = {});

// Starts a command hidden with standard output and standard error joined, follows its output
// through `context` (output text, progress, the fatal converter messages) and returns the output
// text. With `keepDosOutput` the first chunks also go to DosOutput.txt in context.workFolder.
// When context.cancel is cancelled or the run aborted, the child is ended and nothing is logged.
QString RunCaptured(const QString& commandLine, bool keepDosOutput, RunContext& context);

// Hands a file to the system: a program is started with the parameters, any other file is opened
// with the desktop's default application. With `wait`, blocks until it ends (no event loop: the
// caller is about to hand over). False when it could not be started.
bool ShellRun(const QString& file, const QString& parameters, bool wait);

// How many chunks of a run DosOutput.txt keeps, and the largest chunk.
inline constexpr int kDosOutputChunks = 10;
inline constexpr int kChunkBytes = 4096;
inline constexpr const char* kDosOutputName = "DosOutput.txt";
