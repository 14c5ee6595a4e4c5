#include "engine/storage/block_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

std::string Word(int32_t value) {
  unsigned char bytes[4];
  EncodeInt32(bytes, value);
  return std::string(reinterpret_cast<const char*>(bytes), 4);
}

int32_t WordAt(const std::string& bytes, int64_t offset) {
  return DecodeInt32(reinterpret_cast<const unsigned char*>(bytes.data() + offset));
}

// One block of `blockSize` bytes: the two words, then zeros.
std::string Block(int32_t blockSize, int32_t status, int32_t next) {
  std::string block = Word(status) + Word(next);
  block.resize(static_cast<size_t>(blockSize), '\0');
  return block;
}

// A fresh file after its first allocation: header, block 1 in use with its
// old link, blocks 2..16 free and linked upwards.
std::string FirstGrowth(int32_t blockSize, int32_t headerWord) {
  std::string bytes = Word(headerWord) + std::string(blockSize - 4, '\0');
  bytes += Block(blockSize, 1, 2);
  for (int32_t j = 2; j <= 16; ++j) bytes += Block(blockSize, 0, j == 16 ? 0 : j + 1);
  return bytes;
}

std::string Payload(int32_t recordSize, char fill) { return std::string(recordSize, fill); }

// The first word of a file, read without loading the whole file.
int32_t HeaderWord(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char bytes[4] = {};
  in.read(bytes, 4);
  return DecodeInt32(reinterpret_cast<const unsigned char*>(bytes));
}

int64_t FileSize(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_size;
}

// Bytes the file system actually holds for the file.
int64_t AllocatedBytes(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return int64_t{info.st_blocks} * 512;
}

class BlockFileTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogFile(Dir.File("KORLIB.OUT")); }
  std::string Path() const { return Dir.File("table.dat"); }
  Ref<TBlockFile> Open(int32_t recordSize) { return MakeRef<TBlockFile>(Path(), recordSize); }

  test::TTempDir Dir;
};

TEST_F(BlockFileTest, BlockSizeIsRecordSizePlusFourAndAtLeastEight) {
  const struct {
    int32_t recordSize, blockSize;
  } cases[] = {{1, 8}, {2, 8}, {4, 8}, {5, 9}, {10, 14}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.recordSize);
    auto file = Open(c.recordSize);
    EXPECT_EQ(file->RecordSize(), c.recordSize);
    EXPECT_EQ(file->BlockSize(), c.blockSize);
    file.Reset();
    ASSERT_EQ(unlink(Path().c_str()), 0);
  }
}

TEST_F(BlockFileTest, NewFileIsOneBlockMarkedOpenUntilClosed) {
  for (int32_t recordSize : {2, 10}) {
    SCOPED_TRACE(recordSize);
    auto file = Open(recordSize);
    int32_t blockSize = file->BlockSize();
    EXPECT_EQ(file->BlockCount(), 1);
    EXPECT_EQ(file->FreeHead(), 0);
    EXPECT_EQ(test::ReadWholeFile(Path()), Word(-1) + std::string(blockSize - 4, '\0'));
    file.Reset();
    EXPECT_EQ(test::ReadWholeFile(Path()), Word(0) + std::string(blockSize - 4, '\0'));
    ASSERT_EQ(unlink(Path().c_str()), 0);
  }
}

