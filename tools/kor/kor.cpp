// kor: look into a Kor database from the command line. See options.h for
// the commands, commands.h for what each does.
//
// The database is either the engine in this process, opened on DIR (the
// tool changes to DIR, as a Java client starts in its database's directory,
// and the engine logs to KORLIB.OUT there), or a korserver (--connect).
//
// Exit codes: 0 done; 1 records refused (load) or problems found (check);
// 2 wrong arguments, or a database, file or connection that cannot be used,
// reported as one line on standard error; 70 the engine's fatal report.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"

#include "tools/kor/commands.h"
#include "tools/kor/database.h"
#include "tools/kor/engine_error_text.h"
#include "tools/kor/kor_error.h"
#include "tools/kor/options.h"

namespace kor::tool {
namespace {

constexpr const char* kConfigFileName = "CONFIG.ZSR";

// A CSV input opened before the tool changes directory, so that a relative
// name means what the user meant.
struct TInputFile {
  FILE* Stream = nullptr;
  int64_t Size = -1;
  ~TInputFile() {
    if (Stream != nullptr) fclose(Stream);
  }
};

void OpenInput(const std::string& name, TInputFile& input) {
  input.Stream = fopen(name.c_str(), "rb");
  if (input.Stream == nullptr) throw TKorError(name + ": cannot open: " + strerror(errno));
  struct stat info {};
  if (fstat(fileno(input.Stream), &info) == 0 && S_ISREG(info.st_mode)) input.Size = info.st_size;
}

// Makes DIR the current directory. The engine creates a missing
// configuration file empty, so a DIR without one is refused here, before
// anything is created in a directory that is not a database.
void EnterDatabase(const std::string& dir, bool needsConfiguration) {
  if (chdir(dir.c_str()) != 0) throw TKorError(dir + ": cannot enter: " + strerror(errno));
  if (needsConfiguration && access(kConfigFileName, F_OK) != 0) {
    throw TKorError(dir + ": no " + std::string(kConfigFileName) +
                    " here: not a database directory");
  }
  SetLogFile("KORLIB.OUT");
}

int Run(const TOptions& options) {
  TInputFile input;
  if (options.Command == "load") OpenInput(options.File, input);
  if (!options.Dir.empty()) EnterDatabase(options.Dir, true);
  TDatabase database(options.Connect, options.Dir);
  if (options.Command == "dump") return RunDump(database, options);
  if (options.Command == "load") return RunLoad(database, options, input.Stream, input.Size);
  if (options.Command == "check") return RunCheck(database, options);
  return RunCatalogueCommand(database, options);
}

}  // namespace
}  // namespace kor::tool

int main(int argc, char** argv) {
  using namespace kor::tool;
  // A closed output shows as EPIPE on the write (TOutputClosed) instead of
  // ending the process, so the database is still closed in order.
  signal(SIGPIPE, SIG_IGN);
  // The one edge where the tool's failures stop: each becomes one line.
  try {
    return Run(ParseOptions(argc, argv));
  } catch (const TOutputClosed&) {
    // Swallowed: whoever read the output stopped reading; nothing is wrong.
    return kExitOk;
  } catch (const TKorError& e) {
    fflush(stdout);
    fprintf(stderr, "kor: %s\n", e.what());
  } catch (const kor::EZException& e) {
    fflush(stdout);
    fprintf(stderr, "kor: %s\n", DescribeForUser(e).c_str());
  } catch (const std::bad_alloc&) {
    fflush(stdout);
    fprintf(stderr, "kor: out of memory\n");
  } catch (const std::exception& e) {
    fflush(stdout);
    fprintf(stderr, "kor: internal error: %s\n", e.what());
  }
  return kExitError;
}
