#pragma once

#include <cstdint>
#include <memory>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/stream.h"

namespace kor {

// An unbounded in-memory byte queue: bytes written at the back are read
// from the front, in order. The in-process session uses two of them as its
// request and reply pipes.
//
// Layout: a singly linked chain of chunks of ChunkSize() bytes each, oldest
// data first. Invariants:
//   1. There is always at least one chunk.
//   2. The last chunk always has room: a chunk that fills up gets a
//      successor at once, so the write offset is below ChunkSize().
//   3. Available() = bytes from the read offset in the first chunk to the
//      write offset in the last chunk.
//   4. A chunk is freed as soon as its last byte has been read; nothing is
//      ever moved or compacted.
// Each byte is copied once in and once out. Not a stream itself; the
// stream views are TStreamBufferInputStream and TStreamBufferOutputStream.
// No lock: used by one thread at a time.
class TStreamBuffer final : public TRCObject {
 public:
  // REQUIRES: chunkSize >= 1.
  explicit TStreamBuffer(int32_t chunkSize);
  ~TStreamBuffer() override;

  // Appends `count` bytes (count >= 0). Never blocks. The queue holds at
  // most INT32_MAX unread bytes, as Available() is a 32-bit count; a Write
  // that would exceed that raises EOutputStreamError and appends nothing.
  void Write(const void* buffer, int32_t count);

  // Moves up to `count` bytes (count >= 0) from the front into `buffer` and
  // returns how many; -1 when the queue is empty (also for a count of 0).
  // Never blocks.
  int32_t Read(void* buffer, int32_t count);

  // Bytes written and not yet read.
  int32_t Available() const { return AvailableBytes; }
  int32_t ChunkSize() const { return Size; }
  // Chunks currently allocated (>= 1); walks the chain.
  int32_t ChunkCount() const;

 private:
  struct TChunk {
    std::unique_ptr<unsigned char[]> Data;
    std::unique_ptr<TChunk> Next;
  };
  std::unique_ptr<TChunk> NewChunk() const;

  std::unique_ptr<TChunk> First;  // read end, owns the chain
  TChunk* Last = nullptr;         // write end
  int32_t ReadOffset = 0;         // in First
  int32_t WriteOffset = 0;        // in Last
  int32_t Size;
  int32_t AvailableBytes = 0;
};

// Reads from a stream buffer. Read returns what the buffer holds (at most
// count bytes) and raises EInputStreamEof when it is empty.
class TStreamBufferInputStream final : public TInputStream {
 public:
  explicit TStreamBufferInputStream(Ref<TStreamBuffer> buffer);
  int32_t Read(void* buffer, int32_t count) override;

 private:
  Ref<TStreamBuffer> Buffer;
};

// Appends to a stream buffer. Flush does nothing: the bytes are readable as
// soon as Write returns.
class TStreamBufferOutputStream final : public TOutputStream {
 public:
  explicit TStreamBufferOutputStream(Ref<TStreamBuffer> buffer);
  void Write(const void* buffer, int32_t count) override;

 private:
  Ref<TStreamBuffer> Buffer;
};

}  // namespace kor
