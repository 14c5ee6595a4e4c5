#include "engine/streams/buffered_stream.h"

#include <cstring>
#include <utility>

#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

namespace kor {

namespace {

std::unique_ptr<unsigned char[]> NewBuffer(int32_t size) {
  FailIf(size <= 0);
  return std::make_unique_for_overwrite<unsigned char[]>(static_cast<size_t>(size));
}

}  // namespace

TBufferedInputStream::TBufferedInputStream(Ref<TInputStream> source, int32_t bufferSize)
    : Source(std::move(source)), BufferSize(bufferSize), Buffer(NewBuffer(bufferSize)) {
  FailIf(!Source);
}

int32_t TBufferedInputStream::Read(void* buffer, int32_t count) {
  FailIf(count <= 0);
  if (Position == Filled) {
    if (count >= BufferSize) return Source->Read(buffer, count);
    int32_t n = Source->Read(Buffer.get(), BufferSize);
    // A source outside 1..BufferSize breaks the stream contract and would
    // make the copy below run past the buffer.
    FailIf(n <= 0 || n > BufferSize);
    Filled = n;
    Position = 0;
  }
  int32_t n = MinInt(Filled - Position, count);
  memcpy(buffer, Buffer.get() + Position, static_cast<size_t>(n));
  Position += n;
  return n;
}

TBufferedOutputStream::TBufferedOutputStream(Ref<TOutputStream> sink, int32_t bufferSize)
    : Sink(std::move(sink)), BufferSize(bufferSize), Buffer(NewBuffer(bufferSize)) {
  FailIf(!Sink);
}

void TBufferedOutputStream::Write(const void* buffer, int32_t count) {
  FailIf(count <= 0);
  auto* bytes = static_cast<const unsigned char*>(buffer);
  if (Used > 0) {
    int32_t n = MinInt(BufferSize - Used, count);
    memcpy(Buffer.get() + Used, bytes, static_cast<size_t>(n));
    Used += n;
    bytes += n;
    count -= n;
  }
  if (Used == BufferSize) FlushBuffer();
  if (count == 0) return;
  // Here the buffer is empty: either it was, or FlushBuffer emptied it.
  if (count < BufferSize) {
    memcpy(Buffer.get(), bytes, static_cast<size_t>(count));
    Used = count;
  } else {
    Sink->Write(bytes, count);
  }
}

void TBufferedOutputStream::Flush() {
  FlushBuffer();
  Sink->Flush();
}

void TBufferedOutputStream::FlushBuffer() {
  // Never a Write of 0: buffered sinks require at least one byte.
  if (Used == 0) return;
  Sink->Write(Buffer.get(), Used);
  Used = 0;
}

}  // namespace kor
