#include "engine/platform/last_error.h"

#include <cerrno>
#include <cstring>

namespace kor {

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

void SetLastErrorCode(uint32_t code) { errno = static_cast<int>(code); }

std::string ErrorText(uint32_t code) {
  if (code == 0) return {};
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace kor
