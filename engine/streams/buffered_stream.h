#pragma once

#include <cstdint>
#include <memory>

#include "engine/base/ref.h"

#include "engine/streams/stream.h"

namespace kor {

// Read-ahead over another input stream: keeps at most one buffer of bytes
// that the source delivered and the caller has not yet taken. A Read of at
// least the buffer size while the buffer is empty goes to the source
// directly (one source call), so large transfers are copied once.
class TBufferedInputStream final : public TInputStream {
 public:
  // REQUIRES: bufferSize >= 1. Takes over the reference to `source`.
  TBufferedInputStream(Ref<TInputStream> source, int32_t bufferSize);

  // REQUIRES: count >= 1. Returns 1..count bytes; the source's exceptions
  // pass through.
  int32_t Read(void* buffer, int32_t count) override;

 private:
  Ref<TInputStream> Source;
  int32_t BufferSize;
  std::unique_ptr<unsigned char[]> Buffer;
  int32_t Filled = 0;    // bytes in Buffer
  int32_t Position = 0;  // next unread byte in Buffer; Position <= Filled
};

// Write-behind over another output stream: keeps at most one buffer of
// unsent bytes until a Write fills it or Flush is called. A Write that does
// not fit is handed to the sink directly once the waiting bytes are out.
// Destruction does not flush: bytes still waiting are lost.
class TBufferedOutputStream final : public TOutputStream {
 public:
  // REQUIRES: bufferSize >= 1. Takes over the reference to `sink`.
  TBufferedOutputStream(Ref<TOutputStream> sink, int32_t bufferSize);

  // REQUIRES: count >= 1. The sink's exceptions pass through.
  void Write(const void* buffer, int32_t count) override;
  // Hands the waiting bytes to the sink, then flushes the sink.
  void Flush() override;

 private:
  // Hands the waiting bytes to the sink without flushing it.
  void FlushBuffer();

  Ref<TOutputStream> Sink;
  int32_t BufferSize;
  std::unique_ptr<unsigned char[]> Buffer;
  int32_t Used = 0;  // bytes waiting in Buffer
};

}  // namespace kor
