#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

#include "engine/streams/stream.h"

namespace kor::test {

// An input stream over the bytes of a string, for tests. Read hands out at
// most `chunk` bytes per call (so callers that must loop are exercised) and,
// at the end of the bytes, raises EInputStreamEof, or EInputStreamError when
// made with TEnd::Failure (a source that breaks after its data).
class TStringInputStream final : public TInputStream {
 public:
  enum class TEnd { Eof, Failure };

  explicit TStringInputStream(std::string data, TEnd end = TEnd::Eof, int32_t chunk = INT32_MAX)
      : Data(std::move(data)), End(end), Chunk(chunk) {
    FailIf(chunk < 1);
  }

  int32_t Read(void* buffer, int32_t count) override {
    FailIf(count < 1);
    if (Offset == Data.size()) {
      if (End == TEnd::Failure) throw EInputStreamError();
      throw EInputStreamEof();
    }
    size_t n =
        std::min({Data.size() - Offset, static_cast<size_t>(count), static_cast<size_t>(Chunk)});
    memcpy(buffer, Data.data() + Offset, n);
    Offset += n;
    return static_cast<int32_t>(n);
  }

  // Bytes handed out so far.
  size_t Consumed() const { return Offset; }

 private:
  std::string Data;
  TEnd End;
  int32_t Chunk;
  size_t Offset = 0;
};

}  // namespace kor::test
