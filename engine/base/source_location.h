#pragma once

#include <cstdint>

namespace kor {

// Where in the engine's source a check or an exception was raised. Like
// std::source_location, but built on the compiler builtins that GCC 12 and
// Clang 14 both have (Clang 14 lacks std::source_location with libstdc++).
// Current() as a default argument records the caller's position.
class TSourceLocation {
 public:
  static constexpr TSourceLocation Current(const char* file = __builtin_FILE(),
                                           uint32_t line = __builtin_LINE(),
                                           const char* function = __builtin_FUNCTION()) {
    return TSourceLocation(file, line, function);
  }
  constexpr const char* file_name() const { return File; }
  constexpr uint32_t line() const { return Line; }
  constexpr const char* function_name() const { return Function; }

 private:
  constexpr TSourceLocation(const char* file, uint32_t line, const char* function)
      : File(file), Line(line), Function(function) {}
  const char* File;
  uint32_t Line;
  const char* Function;
};

}  // namespace kor
