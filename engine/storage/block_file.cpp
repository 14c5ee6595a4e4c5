#include "engine/storage/block_file.h"

#include "engine/platform/last_error.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

namespace kor {

namespace {

constexpr int32_t kStatusFree = 0;
constexpr int32_t kStatusUsed = 1;
// Word 0 while the file is open.
constexpr int32_t kOpenMark = -1;
constexpr int32_t kMinBlockSize = 8;
constexpr int32_t kStatusSize = 4;
// Status and next link of a free block.
constexpr int32_t kFreeHeaderSize = kStatusSize + 4;
constexpr int32_t kGrowthBlocks = 16;
// Growth writes its 16 block headers with one write of a prepared span when
// the span is no larger than this; larger blocks get one small write each,
// which keeps the new space sparse.
constexpr int64_t kMaxGrowthWrite = 64 * 1024;
// Scans (FindNextUsed, RebuildFreeList) read runs of whole blocks into the
// scan window, one read of up to kScanWindowBytes at a time, for blocks up
// to kMaxScanRead; a larger block reads its status first, so free blocks
// cost no payload transfer.
constexpr int32_t kMaxScanRead = 64 * 1024;
constexpr int32_t kScanWindowBytes = 256 * 1024;
// ReadBlock reads through the window from this many consecutive blocks on
// (counted after the first).
constexpr int32_t kStreakForWindow = 2;

int32_t BlockSizeFor(int32_t recordSize) {
  FailIf(recordSize <= 0 || recordSize > INT32_MAX - kStatusSize);
  int32_t blockSize = recordSize + kStatusSize;
  return blockSize < kMinBlockSize ? kMinBlockSize : blockSize;
}

int32_t ReadInt32At(TFile& file, int64_t offset) {
  unsigned char bytes[4];
  file.Seek(offset);
  file.Read(bytes, sizeof bytes);
  return DecodeInt32(bytes);
}

[[noreturn]] void RaiseFileFull() {
  // Not an operating-system failure: the exception carries no error code.
  SetLastErrorCode(0);
  throw EFileFullError();
}

}  // namespace

TBlockFile::TBlockFile(const std::string& fileName, int32_t recordSize)
    : BlockBytes(BlockSizeFor(recordSize)), RecordBytes(recordSize) {
  File = MakeRef<TFile>(fileName, TCreationDisposition::OpenAlways);
  int64_t size = File->Size();
  // Block numbers and offsets are 32-bit on disk; a larger file was not
  // written by this engine and cannot be addressed.
  if (size > TFile::kMaxFileSize) RaiseFileFull();
  Blocks = static_cast<int32_t>(size / BlockBytes);
  if (Blocks <= 0) {
    File->SetSize(BlockBytes);
    FirstFree = 0;
    Blocks = 1;
  } else {
    FirstFree = ReadInt32At(*File, 0);
    // Negative: the file was not closed (the open mark is still there).
    if (FirstFree < 0 || FirstFree >= Blocks) RebuildFreeList();
  }
  WriteInt32At(0, kOpenMark);
}

TBlockFile::~TBlockFile() { WriteInt32At(0, FirstFree); }

void TBlockFile::WriteAt(int64_t offset, const void* bytes, int32_t count) {
  File->Seek(offset);
  File->Write(bytes, count);
  if (WindowCount == 0) return;
  // Keep the scan window equal to the file.
  const int64_t windowStart = BlockOffset(WindowFirst);
  const int64_t windowEnd = windowStart + int64_t{WindowCount} * BlockBytes;
  const int64_t from = offset > windowStart ? offset : windowStart;
  const int64_t to = offset + count < windowEnd ? offset + count : windowEnd;
  if (from >= to) return;
  CopyBytes(static_cast<const unsigned char*>(bytes) + (from - offset),
            ScanWindow.data() + (from - windowStart), static_cast<size_t>(to - from));
}

void TBlockFile::WriteInt32At(int64_t offset, int32_t value) {
  unsigned char bytes[4];
  EncodeInt32(bytes, value);
  WriteAt(offset, bytes, sizeof bytes);
}

void TBlockFile::WriteFreeHeaderAt(int32_t n, int32_t next) {
  unsigned char bytes[kFreeHeaderSize];
  EncodeInt32(bytes, kStatusFree);
  EncodeInt32(bytes + kStatusSize, next);
  WriteAt(BlockOffset(n), bytes, sizeof bytes);
}

bool TBlockFile::ScansThroughWindow() const { return BlockBytes <= kMaxScanRead; }

const unsigned char* TBlockFile::ScanBlock(int32_t n) {
  if (n < WindowFirst || n >= WindowFirst + WindowCount) {
    const int32_t fit = kScanWindowBytes / BlockBytes;
    const int32_t left = Blocks - n;
    const int32_t count = fit < left ? fit : left;
    const int64_t bytes = int64_t{count} * BlockBytes;
    if (ScanWindow.size() < static_cast<size_t>(bytes)) {
      ScanWindow.resize(static_cast<size_t>(bytes));
    }
    WindowCount = 0;  // until the read has succeeded
    File->Seek(BlockOffset(n));
    File->Read(ScanWindow.data(), static_cast<int32_t>(bytes));
    WindowFirst = n;
    WindowCount = count;
  }
  return ScanWindow.data() + int64_t{n - WindowFirst} * BlockBytes;
}

void TBlockFile::DropScanWindow() {
  WindowCount = 0;
  std::vector<unsigned char>().swap(ScanWindow);
}

// From the third of a run of consecutive blocks on (a commit walking its
// write set, a view reading records in the order they were added), reads
// go through the scan window, a run of blocks per read; other reads go to
// the file, so that two neighbours met by chance cost no window's worth.
void TBlockFile::ReadBlock(int32_t n, void* buffer) {
  FailIf(n < 1 || n >= Blocks);
  ReadStreak = n == LastRead + 1 ? ReadStreak + 1 : 0;
  LastRead = n;
  const bool inWindow = n >= WindowFirst && n < WindowFirst + WindowCount;
  if (inWindow || (ReadStreak >= kStreakForWindow && ScansThroughWindow())) {
    CopyBytes(ScanBlock(n) + kStatusSize, buffer, static_cast<size_t>(RecordBytes));
    return;
  }
  File->Seek(BlockOffset(n) + kStatusSize);
  File->Read(buffer, RecordBytes);
}

void TBlockFile::WriteBlock(int32_t n, const void* buffer) {
  FailIf(n < 1 || n >= Blocks);
  WriteAt(BlockOffset(n) + kStatusSize, buffer, RecordBytes);
}

int32_t TBlockFile::AllocateBlock() { return Allocate(nullptr); }

int32_t TBlockFile::AppendRecord(const void* buffer) { return Allocate(buffer); }

int32_t TBlockFile::Allocate(const void* payload) {
  int32_t block = 0;
  if (TakeFreeHead(block, payload)) return block;
  // The list on disk is corrupt: the head block is in use (a damaged header
  // word or link, a block freed twice), has a foreign status or links out of
  // the file. The statuses are the truth, so rebuild the list from them and
  // try once more. A rebuilt list is sound; failing again is our own bug.
  RebuildFreeList();
  DropScanWindow();
  FailUnless(TakeFreeHead(block, payload));
  return block;
}

void TBlockFile::FreeBlock(int32_t n) {
  FailIf(n < 1 || n >= Blocks);
  // A block of the fresh run freed again (a caller's double free) rewrites
  // a header the run vouches for: from now on the headers are read.
  if (n >= FreshFirst && n < FreshEnd) FreshFirst = FreshEnd = 0;
  WriteFreeHeaderAt(n, FirstFree);
  FirstFree = n;
}

// A scan reads the file through the window, a run of blocks per read; the
// window is let go when the scan reaches the end.
int32_t TBlockFile::FindNextUsed(int32_t after, void* buffer) {
  FailIf(after < 0 || buffer == nullptr);
  const bool windowed = ScansThroughWindow();
  // 64-bit, so that after = INT32_MAX does not wrap.
  for (int64_t n = int64_t{after} + 1; n < Blocks; ++n) {
    int32_t block = static_cast<int32_t>(n);
    if (windowed) {
      const unsigned char* bytes = ScanBlock(block);
      if (DecodeInt32(bytes) != kStatusUsed) continue;
      CopyBytes(bytes + kStatusSize, buffer, static_cast<size_t>(RecordBytes));
      return block;
    }
    if (ReadInt32At(*File, BlockOffset(block)) != kStatusUsed) continue;
    File->Read(buffer, RecordBytes);
    return block;
  }
  DropScanWindow();
  return -1;
}

// Walks the blocks in ascending order and links every block whose status is
// not 1 to the free block found before it, so the list runs from the highest
// free block down to the lowest. Headers that already hold the right bytes
// are not rewritten; payloads are never touched.
// The window it reads through is left in place: at an open, the recovery
// scan that follows reads the same blocks.
void TBlockFile::RebuildFreeList() {
  FreshFirst = FreshEnd = 0;
  const bool windowed = ScansThroughWindow();
  int32_t previous = 0;
  for (int32_t n = 1; n < Blocks; ++n) {
    unsigned char header[kFreeHeaderSize];
    if (windowed) {
      CopyBytes(ScanBlock(n), header, sizeof header);
    } else {
      File->Seek(BlockOffset(n));
      File->Read(header, sizeof header);
    }
    int32_t status = DecodeInt32(header);
    if (status == kStatusUsed) continue;
    if (status != kStatusFree || DecodeInt32(header + kStatusSize) != previous) {
      WriteFreeHeaderAt(n, previous);
    }
    previous = n;
  }
  FirstFree = previous;
}

// Adds 16 free blocks at the end of the file, linked in ascending order
// (each to the next, the last to 0) so they are handed out in file order.
// A partial block at the end becomes the start of the first new one: its
// first 8 bytes become a free header, the rest are left as they were.
void TBlockFile::Grow() {
  int64_t oldSize = File->Size();
  int64_t start = BlockOffset(Blocks);
  int64_t newSize = start + int64_t{kGrowthBlocks} * BlockBytes;
  if (newSize > TFile::kMaxFileSize) RaiseFileFull();

  int64_t span = int64_t{kGrowthBlocks - 1} * BlockBytes + kFreeHeaderSize;
  if (span <= kMaxGrowthWrite) {
    // The new space reads as zeros once the file is extended, so a span of
    // zeros with the links filled in writes the same bytes as 16 header
    // writes would; only a partial block's old bytes must be carried over.
    std::vector<unsigned char> bytes(static_cast<size_t>(span), 0);
    int64_t tail = oldSize - start;
    if (tail > kFreeHeaderSize) {
      File->Seek(start + kFreeHeaderSize);
      File->Read(bytes.data() + kFreeHeaderSize, static_cast<int32_t>(tail - kFreeHeaderSize));
    }
    for (int32_t j = 0; j < kGrowthBlocks - 1; ++j) {
      EncodeInt32(bytes.data() + int64_t{j} * BlockBytes + kStatusSize, Blocks + j + 1);
    }
    File->SetSize(newSize);
    WriteAt(start, bytes.data(), static_cast<int32_t>(span));
  } else {
    File->SetSize(newSize);
    int32_t last = Blocks + kGrowthBlocks - 1;
    for (int32_t j = last; j >= Blocks; --j) WriteFreeHeaderAt(j, j == last ? 0 : j + 1);
  }
  FirstFree = Blocks;
  FreshFirst = Blocks;
  Blocks += kGrowthBlocks;
  FreshEnd = Blocks;
}

bool TBlockFile::TakeFreeHead(int32_t& block, const void* payload) {
  if (FirstFree == 0) Grow();
  int64_t offset = BlockOffset(FirstFree);
  int32_t next;
  if (FirstFree == FreshFirst && FreshFirst < FreshEnd) {
    // Grow wrote this header: status 0, the next block of the run or 0.
    next = FreshFirst + 1 < FreshEnd ? FreshFirst + 1 : 0;
    ++FreshFirst;
  } else {
    unsigned char header[kFreeHeaderSize];
    File->Seek(offset);
    File->Read(header, sizeof header);
    next = DecodeInt32(header + kStatusSize);
    if (DecodeInt32(header) != kStatusFree || next < 0 || next >= Blocks) return false;
  }
  block = FirstFree;
  FirstFree = next;
  // The payload first, the status last (invariant 4): a process killed
  // between the two writes leaves a free block, never one marked in use
  // over the bytes of a free block (zeros and a link, or a dead record).
  // The payload overwrites the link, which the list in memory no longer
  // needs; a crash rebuilds the list from the statuses anyway.
  if (payload != nullptr) WriteBlock(block, payload);
  WriteInt32At(offset, kStatusUsed);
  return true;
}

}  // namespace kor
