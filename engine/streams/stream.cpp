#include "engine/streams/stream.h"

namespace kor {

void ReadFully(TInputStream& stream, void* buffer, int32_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    int32_t n = stream.Read(bytes, count);
    bytes += n;
    count -= n;
  }
}

}  // namespace kor