// 70000 bytes per record is past the size for which growth prepares one
// span, so its 16 headers are written one by one; the bytes are the same.
TEST_F(BlockFileTest, GrowsBySixteenBlocksHandedOutInOrder) {
  for (int32_t recordSize : {2, 10, 70000}) {
    SCOPED_TRACE(recordSize);
    auto file = Open(recordSize);
    int32_t blockSize = file->BlockSize();
    EXPECT_EQ(file->AllocateBlock(), 1);
    EXPECT_EQ(file->BlockCount(), 17);
    EXPECT_EQ(file->FreeHead(), 2);
    EXPECT_EQ(test::ReadWholeFile(Path()), FirstGrowth(blockSize, -1));
    for (int32_t n = 2; n <= 16; ++n) EXPECT_EQ(file->AllocateBlock(), n);
    EXPECT_EQ(file->FreeHead(), 0);
    EXPECT_EQ(file->BlockCount(), 17);
    EXPECT_EQ(file->AllocateBlock(), 17);
    EXPECT_EQ(file->BlockCount(), 33);
    EXPECT_EQ(file->FreeHead(), 18);
    std::string bytes = test::ReadWholeFile(Path());
    ASSERT_EQ(bytes.size(), 33u * blockSize);
    EXPECT_EQ(bytes.substr(17 * blockSize, blockSize), Block(blockSize, 1, 18));
    EXPECT_EQ(bytes.substr(31 * blockSize, blockSize), Block(blockSize, 0, 32));
    EXPECT_EQ(bytes.substr(32 * blockSize, blockSize), Block(blockSize, 0, 0));
    file.Reset();
    EXPECT_EQ(HeaderWord(Path()), 18);
    ASSERT_EQ(unlink(Path().c_str()), 0);
  }
}

TEST_F(BlockFileTest, FreedBlocksAreReusedLastInFirstOut) {
  auto file = Open(2);
  for (int32_t n = 1; n <= 3; ++n) EXPECT_EQ(file->AllocateBlock(), n);
  file->FreeBlock(2);
  file->FreeBlock(1);
  EXPECT_EQ(file->FreeHead(), 1);
  std::string bytes = test::ReadWholeFile(Path());
  EXPECT_EQ(bytes.substr(8, 8), Block(8, 0, 2));
  EXPECT_EQ(bytes.substr(16, 8), Block(8, 0, 4));
  EXPECT_EQ(file->AllocateBlock(), 1);
  EXPECT_EQ(file->AllocateBlock(), 2);
  EXPECT_EQ(file->AllocateBlock(), 4);
}

TEST_F(BlockFileTest, CleanCloseWritesTheHeadAndReopenKeepsTheList) {
  auto file = Open(10);
  for (int32_t n = 1; n <= 3; ++n) file->AllocateBlock();
  file->FreeBlock(2);
  file.Reset();
  EXPECT_EQ(HeaderWord(Path()), 2);
  file = Open(10);
  EXPECT_EQ(file->BlockCount(), 17);
  EXPECT_EQ(file->FreeHead(), 2);
  EXPECT_EQ(HeaderWord(Path()), -1);
  EXPECT_EQ(file->AllocateBlock(), 2);
  EXPECT_EQ(file->AllocateBlock(), 4);
}

TEST_F(BlockFileTest, UncleanCloseRebuildsTheListDescendingAndKeepsRecords) {
  auto file = Open(10);
  for (char c = 'a'; c <= 'e'; ++c) file->AppendRecord(Payload(10, c).data());
  file->FreeBlock(2);
  file->FreeBlock(4);
  // A copy taken while the file is open is what a crash leaves behind.
  std::string crashed = Dir.File("crashed.dat");
  std::string before = test::ReadWholeFile(Path());
  ASSERT_EQ(WordAt(before, 0), -1);
  test::WriteWholeFile(crashed, before);

  auto reopened = MakeRef<TBlockFile>(crashed, 10);
  EXPECT_EQ(reopened->BlockCount(), 17);
  EXPECT_EQ(reopened->FreeHead(), 16);
  std::string after = test::ReadWholeFile(crashed);
  EXPECT_EQ(WordAt(after, 0), -1);
  int32_t previous = 0;
  for (int32_t n = 1; n <= 16; ++n) {
    SCOPED_TRACE(n);
    std::string block = after.substr(n * 14, 14);
    if (n == 1 || n == 3 || n == 5) {
      EXPECT_EQ(block, before.substr(n * 14, 14));
      continue;
    }
    EXPECT_EQ(WordAt(block, 0), 0);
    EXPECT_EQ(WordAt(block, 4), previous);
    previous = n;
  }
  reopened.Reset();
  EXPECT_EQ(HeaderWord(crashed), 16);
}

