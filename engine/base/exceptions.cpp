#include "engine/base/exceptions.h"

#include "engine/platform/last_error.h"

namespace kor {

namespace {

std::string ComposeMessage(const char* className, uint32_t error) {
  // The code is shown signed, as the system's error numbers are.
  return std::string(className) + "  LastError: " + std::to_string(static_cast<int32_t>(error));
}

}  // namespace

EZException::EZException(const char* className, TSourceLocation where)
    : EZException(className, where, LastErrorCode()) {}

EZException::EZException(const char* className, TSourceLocation where, uint32_t error)
    : std::runtime_error(ComposeMessage(className, error)),
      Name(className),
      Error(error),
      Where(where) {}

std::string EZException::Describe() const {
  std::string text = what();
  if (!Position.empty()) text += " at " + Position;
  text += " (raised in ";
  text += Where.file_name();
  text += ":" + std::to_string(Where.line()) + ")";
  return text;
}

}  // namespace kor
