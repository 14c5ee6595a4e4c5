#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kor/kor_error.h"

namespace kor::tool {

// A table file that cannot be read: its name and the reason.
class TTableFileError : public TKorError {
 public:
  TTableFileError(const std::string& file, std::string reason)
      : TKorError(file + ": " + reason), Why(std::move(reason)) {}
  const std::string& Reason() const { return Why; }

 private:
  std::string Why;
};

// A table file read directly and read-only, beside the engine that may hold
// it open (the engine's lock keeps out writers, not readers; nothing here
// writes, locks or keeps the file open). The layout, written by the
// engine's block file: block n at byte n * BlockSize, BlockSize =
// RecordSize + 4 (at least 8); block 0 holds the free-list head in its
// first word (-1 while an engine has the file open); every other block
// starts with its status word (1 in use, 0 free, anything else counts as
// free), then the stored record of an in-use block, or the next free block
// (0 ends the list) of a free one. Integers are 32-bit little-endian.
class TTableFile {
 public:
  // Blocks read per system call while scanning.
  static constexpr int64_t kScanBytes = 1 << 20;

  // Raises TTableFileError when the file cannot be opened or read.
  TTableFile(std::string fileName, int32_t recordSize);
  ~TTableFile();
  TTableFile(const TTableFile&) = delete;
  TTableFile& operator=(const TTableFile&) = delete;

  const std::string& FileName() const { return Name; }
  int32_t BlockSize() const { return BlockBytes; }
  int64_t FileSize() const { return Size; }
  // Whole blocks, the header block included.
  int64_t BlockCount() const { return Size / BlockBytes; }
  // Bytes after the last whole block (the engine ignores them).
  int64_t TrailingBytes() const { return Size % BlockBytes; }
  // Word 0: the free-list head of a cleanly closed file, -1 while open.
  // REQUIRES: BlockCount() >= 1.
  int32_t HeadWord() const { return Head; }

  // Calls onBlock(block, status, payload) for blocks 1 .. BlockCount() - 1
  // in order; `payload` is the RecordSize bytes after the status word, valid
  // during the call.
  template <typename TOnBlock>
  void ForEachBlock(TOnBlock&& onBlock) {
    const int64_t perRead = std::max<int64_t>(1, kScanBytes / BlockBytes);
    for (int64_t first = 1; first < BlockCount(); first += perRead) {
      const int64_t count = std::min(perRead, BlockCount() - first);
      ReadAt(first * BlockBytes, static_cast<size_t>(count * BlockBytes));
      for (int64_t i = 0; i < count; ++i) {
        const uint8_t* block = Buffer.data() + i * BlockBytes;
        onBlock(first + i, DecodeWord(block), block + 4);
      }
    }
  }

  // The status and next-link words of block n (1 <= n < BlockCount()).
  void ReadFreeHeader(int64_t n, int32_t& status, int32_t& next);

 private:
  static int32_t DecodeWord(const uint8_t* p);
  // Reads `count` bytes at `offset` into Buffer; TKorError when the file
  // ends before them or the read fails.
  void ReadAt(int64_t offset, size_t count);

  std::string Name;
  int Fd = -1;
  int32_t BlockBytes;
  int64_t Size = 0;
  int32_t Head = 0;
  std::vector<uint8_t> Buffer;
};

}  // namespace kor::tool
