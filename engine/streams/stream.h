#pragma once

#include <cstdint>

#include "engine/base/object.h"

namespace kor {

// A source of bytes.
// Contract: Read(buffer, count) with count >= 1 returns between 1 and count
// bytes, or raises EInputStreamEof at the end of the data or
// EInputStreamError when the source fails. It never returns 0.
class TInputStream : public TRCObject {
 public:
  virtual int32_t Read(void* buffer, int32_t count) = 0;
};

// A sink of bytes.
// Contract: Write(buffer, count) with count >= 1 accepts all count bytes or
// raises EOutputStreamError. Flush passes buffered bytes on and flushes the
// next stream down.
class TOutputStream : public TRCObject {
 public:
  virtual void Write(const void* buffer, int32_t count) = 0;
  virtual void Flush() {}
};

// Reads until `count` bytes have arrived (nothing for count <= 0). Stream
// exceptions pass through; bytes read before one stay consumed. Borrows the
// stream.
void ReadFully(TInputStream& stream, void* buffer, int32_t count);

}  // namespace kor
