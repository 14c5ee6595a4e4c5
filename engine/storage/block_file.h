#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/file.h"

namespace kor {

// A block file: a file of equal-sized blocks with a free list kept in the
// file itself. Each table keeps its records in one; a record's block number
// is its address for the life of the record.
//
// Layout. Block n starts at byte n * BlockSize; every integer is 32-bit
// signed little-endian. BlockSize = RecordSize + 4, at least 8.
//
//   Block 0 (header):
//   OFFSET  SIZE            DESCRIPTION
//      0      4             Free-list head: first free block, 0 if none.
//                           -1 while the file is open; the true head is
//                           written back by a clean close.
//      4      BlockSize-4   Unused, never written.
//
//   Block n >= 1, in use:
//   OFFSET  SIZE            DESCRIPTION
//      0      4             Status 1.
//      4      RecordSize    The record.
//
//   Block n >= 1, free:
//   OFFSET  SIZE            DESCRIPTION
//      0      4             Status 0 (any value but 1 counts as free when the
//                           list is rebuilt).
//      4      4             Next free block, 0 at the end of the list.
//      8      BlockSize-8   Left as it was.
//
// There is no magic number and the record size is not stored: a file must
// be opened with the record size it was created with. A partial block at
// the end of the file is not counted; the next growth overwrites it.
//
// Invariants kept by this class:
//   1. While the file is open, word 0 holds -1, so a crash is recognised at
//      the next open, which rebuilds the free list (records are kept).
//   2. A block is handed out only if its status on disk is 0 (read back, or
//      written by the growth that made it and untouched since), and is
//      marked 1 before it is returned; so no block is ever handed out twice,
//      even from a corrupt list.
//   3. The file never grows past TFile::kMaxFileSize.
//   4. A block gets its record before its status 1 (AppendRecord): a crash
//      between the two writes leaves the block free, so that stale bytes
//      of a free block are never read back as a record.
//   5. The scan window, while it holds blocks, holds their bytes as they
//      are in the file: every write of this class goes through WriteAt,
//      which copies what falls inside the window into it.
//
// Not thread-safe; the engine serialises its callers.
class TBlockFile : public TRCObject {
 public:
  // Opens or creates `fileName` with the exclusive write lock of TFile and
  // prepares the free list.
  // REQUIRES: 0 < recordSize <= INT32_MAX - 4.
  // Raises EFileOpenError when the file cannot be opened or another writer
  // holds it, EFileFullError when it is larger than TFile::kMaxFileSize.
  TBlockFile(const std::string& fileName, int32_t recordSize);
  // Writes the free-list head back to word 0.
  ~TBlockFile() override;

  int32_t RecordSize() const { return RecordBytes; }
  int32_t BlockSize() const { return BlockBytes; }
  // Whole blocks in the file, the header block included.
  int32_t BlockCount() const { return Blocks; }
  // First free block, 0 when the list is empty.
  int32_t FreeHead() const { return FirstFree; }

  // REQUIRES: 1 <= n < BlockCount(). Transfer the RecordSize() payload
  // bytes of block n. Whether the block is in use is not checked. Reads of
  // consecutive blocks go through the scan window.
  virtual void ReadBlock(int32_t n, void* buffer);
  virtual void WriteBlock(int32_t n, const void* buffer);

  // Takes the head of the free list, growing the file by 16 blocks when the
  // list is empty, and marks it in use. Raises EFileFullError, with nothing
  // changed, when the growth would pass TFile::kMaxFileSize.
  // A head block that is not free (status other than 0) or links outside the
  // file means the list on disk is corrupt: the list is rebuilt from the
  // statuses, as after a crash, and the allocation retried once.
  int32_t AllocateBlock();
  // AllocateBlock with `buffer` as the block's record, written before the
  // block is marked in use (invariant 4).
  int32_t AppendRecord(const void* buffer);
  // REQUIRES: 1 <= n < BlockCount(). Puts block n at the head of the free
  // list (so freed blocks are reused last in, first out). Its status is not
  // examined.
  void FreeBlock(int32_t n);
  // REQUIRES: after >= 0. The first in-use block numbered above `after`,
  // its payload read into `buffer`; -1 when there is none. A scan of all
  // records starts with after = 0. Blocks are read 256 KB at a time into a
  // scan window, which is let go when a call finds no further block.
  int32_t FindNextUsed(int32_t after, void* buffer);

 private:
  int64_t BlockOffset(int32_t n) const { return static_cast<int64_t>(n) * BlockBytes; }
  // Every write to the file: Seek, Write, and the scan window kept equal
  // to the file (invariant 5).
  void WriteAt(int64_t offset, const void* bytes, int32_t count);
  void WriteInt32At(int64_t offset, int32_t value);
  void WriteFreeHeaderAt(int32_t n, int32_t next);
  // Blocks small enough to be scanned through the window.
  bool ScansThroughWindow() const;
  // REQUIRES: 1 <= n < Blocks. The bytes of block n (status first) in the
  // scan window, which is loaded from block n on when it does not hold n.
  const unsigned char* ScanBlock(int32_t n);
  void DropScanWindow();
  void RebuildFreeList();
  void Grow();
  // AllocateBlock, and AppendRecord when `payload` is not null.
  int32_t Allocate(const void* payload);
  // Takes the head block off the list, writes `payload` (when not null) as
  // its record, marks it in use and returns it in `block`, growing the file
  // first when the list is empty. False, with no block taken, when the head
  // block is not a free block with a valid link (a corrupt list).
  bool TakeFreeHead(int32_t& block, const void* payload);

  Ref<TFile> File;
  int32_t BlockBytes;
  int32_t FirstFree = 0;
  int32_t Blocks = 0;
  int32_t RecordBytes;
  // Scan window: blocks WindowFirst .. WindowFirst + WindowCount - 1 as they
  // are in the file; WindowCount 0 when it holds none.
  std::vector<unsigned char> ScanWindow;
  int32_t WindowFirst = 0;
  int32_t WindowCount = 0;
  // The block ReadBlock read last, 0 before the first, and how many reads
  // before it were each of the block after the one before.
  int32_t LastRead = 0;
  int32_t ReadStreak = 0;
  // The fresh run: blocks FreshFirst .. FreshEnd - 1, the untaken rest of the
  // last growth, whose headers on disk are still the ones Grow wrote
  // (status 0, each linked to the next, the last to 0). Empty when
  // FreshFirst == FreshEnd.
  int32_t FreshFirst = 0;
  int32_t FreshEnd = 0;
};

}  // namespace kor
