#pragma once

#include <cstdint>
#include <string_view>

#include "engine/base/source_location.h"

namespace kor {

// Exit code of a process ended by the fatal report (EX_SOFTWARE: an internal
// error). A fatal failure never exits with 0.
inline constexpr int kFatalExitCode = 70;

// The post-mortem report for a broken invariant of the engine's own code.
// Logs, in this order: the message; "    Where: " and the source position;
// "    GetLastError: " and the thread's last error code; "    Descr: " and
// the system's text for it; "    CALL STACK:" with up to 32 return
// addresses and their functions; "    LOST OBJECTS:" with the live objects
// by class; "THAT'S ALL FOLKS!". Then writes "Err" to standard error and ends
// the process with kFatalExitCode. A failure inside the report logs
// "ERR ERROR - błąd w obsłudze błędów!!!" and ends the process at once.
// Never called for input from outside: that raises an EZException.
[[noreturn]] void FatalError(std::string_view message,
                             TSourceLocation where = TSourceLocation::Current());

// Assertion helpers for broken invariants (never for outside input).
inline void FailIf(bool condition, TSourceLocation where = TSourceLocation::Current()) {
  if (condition) [[unlikely]]
    FatalError("ErrB", where);
}
inline void FailUnless(bool condition, TSourceLocation where = TSourceLocation::Current()) {
  if (!condition) [[unlikely]]
    FatalError("ErrF", where);
}
[[noreturn]] void FatalWithValue(std::string_view prefix, int64_t value, TSourceLocation where);
// Return `value` when it is a valid (positive) handle; else fatal "ErrH: value".
inline int64_t CheckHandle(int64_t value, TSourceLocation where = TSourceLocation::Current()) {
  if (value <= 0) [[unlikely]]
    FatalWithValue("ErrH: ", value, where);
  return value;
}
// The same for socket handles: fatal "ErrS: value".
inline int64_t CheckSocket(int64_t value, TSourceLocation where = TSourceLocation::Current()) {
  if (value <= 0) [[unlikely]]
    FatalWithValue("ErrS: ", value, where);
  return value;
}
// For status codes that are 0 on success: fatal "ErrZ: code" otherwise.
inline void CheckZero(int64_t code, TSourceLocation where = TSourceLocation::Current()) {
  if (code != 0) [[unlikely]]
    FatalWithValue("ErrZ: ", code, where);
}

// The last-chance handler for an exception that no code catches: it reports
// the exception through FatalError ("Info: " and the exception's message or
// type). InstallUnhandledExceptionHandler makes it the C++ run time's
// terminate handler.
[[noreturn]] void UnhandledExceptionHandler();
void InstallUnhandledExceptionHandler();

}  // namespace kor
