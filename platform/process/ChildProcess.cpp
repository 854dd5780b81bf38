#include "platform/process/ChildProcess.h"

#include "platform/process/CommandLine.h"

#include <QDir>

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>
#include <csignal>

ChildProcess::ChildProcess(QObject* parent) : QObject(parent) {
  connect(&process_, &QProcess::readyReadStandardOutput, this, &ChildProcess::outputReady);
  connect(&process_, &QProcess::finished, this, [this] { emit finished(); });
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    // A crash still ends with finished(); only a failed start has to be reported here.
    if (error == QProcess::FailedToStart) emit finished();
  });
}

ChildProcess::~ChildProcess() {
  if (IsRunning()) {
    Terminate();
    process_.waitForFinished(5000);
  }
}

bool ChildProcess::Start(const QString& commandLine, const Options& options) {
  errorText_.clear();
  processId_ = 0;
  CommandLine::Launch launch;
  if (!CommandLine::Prepare(commandLine, options.programFolder, options.workingFolder, &launch,
                            &errorText_)) {
    return false;
  }
  process_.setProgram(launch.program);
  process_.setArguments(launch.arguments);
  process_.setWorkingDirectory(options.workingFolder.isEmpty() ? QDir::currentPath()
                                                               : options.workingFolder);
  process_.setStandardInputFile(QProcess::nullDevice());
  if (options.output == Output::Captured) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
  } else {
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
  }
  const bool lower = options.belowNormalPriority;
  process_.setChildProcessModifier([lower] {
    // Runs in the child between fork and exec: only async-signal-safe calls.
    ::setsid();
    if (lower) ::setpriority(PRIO_PROCESS, 0, kBelowNormalNice);
  });
  process_.start(QIODevice::ReadOnly);
  if (!process_.waitForStarted(-1)) {
    errorText_ = process_.errorString();
    return false;
  }
  processId_ = process_.processId();
  return true;
}

bool ChildProcess::IsRunning() const { return process_.state() != QProcess::NotRunning; }

QByteArray ChildProcess::Read(qint64 maxBytes) { return process_.read(maxBytes); }

qint64 ChildProcess::BytesAvailable() const { return process_.bytesAvailable(); }

void ChildProcess::Terminate() {
  if (processId_ > 0 && IsRunning()) {
    // The child leads its own session and group; the group outlives it only through helpers.
    ::kill(-static_cast<pid_t>(processId_), SIGKILL);
  }
  process_.kill();
}

bool ChildProcess::WaitForFinished(int msecs) {
  if (!IsRunning()) return true;
  return process_.waitForFinished(msecs);
}

int ChildProcess::ExitCode() const { return process_.exitCode(); }
