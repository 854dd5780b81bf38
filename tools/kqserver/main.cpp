// kqserver: a reference lecture-video server for trying out and testing the uploader.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tools/kqserver/KqServer.h"

namespace {

const char* const kUsage =
    "usage: kqserver --listen HOST:PORT --data DIR [--init-demo] [--seed FILE.xml]...\n"
    "                [--fault RULE]... [--accept-any-archive] [--verbose] [--limit NAME=N]...\n"
    "                [--sharing-tls HOST:PORT --sharing-cert FILE --sharing-key FILE]\n"
    "                [--sharing-developer-key KEY]\n"
    "  --listen HOST:PORT   address to serve on; port 0 picks a free port\n"
    "  --data DIR           folder for the database, received archives and requests.log\n"
    "  --init-demo          add the demo accounts and folders (see README.md)\n"
    "  --seed FILE.xml      add accounts, folders, contents and replies from a seed file\n"
    "  --fault RULE         arm a fault, e.g. path=/mavo/putFile,block=1,status=500,once\n"
    "  --accept-any-archive store uploads without checking that they are zip archives\n"
    "  --verbose            echo the request log on standard error\n"
    "  --limit NAME=N       head-timeout-ms, min-body-rate, workers, sessions,\n"
    "                       sessions-per-account, stale-session-ms, session-expiry-ms\n"
    "                       (see README.md)\n"
    "  --sharing-tls HOST:PORT  TLS listener of the video-sharing login; port 0 picks one\n"
    "  --sharing-cert FILE  PEM certificate of that listener (with --sharing-key FILE)\n"
    "  --sharing-developer-key KEY  developer key every video-sharing upload must carry\n";

bool SplitListen(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  *host = text.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *port = std::stoi(digits);
  return *port <= 65535;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "kqserver: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  kqserver::ServerOptions options;
  bool haveListen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--listen" && hasValue) {
      if (!SplitListen(argv[++i], &options.host, &options.port)) {
        return Fail(std::string("bad --listen address ") + argv[i]);
      }
      haveListen = true;
    } else if (arg == "--data" && hasValue) {
      options.dataDir = argv[++i];
    } else if (arg == "--seed" && hasValue) {
      options.seedFiles.push_back(argv[++i]);
    } else if (arg == "--fault" && hasValue) {
      options.faults.push_back(argv[++i]);
    } else if (arg == "--limit" && hasValue) {
      std::string error;
      if (!kqserver::SetLimit(&options, argv[++i], &error)) return Fail(error);
    } else if (arg == "--sharing-tls" && hasValue) {
      if (!SplitListen(argv[++i], &options.sharingTlsHost, &options.sharingTlsPort)) {
        return Fail(std::string("bad --sharing-tls address ") + argv[i]);
      }
    } else if (arg == "--sharing-cert" && hasValue) {
      options.sharingCertFile = argv[++i];
    } else if (arg == "--sharing-key" && hasValue) {
      options.sharingKeyFile = argv[++i];
    } else if (arg == "--sharing-developer-key" && hasValue) {
      options.sharingDeveloperKey = argv[++i];
    } else if (arg == "--init-demo") {
      options.initDemo = true;
    } else if (arg == "--accept-any-archive") {
      options.acceptAnyArchive = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fputs(kUsage, stderr);
      return Fail("unknown or incomplete argument " + arg);
    }
  }
  if (!haveListen || options.dataDir.empty()) {
    std::fputs(kUsage, stderr);
    return Fail("--listen and --data are required");
  }
  if (options.sharingTlsPort >= 0 &&
      (options.sharingCertFile.empty() || options.sharingKeyFile.empty())) {
    return Fail("--sharing-tls needs --sharing-cert and --sharing-key");
  }

  // Termination requests are taken by one thread, so the server stops between requests.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // Under a file size limit a write that passes it fails (and is answered 1407) instead of
  // ending the server.
  std::signal(SIGXFSZ, SIG_IGN);

  kqserver::KqServer server(options);
  std::string error;
  if (!server.Prepare(&error)) return Fail(error);

  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  });
  stopper.detach();

  const bool v6 = options.host.find(':') != std::string::npos;
  std::printf("listening on %s%s%s:%d\n", v6 ? "[" : "", options.host.c_str(), v6 ? "]" : "",
              server.Port());
  if (server.SharingTlsPort() > 0) {
    const bool tlsV6 = options.sharingTlsHost.find(':') != std::string::npos;
    std::printf("sharing login listening on %s%s%s:%d\n", tlsV6 ? "[" : "",
                options.sharingTlsHost.c_str(), tlsV6 ? "]" : "", server.SharingTlsPort());
  }
  std::fflush(stdout);
  const bool ok = server.Run();
  return ok ? 0 : 1;
}
