#pragma once

#include <cstdint>
#include <string>

namespace kor {

// The calling thread's last operating-system error code (errno on POSIX,
// GetLastError on Windows). Exceptions and the fatal report capture it.
uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);

// The system's own text for an error code, without a trailing line break;
// empty when the system has none.
std::string ErrorText(uint32_t code);

}  // namespace kor