// Record size 4, block size 8. Every header word here makes the open rebuild
// the list; every status but 1 is free, and only headers that differ from
// the rebuilt list are rewritten.
TEST_F(BlockFileTest, RebuildTreatsEveryStatusButOneAsFree) {
  for (int32_t headerWord : {-1, -7, 6, 99, INT32_MIN}) {
    SCOPED_TRACE(headerWord);
    std::string blocks[] = {
        Word(headerWord) + Word(0), Word(1) + "rec1", Word(0) + Word(5),
        Word(7) + Word(9),          Word(1) + "rec4", Word(-3) + Word(0),
    };
    std::string original;
    for (const auto& b : blocks) original += b;
    test::WriteWholeFile(Path(), original);

    auto file = Open(4);
    EXPECT_EQ(file->BlockCount(), 6);
    EXPECT_EQ(file->FreeHead(), 5);
    EXPECT_EQ(test::ReadWholeFile(Path()), Word(-1) + Word(0) + blocks[1] + Block(8, 0, 0) +
                                               Block(8, 0, 2) + blocks[4] + Block(8, 0, 3));
    EXPECT_EQ(file->AllocateBlock(), 5);
    EXPECT_EQ(file->AllocateBlock(), 3);
    EXPECT_EQ(file->AllocateBlock(), 2);
    EXPECT_EQ(file->AllocateBlock(), 6);
  }
}

