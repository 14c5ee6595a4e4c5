#pragma once

#include <cstdint>

#include "engine/base/ref.h"

#include "engine/streams/stream.h"

namespace kor {

// The streams between a client thread's buffered streams and its
// connection. They add one thing to the connection's streams: EngineLock is
// given up while the thread waits for the network and taken back before the
// call returns or raises. The buffered streams above move blocks of up to
// 4096 bytes, so the lock changes hands between blocks, never inside a
// value.

class TZServerInputStream final : public TInputStream {
 public:
  // Takes over the reference to the connection's input stream.
  explicit TZServerInputStream(Ref<TInputStream> inner) : Inner(std::move(inner)) {}

  // REQUIRES: the calling thread holds EngineLock; count >= 1. The inner
  // stream's exceptions pass, with the lock held again.
  int32_t Read(void* buffer, int32_t count) override;

 private:
  Ref<TInputStream> Inner;
};

class TZServerOutputStream final : public TOutputStream {
 public:
  // Takes over the reference to the connection's output stream.
  explicit TZServerOutputStream(Ref<TOutputStream> inner) : Inner(std::move(inner)) {}

  // REQUIRES: the calling thread holds EngineLock; count >= 1. The inner
  // stream's exceptions pass, with the lock held again. Flush is the
  // inherited one: the connection sends at once.
  void Write(const void* buffer, int32_t count) override;

 private:
  Ref<TOutputStream> Inner;
};

}  // namespace kor
