#include "engine/streams/stream_buffer.h"

#include <cstring>
#include <limits>
#include <utility>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

namespace kor {

TStreamBuffer::TStreamBuffer(int32_t chunkSize) : Size(chunkSize) {
  FailIf(chunkSize <= 0);
  First = NewChunk();
  Last = First.get();
}

TStreamBuffer::~TStreamBuffer() {
  // Unlinks one chunk at a time: letting the unique_ptr chain destroy itself
  // would recurse once per chunk.
  while (First != nullptr) First = std::move(First->Next);
}

std::unique_ptr<TStreamBuffer::TChunk> TStreamBuffer::NewChunk() const {
  auto chunk = std::make_unique<TChunk>();
  chunk->Data = std::make_unique_for_overwrite<unsigned char[]>(static_cast<size_t>(Size));
  return chunk;
}

void TStreamBuffer::Write(const void* buffer, int32_t count) {
  FailIf(count < 0);
  // The client decides how much it queues, so the limit is an error of the
  // input, not of our bookkeeping.
  if (int64_t{AvailableBytes} + count > std::numeric_limits<int32_t>::max()) {
    throw EOutputStreamError();
  }
  auto* source = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    int32_t n = MinInt(Size - WriteOffset, count);
    // Allocated before the copy so that a failed allocation leaves
    // invariant 2 intact and the queue unchanged by this chunk's bytes.
    std::unique_ptr<TChunk> successor = WriteOffset + n == Size ? NewChunk() : nullptr;
    memcpy(Last->Data.get() + WriteOffset, source, static_cast<size_t>(n));
    WriteOffset += n;
    source += n;
    AvailableBytes += n;
    count -= n;
    if (successor != nullptr) {
      Last->Next = std::move(successor);
      Last = Last->Next.get();
      WriteOffset = 0;
    }
  }
}

int32_t TStreamBuffer::Read(void* buffer, int32_t count) {
  FailIf(count < 0);
  if (AvailableBytes == 0) return -1;
  auto* destination = static_cast<unsigned char*>(buffer);
  int32_t total = 0;
  while (count > 0 && AvailableBytes > 0) {
    int32_t n = MinInt(MinInt(count, AvailableBytes), Size - ReadOffset);
    memcpy(destination, First->Data.get() + ReadOffset, static_cast<size_t>(n));
    ReadOffset += n;
    destination += n;
    count -= n;
    AvailableBytes -= n;
    total += n;
    if (ReadOffset == Size) {
      // A full chunk is never the last one (invariant 2).
      FailIf(First->Next == nullptr);
      First = std::move(First->Next);
      ReadOffset = 0;
    }
  }
  return total;
}

int32_t TStreamBuffer::ChunkCount() const {
  int32_t count = 0;
  for (const TChunk* chunk = First.get(); chunk != nullptr; chunk = chunk->Next.get()) ++count;
  return count;
}

TStreamBufferInputStream::TStreamBufferInputStream(Ref<TStreamBuffer> buffer)
    : Buffer(std::move(buffer)) {
  FailIf(!Buffer);
}

int32_t TStreamBufferInputStream::Read(void* buffer, int32_t count) {
  int32_t n = Buffer->Read(buffer, count);
  if (n == -1) throw EInputStreamEof();
  return n;
}

TStreamBufferOutputStream::TStreamBufferOutputStream(Ref<TStreamBuffer> buffer)
    : Buffer(std::move(buffer)) {
  FailIf(!Buffer);
}

void TStreamBufferOutputStream::Write(const void* buffer, int32_t count) {
  Buffer->Write(buffer, count);
}

}  // namespace kor
