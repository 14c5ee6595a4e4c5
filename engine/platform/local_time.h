#pragma once

#include <string>

namespace kor {

// The current local date and time as the log writes them: the date as
// YYYY-MM-DD and the time as HH:MM:SS (ISO 8601, independent of the locale
// so that logs from different machines read alike).
struct TLocalDateTime {
  std::string Date;
  std::string Time;
};

TLocalDateTime CurrentLocalDateTime();

}  // namespace kor
