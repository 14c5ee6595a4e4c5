#include "engine/platform/local_time.h"

#include <ctime>

namespace kor {

TLocalDateTime CurrentLocalDateTime() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char date[32];
  char clock[32];
  strftime(date, sizeof date, "%Y-%m-%d", &local);
  strftime(clock, sizeof clock, "%H:%M:%S", &local);
  return {date, clock};
}

}  // namespace kor