// A list that is corrupt although the file was closed cleanly: the bad
// block is found when it reaches the head, the list is rebuilt from the
// statuses and no block in use is handed out.
TEST_F(BlockFileTest, CorruptListNeverHandsOutABlockInUse) {
  const struct {
    const char* name;
    int32_t headerWord;
    std::string block2, block3;
    std::vector<int32_t> allocations;
  } cases[] = {
      {"head at a block in use", 1, Block(8, 0, 0), Block(8, 1, 0), {2, 4}},
      {"link to a block in use", 2, Block(8, 0, 1), Block(8, 1, 0), {2, 4}},
      {"link out of the file", 2, Block(8, 0, 50), Block(8, 0, 0), {3, 2, 4}},
      {"negative link", 2, Block(8, 0, -2), Block(8, 0, 0), {3, 2, 4}},
      {"foreign status at the head", 3, Block(8, 0, 0), Block(8, 5, 0), {3, 2, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A record whose first bytes read as a valid link: only its status
    // tells that block 1 is in use.
    std::string used1 = Block(8, 1, 3);
    test::WriteWholeFile(Path(), Block(8, c.headerWord, 0) + used1 + c.block2 + c.block3);
    auto file = Open(4);
    EXPECT_EQ(file->FreeHead(), c.headerWord);
    for (int32_t expected : c.allocations) EXPECT_EQ(file->AllocateBlock(), expected);
    EXPECT_EQ(test::ReadWholeFile(Path()).substr(8, 8), used1);
  }
}

TEST_F(BlockFileTest, BlockFreedTwiceIsHandedOutOnce) {
  auto file = Open(2);
  EXPECT_EQ(file->AllocateBlock(), 1);
  EXPECT_EQ(file->AllocateBlock(), 2);
  file->FreeBlock(1);
  file->FreeBlock(1);  // the list is now 1 -> 1
  EXPECT_EQ(file->AllocateBlock(), 1);
  // Block 1 is in use at the head: the list is rebuilt, highest free first.
  EXPECT_EQ(file->AllocateBlock(), 16);
  EXPECT_EQ(file->AllocateBlock(), 15);
}

TEST_F(BlockFileTest, PartialTrailingBlockIsNotCountedAndGrowthOverwritesIt) {
  const struct {
    int32_t recordSize;
    std::string tail;
  } cases[] = {
      {4, "ABCDE"},                    // shorter than a free header
      {10, "ABCDEFGHIJKL"},            // the bytes past the header stay
      {70000, std::string(100, 'x')},  // headers written one by one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.recordSize);
    int32_t blockSize = c.recordSize + 4 < 8 ? 8 : c.recordSize + 4;
    std::string header = Word(0) + std::string(blockSize - 4, '\0');
    test::WriteWholeFile(Path(), header + c.tail);
    auto file = Open(c.recordSize);
    EXPECT_EQ(file->BlockCount(), 1);
    EXPECT_EQ(file->FreeHead(), 0);
    EXPECT_EQ(FileSize(Path()), blockSize + static_cast<int64_t>(c.tail.size()));

    EXPECT_EQ(file->AllocateBlock(), 1);
    std::string expected = FirstGrowth(blockSize, -1);
    for (size_t i = 8; i < c.tail.size(); ++i) expected[blockSize + i] = c.tail[i];
    EXPECT_EQ(test::ReadWholeFile(Path()), expected);
    file.Reset();
    ASSERT_EQ(unlink(Path().c_str()), 0);
  }
}

// 70000 bytes per record reads each status before its payload.
TEST_F(BlockFileTest, FindNextUsedWalksRecordsInBlockOrder) {
  for (int32_t recordSize : {2, 10, 70000}) {
    SCOPED_TRACE(recordSize);
    auto file = Open(recordSize);
    std::string buffer(recordSize, '?');
    EXPECT_EQ(file->FindNextUsed(0, buffer.data()), -1);
    for (char c = 'a'; c <= 'e'; ++c) file->AppendRecord(Payload(recordSize, c).data());
    EXPECT_EQ(file->FindNextUsed(0, buffer.data()), 1);
    file->FreeBlock(2);
    file->FreeBlock(4);
    std::vector<std::pair<int32_t, std::string>> seen;
    for (int32_t n = file->FindNextUsed(0, buffer.data()); n != -1;
         n = file->FindNextUsed(n, buffer.data())) {
      seen.emplace_back(n, buffer);
    }
    std::vector<std::pair<int32_t, std::string>> expected = {{1, Payload(recordSize, 'a')},
                                                             {3, Payload(recordSize, 'c')},
                                                             {5, Payload(recordSize, 'e')}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(file->FindNextUsed(16, buffer.data()), -1);
    EXPECT_EQ(file->FindNextUsed(INT32_MAX, buffer.data()), -1);
    file.Reset();
    ASSERT_EQ(unlink(Path().c_str()), 0);
  }
}

// Invariant 5: a scan reads runs of blocks at once, and what is written
// while it runs (a freed block, a rewritten record, an append into a freed
// block ahead of it) is what it reads. 4000-byte records put 65 blocks in
// a window, so 200 records take several.
TEST_F(BlockFileTest, ScanReadsWhatWasWrittenWhileItRan) {
  constexpr int32_t kRecordSize = 4000;
  auto file = Open(kRecordSize);
  std::vector<std::string> records(201);
  for (int32_t n = 1; n <= 200; ++n) {
    records[n] = Payload(kRecordSize, static_cast<char>('!' + n % 90));
    ASSERT_EQ(file->AppendRecord(records[n].data()), n);
  }
  std::string buffer(kRecordSize, '?');
  ASSERT_EQ(file->FindNextUsed(0, buffer.data()), 1);
  file->FreeBlock(3);
  file->FreeBlock(130);
  records[5] = Payload(kRecordSize, 'X');
  file->WriteBlock(5, records[5].data());
  records[150] = Payload(kRecordSize, 'Z');
  file->WriteBlock(150, records[150].data());
  records[130] = Payload(kRecordSize, 'Y');
  ASSERT_EQ(file->AppendRecord(records[130].data()), 130);  // the head of the list
  std::vector<int32_t> seen;
  for (int32_t n = 1; n != -1; n = file->FindNextUsed(n, buffer.data())) {
    if (n > 1) {
      EXPECT_EQ(buffer, records[n]) << "block " << n;
    }
    seen.push_back(n);
  }
  std::vector<int32_t> expected;
  for (int32_t n = 1; n <= 200; ++n) {
    if (n != 3) expected.push_back(n);
  }
  EXPECT_EQ(seen, expected);
  // A new scan after the end reads the file afresh.
  EXPECT_EQ(file->FindNextUsed(129, buffer.data()), 130);
  EXPECT_EQ(buffer, records[130]);
}

// Consecutive ReadBlock calls go through the window from the third on;
// what is written meanwhile is what they read.
TEST_F(BlockFileTest, ConsecutiveReadsSeeWhatWasWrittenMeanwhile) {
  constexpr int32_t kRecordSize = 4000;
  auto file = Open(kRecordSize);
  std::vector<std::string> records(201);
  for (int32_t n = 1; n <= 200; ++n) {
    records[n] = Payload(kRecordSize, static_cast<char>('!' + n % 90));
    ASSERT_EQ(file->AppendRecord(records[n].data()), n);
  }
  std::string buffer(kRecordSize, '?');
  for (int32_t n = 1; n <= 200; ++n) {
    if (n == 4) {
      records[10] = Payload(kRecordSize, 'X');
      file->WriteBlock(10, records[10].data());
      file->FreeBlock(11);
      records[11] = Payload(kRecordSize, 'Y');
      ASSERT_EQ(file->AppendRecord(records[11].data()), 11);
    }
    file->ReadBlock(n, buffer.data());
    EXPECT_EQ(buffer, records[n]) << "block " << n;
  }
  file->ReadBlock(10, buffer.data());  // out of the run, from the window
  EXPECT_EQ(buffer, records[10]);
}

// Blocks of a growth are handed out without reading their headers back,
// until one of them is written by other means: a block of the run freed
// again (a double free) makes the headers count once more.
TEST_F(BlockFileTest, FreshBlocksFreedTwiceAreNotHandedOutTwice) {
  auto file = Open(2);
  EXPECT_EQ(file->AllocateBlock(), 1);
  file->FreeBlock(5);  // 5 was never handed out: the list is 5 -> 2 -> 3 ...
  EXPECT_EQ(file->AllocateBlock(), 5);
  EXPECT_EQ(file->AllocateBlock(), 2);
  EXPECT_EQ(file->AllocateBlock(), 3);
  EXPECT_EQ(file->AllocateBlock(), 4);
  // Block 5 is in use at the head: the list is rebuilt, highest free first.
  EXPECT_EQ(file->AllocateBlock(), 16);
  EXPECT_EQ(file->AllocateBlock(), 15);
  std::string bytes = test::ReadWholeFile(Path());
  for (int32_t n : {1, 2, 3, 4, 5, 15, 16}) EXPECT_EQ(WordAt(bytes, n * 8), 1) << n;
  for (int32_t n = 6; n <= 14; ++n) EXPECT_EQ(WordAt(bytes, n * 8), 0) << n;
}

TEST_F(BlockFileTest, RecordBytesFollowTheirStatusWord) {
  auto file = Open(10);
  int32_t n = file->AppendRecord("0123456789");
  file->WriteBlock(n, "abcdefghij");
  char buffer[10];
  file->ReadBlock(n, buffer);
  EXPECT_EQ(std::string(buffer, 10), "abcdefghij");
  EXPECT_EQ(test::ReadWholeFile(Path()).substr(14, 14), Word(1) + "abcdefghij");
}

// A block file whose process dies in the middle of writing a record, as a
// SIGKILL between two writes would leave it.
class TDyingBlockFile final : public TBlockFile {
 public:
  using TBlockFile::TBlockFile;
  void WriteBlock(int32_t /*n*/, const void* /*buffer*/) override { _exit(0); }
};

// Invariant 4: an append cut short before its record is written leaves the
// block free, whether it was a fresh block (zeros and a link, which read
// as a record of nulls) or a reused one (the bytes of a dead record).
TEST_F(BlockFileTest, AnAppendCutShortLeavesTheBlockFree) {
  for (bool reused : {false, true}) {
    SCOPED_TRACE(reused ? "reused block" : "fresh block");
    {
      auto file = Open(10);
      ASSERT_EQ(file->AppendRecord("kept......"), 1);
      if (reused) {
        ASSERT_EQ(file->AppendRecord("dead......"), 2);
        file->FreeBlock(2);
      }
    }
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      auto file = MakeRef<TDyingBlockFile>(Path(), 10);
      file->AppendRecord("new.......");
      _exit(1);  // not reached: the write above ends the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(HeaderWord(Path()), -1);

    auto file = Open(10);
    char buffer[10];
    EXPECT_EQ(file->FindNextUsed(0, buffer), 1);
    EXPECT_EQ(std::string(buffer, 10), "kept......");
    EXPECT_EQ(file->FindNextUsed(1, buffer), -1);
    EXPECT_GT(file->AppendRecord("again....."), 1);
    file.Reset();
    ASSERT_EQ(unlink(Path().c_str()), 0);
  }
}

TEST_F(BlockFileTest, SecondOpenFailsInThisProcessAndAnother) {
  auto file = Open(10);
  EXPECT_THROW(Open(10), EFileOpenError);

  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    int code = 1;
    try {
      Open(10);
    } catch (const EFileOpenError&) {
      code = 0;
    } catch (...) {
      code = 2;
    }
    _exit(code);  // no destructors: the parent's objects are copies here
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(HeaderWord(Path()), -1);

  file.Reset();
  EXPECT_NO_THROW(Open(10));
}

// The files here are sparse: a correct implementation writes only headers,
// so the disk holds next to nothing of their nominal size.
TEST_F(BlockFileTest, GrowthPastTheSizeLimitFailsWithNothingChanged) {
  constexpr int32_t kRecordSize = 128 << 20;  // 17 blocks pass 2^31 - 1 bytes
  auto file = Open(kRecordSize);
  EXPECT_EQ(FileSize(Path()), kRecordSize + 4);
  EXPECT_THROW(file->AllocateBlock(), EFileFullError);
  EXPECT_EQ(file->BlockCount(), 1);
  EXPECT_EQ(file->FreeHead(), 0);
  EXPECT_EQ(FileSize(Path()), kRecordSize + 4);
  EXPECT_LT(AllocatedBytes(Path()), 1 << 20);
  file.Reset();
  EXPECT_EQ(HeaderWord(Path()), 0);
}

TEST_F(BlockFileTest, GrowthPastTheSizeLimitAfterAnEarlierGrowth) {
  constexpr int32_t kRecordSize = 64 << 20;  // 17 blocks fit, 33 do not
  auto file = Open(kRecordSize);
  for (int32_t n = 1; n <= 16; ++n) EXPECT_EQ(file->AllocateBlock(), n);
  int64_t size = FileSize(Path());
  EXPECT_EQ(size, 17 * int64_t{kRecordSize + 4});
  EXPECT_THROW(file->AllocateBlock(), EFileFullError);
  EXPECT_EQ(file->BlockCount(), 17);
  EXPECT_EQ(FileSize(Path()), size);
  EXPECT_LT(AllocatedBytes(Path()), 1 << 20);
  file->FreeBlock(5);
  EXPECT_EQ(file->AllocateBlock(), 5);
}

TEST_F(BlockFileTest, FileLargerThanTheSizeLimitIsRefusedUntouched) {
  test::WriteWholeFile(Path(), Word(3) + "more");
  ASSERT_EQ(truncate(Path().c_str(), TFile::kMaxFileSize + 1), 0);
  EXPECT_THROW(Open(10), EFileFullError);
  EXPECT_EQ(HeaderWord(Path()), 3);
  EXPECT_EQ(FileSize(Path()), TFile::kMaxFileSize + 1);
}

TEST_F(BlockFileTest, CallerBugsAreFatal) {
  for (int32_t recordSize : {0, -1, INT32_MIN, INT32_MAX - 3, INT32_MAX}) {
    SCOPED_TRACE(recordSize);
    EXPECT_EXIT(Open(recordSize), ::testing::ExitedWithCode(kFatalExitCode), "");
  }
  auto file = Open(10);
  file->AllocateBlock();
  char buffer[10] = {};
  EXPECT_EXIT(file->FindNextUsed(-1, buffer), ::testing::ExitedWithCode(kFatalExitCode), "");
  EXPECT_EXIT(file->FreeBlock(0), ::testing::ExitedWithCode(kFatalExitCode), "");
  EXPECT_EXIT(file->FreeBlock(17), ::testing::ExitedWithCode(kFatalExitCode), "");
  EXPECT_EXIT(file->ReadBlock(0, buffer), ::testing::ExitedWithCode(kFatalExitCode), "");
  EXPECT_EXIT(file->WriteBlock(-1, buffer), ::testing::ExitedWithCode(kFatalExitCode), "");
}

}  // namespace
}  // namespace kor
