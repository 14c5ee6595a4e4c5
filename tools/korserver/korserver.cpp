// korserver: the engine's TCP server program.
//
//   korserver [--bind=ADDRESS] DIR
//
// Changes to DIR, builds the engine in server mode from "CONFIG.ZSR" there
// (and the structure and counter files it names), and serves the protocol on
// INETPORT, on every local interface or only on ADDRESS (dotted IPv4), until
// SIGINT or SIGTERM. Then it shuts down in order: closes every connection,
// waits for every thread, releases the engine and proves that no engine
// object is left (a leak ends the process through the fatal report). The log
// is "KORLIB.OUT" in DIR.
//
// Exit codes: 0 after an orderly shut-down; 1 when the server cannot be built
// (configuration, database files, port or address); 2 for wrong arguments or
// a DIR that cannot be entered; 70 for the fatal report.
//
// The protocol has no authentication: whoever reaches the port can read and
// change every table. Keep the port behind a firewall or bind to loopback.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/platform/socket.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/buffered_stream.h"
#include "engine/streams/text_stream_reader.h"

#include "engine/storage/file.h"

#include "engine/server/server.h"

namespace kor {
namespace {

constexpr const char* kConfigFileName = "CONFIG.ZSR";
constexpr int32_t kConfigBufferSize = 1024;

constexpr int kExitBuildFailed = 1;
constexpr int kExitUsage = 2;

struct TOptions {
  std::string Dir;
  std::string BindAddress;  // empty: every local interface
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
  constexpr std::string_view kBind = "--bind=";
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.substr(0, kBind.size()) == kBind) {
      options.BindAddress = arg.substr(kBind.size());
      if (options.BindAddress.empty()) return false;
    } else if (!arg.empty() && arg[0] != '-' && options.Dir.empty()) {
      options.Dir = arg;
    } else {
      return false;
    }
  }
  return !options.Dir.empty();
}

Ref<TZServer> LoadServer(const std::string& bindAddress) {
  // Unlike the library, the server does not create a missing configuration:
  // a wrong DIR is the likelier cause, and an empty file would only fail
  // later with a vaguer message.
  auto file = MakeRef<TFile>(kConfigFileName, TCreationDisposition::OpenExisting);
  auto stream =
      MakeRef<TBufferedInputStream>(MakeRef<TFileInputStream>(std::move(file)), kConfigBufferSize);
  return TZServer::LoadFromConfiguration(
      MakeRef<TTextStreamReader>(std::move(stream), kConfigFileName), bindAddress);
}

// Blocks the stop signals in this thread and, through inheritance, in every
// thread it starts, so that they wait for WaitForStopSignal instead of
// interrupting anything.
sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

const char* WaitForStopSignal(const sigset_t& signals) {
  int signal = 0;
  while (sigwait(&signals, &signal) != 0) {
  }
  return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

int Run(const TOptions& options) {
  if (chdir(options.Dir.c_str()) != 0) {
    fprintf(stderr, "korserver: cannot enter %s: %s\n", options.Dir.c_str(), strerror(errno));
    return kExitUsage;
  }
  SetLogFile("KORLIB.OUT");
  InstallUnhandledExceptionHandler();
  // A peer that is gone must never end the server; sends use MSG_NOSIGNAL
  // as well, this covers any other write.
  signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals = BlockStopSignals();
  SocketStartup();

  Ref<TZServer> server;
  try {
    server = LoadServer(options.BindAddress);
  } catch (const EZException& e) {
    // The edge of the program: the reason goes to the log and the operator.
    LogLine("KORSERVER UP failed: " + e.Describe());
    fprintf(stderr, "korserver: cannot start: %s\n", e.Describe().c_str());
    SocketShutdown();
    return kExitBuildFailed;
  }
  server->Start();
  std::string where = server->Address() + ":" + std::to_string(server->Port());
  LogLine("KORSERVER UP listening on " + where);
  printf("korserver: listening on %s\n", where.c_str());
  fflush(stdout);

  const char* stopSignal = WaitForStopSignal(stopSignals);
  LogLine(std::string("KORSERVER stopping on ") + stopSignal);
  server.ReleaseLast();
  CheckNoLiveObjects();
  SocketShutdown();
  LogLine("KORSERVER DOWN success");
  printf("korserver: stopped\n");
  return 0;
}

}  // namespace
}  // namespace kor

int main(int argc, char** argv) {
  kor::TOptions options;
  if (!kor::ParseOptions(argc, argv, options)) {
    fprintf(stderr, "usage: korserver [--bind=ADDRESS] DIR\n");
    return kor::kExitUsage;
  }
  return kor::Run(options);
}
