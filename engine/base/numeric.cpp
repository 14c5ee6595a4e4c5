#include "engine/base/numeric.h"

#include "engine/base/fatal.h"

namespace kor {

std::string Int64ToHex(int64_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  uint64_t v = static_cast<uint64_t>(value);
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i) {
    text[static_cast<size_t>(i)] = kDigits[v & 15];
    v >>= 4;
  }
  return text;
}

int64_t HexToInt64(std::string_view digits) {
  FailIf(digits.empty() || digits.size() > 16);
  uint64_t value = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      FatalError("ErrB");
    }
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return static_cast<int64_t>(value);
}

std::string ExtractFileBaseName(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot != 0) name = name.substr(0, dot);
  return std::string(name);
}

}  // namespace kor
