#pragma once

#include <stdexcept>
#include <string>

namespace kor::tool {

// A failure the kor tool reports to its user: one line saying which file or
// connection and what was wrong. Raised by every part of the tool and caught
// only in main, which prints it and exits with kExitError.
class TKorError : public std::runtime_error {
 public:
  explicit TKorError(const std::string& message) : std::runtime_error(message) {}
};

// The reader of standard output has gone (kor dump ... | head): the command
// stops quietly, the database closed in order.
class TOutputClosed : public TKorError {
 public:
  TOutputClosed() : TKorError("the output was closed") {}
};

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
// The command ran, and found what it reports: records refused by a load,
// problems found by a check.
inline constexpr int kExitFindings = 1;
// The command could not run: wrong arguments, a database or file that
// cannot be used, a connection that failed.
inline constexpr int kExitError = 2;

}  // namespace kor::tool
