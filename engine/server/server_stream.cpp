#include "engine/server/server_stream.h"

#include "engine/server/engine_lock.h"

namespace kor {

int32_t TZServerInputStream::Read(void* buffer, int32_t count) {
  TEngineUnlocked waiting;
  return Inner->Read(buffer, count);
}

void TZServerOutputStream::Write(const void* buffer, int32_t count) {
  TEngineUnlocked waiting;
  Inner->Write(buffer, count);
}

}  // namespace kor
