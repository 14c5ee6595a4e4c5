#include "engine/base/fatal.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

#include "engine/platform/call_stack.h"
#include "engine/platform/last_error.h"

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/object.h"
#include "engine/base/object_registry.h"

namespace kor {

namespace {

// Set while no report is being written; a process writes at most one.
bool NoReportYet = true;

constexpr int kMaxStackEntries = 32;

void DumpCallStack() {
  LogLine("    CALL STACK:");
  uintptr_t addresses[kMaxStackEntries];
  int count = CaptureCallStack(addresses, kMaxStackEntries);
  for (int i = 0; i < count; ++i) {
    // A return address points behind the call; minus 1 lies inside it.
    uintptr_t site = addresses[i] - 1;
    char line[64];
    snprintf(line, sizeof line, "        %016" PRIXPTR " _ ", site);
    LogLine(line + SymbolizeAddress(site));
  }
}

[[noreturn]] void EndProcess() {
  fputs("Err\n", stderr);
  fflush(stderr);
  _exit(kFatalExitCode);
}

}  // namespace

void FatalError(std::string_view message, TSourceLocation where) {
  ObjectRegistryLock().lock();
  uint32_t error = LastErrorCode();
  if (!NoReportYet) {
    LogLine("ERR ERROR - błąd w obsłudze błędów!!!");
    EndProcess();
  }
  NoReportYet = false;

  if (!message.empty()) LogLine(message);
  LogLine(std::string("    Where: ") + where.file_name() + ":" + std::to_string(where.line()) +
          " " + where.function_name());
  LogLine("    GetLastError: " + std::to_string(static_cast<int32_t>(error)));
  std::string description = ErrorText(error);
  if (!description.empty()) LogLine("    Descr: " + description);
  DumpCallStack();
  DumpLiveObjects();
  LogLine("THAT'S ALL FOLKS!");
  EndProcess();
}

void FatalWithValue(std::string_view prefix, int64_t value, TSourceLocation where) {
  FatalError(std::string(prefix) + std::to_string(value), where);
}

void UnhandledExceptionHandler() {
  std::string info = "unknown exception";
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const EZException& e) {
      // The report then shows the error code the exception was raised with.
      SetLastErrorCode(e.LastError());
      info = e.Describe();
    } catch (const std::exception& e) {
      info = std::string(typeid(e).name()) + "  Message: " + e.what();
    } catch (...) {
      // Not an exception class: nothing more to say than that it happened.
    }
  } else {
    info = "terminate called without an exception";
  }
  FatalError("Info: " + info);
}

void InstallUnhandledExceptionHandler() { std::set_terminate(UnhandledExceptionHandler); }

}  // namespace kor
