// The converter front end: takes the command lines the program was written for, runs the
// installed ffmpeg with today's spelling of them and streams its console text back in the
// spellings the program reads.

#include "tools/converter/ConsoleRewriter.h"
#include "tools/converter/ConverterOptions.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

// The installed converter, by path: a lookup by name would find this front end in the program
// folder again.
constexpr const char* kInstalledConverter = "/usr/bin/ffmpeg";

// How long a partial line may wait for its end before it is shown as it is.
constexpr int kPartialLineWaitMs = 250;

volatile sig_atomic_t childPid = 0;

void ForwardSignal(int signal) {
  if (childPid > 0) ::kill(childPid, signal);
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nobody reads any more; keep the converter running to its end
    done += static_cast<size_t>(n);
  }
}

std::string RealPath(const char* path) {
  char resolved[PATH_MAX];
  return ::realpath(path, resolved) != nullptr ? std::string(resolved) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::vector<std::string> modern;
  std::string error;
  if (!ConverterOptions::Translate(arguments, &modern, &error)) {
    std::fprintf(stderr, "ffmpeg: %s\n", error.c_str());
    return 1;
  }
  const std::string self = RealPath("/proc/self/exe");
  const std::string installed = RealPath(kInstalledConverter);
  if (installed.empty() || installed == self) {
    std::fprintf(stderr, "ffmpeg: the installed converter %s is missing.\n", kInstalledConverter);
    return 1;
  }

  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    std::perror("ffmpeg: pipe");
    return 1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);

  std::vector<char*> childArgv;
  childArgv.push_back(const_cast<char*>(kInstalledConverter));
  for (std::string& arg : modern) childArgv.push_back(arg.data());
  childArgv.push_back(nullptr);

  struct sigaction forward {};
  forward.sa_handler = ForwardSignal;
  sigemptyset(&forward.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
    ::sigaction(signal, &forward, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, kInstalledConverter, &actions, nullptr, childArgv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    std::fprintf(stderr, "ffmpeg: cannot start %s: %s\n", kInstalledConverter,
                 std::strerror(spawned));
    ::close(pipeFds[0]);
    return 1;
  }
  childPid = pid;

  ConsoleRewriter rewriter;
  char buffer[8192];
  for (;;) {
    pollfd fd{pipeFds[0], POLLIN, 0};
    const int ready = ::poll(&fd, 1, rewriter.HasPending() ? kPartialLineWaitMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) {
      WriteAll(STDERR_FILENO, rewriter.Flush());
      continue;
    }
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    WriteAll(STDERR_FILENO, rewriter.Feed(std::string(buffer, static_cast<size_t>(n))));
  }
  WriteAll(STDERR_FILENO, rewriter.Flush());
  ::close(pipeFds[0]);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}
