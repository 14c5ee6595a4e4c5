#include "engine/streams/stream.h"

#include "engine/base/fatal.h"

namespace kor {

void ReadFully(TInputStream& stream, void* buffer, int32_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    int32_t n = stream.Read(bytes, count);
    // The stream contract: 1 to count bytes, never 0 (which would spin here).
    FailIf(n < 1 || n > count);
    bytes += n;
    count -= n;
  }
}

}  // namespace kor
