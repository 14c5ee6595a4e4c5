#include "engine/server/engine_lock.h"

namespace kor {

std::mutex& EngineLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

}  // namespace kor
