#pragma once

#include <QString>

class RunContext;

// The three ways the program starts outside programs. All of them run on the GUI thread and keep
// its event loop turning while they wait, so windows repaint and Stop is heard. A bare program
// name is found in the program folder first, then on PATH.

// Starts a command hidden, its output discarded, and waits for it. False when CancelRun() ended
// it; true otherwise (the exit code is not reported: callers judge by the files made).
// `workingFolder` is the child's current folder; empty keeps the program's own.
bool RunHidden(const QString& commandLine, const QString& workingFolder = {});

// Ends the current RunHidden child.
void CancelRun();

// Starts a command hidden with standard output and standard error joined, follows its output
// through `context` (output text, progress, the fatal converter messages) and returns the output
// text. With `keepDosOutput` the first chunks also go to DosOutput.txt in context.workFolder.
// When the run is cancelled or aborted the child is ended and nothing is logged.
QString RunCaptured(const QString& commandLine, bool keepDosOutput, RunContext& context);

// Hands a file to the system: a program is started with the parameters, any other file is opened
// with the desktop's default application. With `wait`, blocks until it ends (no event loop: the
// caller is about to hand over). False when it could not be started.
bool ShellRun(const QString& file, const QString& parameters, bool wait);

// How many chunks of a run DosOutput.txt keeps, and the largest chunk.
inline constexpr int kDosOutputChunks = 10;
inline constexpr int kChunkBytes = 4096;
inline constexpr const char* kDosOutputName = "DosOutput.txt";
