#include "engine/streams/stream_buffer.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/ref.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

// Every test must leave no engine object alive.
class StreamBufferTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), 0); }
};

// Bytes 0, 1, 2, ... (mod 251, so that chunk boundaries do not line up
// with the pattern).
std::string Pattern(int32_t size, int32_t start = 0) {
  std::string bytes(static_cast<size_t>(size), '\0');
  for (int32_t i = 0; i < size; ++i)
    bytes[static_cast<size_t>(i)] = static_cast<char>((start + i) % 251);
  return bytes;
}

void Write(TStreamBuffer& buffer, const std::string& bytes) {
  buffer.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

TEST_F(StreamBufferTest, FreshBufferIsEmpty) {
  auto buffer = MakeRef<TStreamBuffer>(4096);
  char byte = 'x';
  EXPECT_EQ(buffer->Read(&byte, 1), -1);
  EXPECT_EQ(buffer->Read(&byte, 0), -1);
  EXPECT_EQ(byte, 'x');
  EXPECT_EQ(buffer->Available(), 0);
  EXPECT_EQ(buffer->ChunkCount(), 1);
  EXPECT_EQ(buffer->ChunkSize(), 4096);
}

TEST_F(StreamBufferTest, ReadReturnsWhatIsThere) {
  auto buffer = MakeRef<TStreamBuffer>(4096);
  Write(*buffer, "abc");
  EXPECT_EQ(buffer->Available(), 3);
  char bytes[10] = {};
  EXPECT_EQ(buffer->Read(bytes, 10), 3);
  EXPECT_EQ(std::string(bytes, 3), "abc");
  EXPECT_EQ(buffer->Available(), 0);
  EXPECT_EQ(buffer->Read(bytes, 10), -1);
}

TEST_F(StreamBufferTest, ReadOfZeroOnNonEmptyBufferReturnsZero) {
  auto buffer = MakeRef<TStreamBuffer>(4096);
  Write(*buffer, "abc");
  EXPECT_EQ(buffer->Read(nullptr, 0), 0);
  EXPECT_EQ(buffer->Available(), 3);
}

TEST_F(StreamBufferTest, WriteOfZeroAppendsNothing) {
  auto buffer = MakeRef<TStreamBuffer>(4096);
  buffer->Write(nullptr, 0);
  EXPECT_EQ(buffer->Available(), 0);
  EXPECT_EQ(buffer->ChunkCount(), 1);
}

// One write of `written` bytes, then one read of `read` bytes, chunk size
// 4096: chunks held after each step, and the read's result.
struct TChunkCase {
  int32_t Written;
  int32_t ChunksAfterWrite;
  int32_t Read;
  int32_t ReadResult;
  int32_t ChunksAfterRead;
};

void PrintTo(const TChunkCase& c, std::ostream* os) { *os << c.Written << " then " << c.Read; }

class StreamBufferChunkTest : public StreamBufferTest,
                              public ::testing::WithParamInterface<TChunkCase> {};

TEST_P(StreamBufferChunkTest, GrowsAndShrinksByWholeChunks) {
  const TChunkCase& c = GetParam();
  auto buffer = MakeRef<TStreamBuffer>(4096);
  std::string data = Pattern(c.Written);
  Write(*buffer, data);
  EXPECT_EQ(buffer->Available(), c.Written);
  EXPECT_EQ(buffer->ChunkCount(), c.ChunksAfterWrite);

  std::string out(static_cast<size_t>(c.Read), '\0');
  EXPECT_EQ(buffer->Read(out.data(), c.Read), c.ReadResult);
  EXPECT_EQ(out.substr(0, static_cast<size_t>(c.ReadResult)),
            data.substr(0, static_cast<size_t>(c.ReadResult)));
  EXPECT_EQ(buffer->Available(), c.Written - c.ReadResult);
  EXPECT_EQ(buffer->ChunkCount(), c.ChunksAfterRead);
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamBufferChunkTest,
                         ::testing::Values(
                             // A chunk that fills up gets its successor at once.
                             TChunkCase{4095, 1, 4095, 4095, 1}, TChunkCase{4096, 2, 4096, 4096, 1},
                             TChunkCase{4097, 2, 4096, 4096, 1}, TChunkCase{4096, 2, 4095, 4095, 2},
                             // One read across three chunks.
                             TChunkCase{10000, 3, 10000, 10000, 1},
                             TChunkCase{10000, 3, 20000, 10000, 1},
                             TChunkCase{8192, 3, 8192, 8192, 1}));

// Interleaved writes and reads of assorted sizes against a plain string, for
// chunk sizes from 1 byte up; the order of the bytes must survive.
TEST_F(StreamBufferTest, KeepsOrderAcrossInterleavedWritesAndReads) {
  const std::vector<int32_t> sizes = {1, 2, 3, 7, 16, 17, 100, 333, 1000};
  for (int32_t chunkSize : {1, 2, 7, 16, 64, 4096}) {
    SCOPED_TRACE("chunk size " + std::to_string(chunkSize));
    auto buffer = MakeRef<TStreamBuffer>(chunkSize);
    std::string expected;
    std::string actual;
    int32_t next = 0;
    for (size_t step = 0; step < 60; ++step) {
      int32_t writeSize = sizes[step % sizes.size()];
      std::string data = Pattern(writeSize, next);
      next += writeSize;
      Write(*buffer, data);
      expected += data;
      int32_t readSize = sizes[(step * 5 + 3) % sizes.size()];
      std::string out(static_cast<size_t>(readSize), '\0');
      int32_t n = buffer->Read(out.data(), readSize);
      ASSERT_GE(n, 1);
      actual.append(out, 0, static_cast<size_t>(n));
      ASSERT_EQ(buffer->Available(), static_cast<int32_t>(expected.size() - actual.size()));
    }
    std::string rest(static_cast<size_t>(buffer->Available()), '\0');
    EXPECT_EQ(buffer->Read(rest.data(), buffer->Available()), static_cast<int32_t>(rest.size()));
    actual += rest;
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(buffer->ChunkCount(), 1);
  }
}

TEST_F(StreamBufferTest, DestructionFreesUnreadChunks) {
  auto buffer = MakeRef<TStreamBuffer>(16);
  Write(*buffer, Pattern(1000));
  EXPECT_EQ(buffer->ChunkCount(), 63);
  buffer.ReleaseLast();
}

TEST_F(StreamBufferTest, InputStreamRaisesEofWhenEmpty) {
  auto buffer = MakeRef<TStreamBuffer>(4096);
  auto stream = MakeRef<TStreamBufferInputStream>(buffer);
  char bytes[8] = {};
  EXPECT_THROW(stream->Read(bytes, 8), EInputStreamEof);
  Write(*buffer, "xyz");
  EXPECT_EQ(stream->Read(bytes, 8), 3);
  EXPECT_EQ(std::string(bytes, 3), "xyz");
  EXPECT_THROW(stream->Read(bytes, 8), EInputStreamEof);
}

TEST_F(StreamBufferTest, OutputStreamAppends) {
  auto buffer = MakeRef<TStreamBuffer>(4);
  auto stream = MakeRef<TStreamBufferOutputStream>(buffer);
  stream->Write("hello", 5);
  stream->Flush();
  EXPECT_EQ(buffer->Available(), 5);
  char bytes[5] = {};
  EXPECT_EQ(buffer->Read(bytes, 5), 5);
  EXPECT_EQ(std::string(bytes, 5), "hello");
}

TEST_F(StreamBufferTest, StreamsHoldTheirBuffer) {
  auto buffer = MakeRef<TStreamBuffer>(4096);
  auto input = MakeRef<TStreamBufferInputStream>(buffer);
  auto output = MakeRef<TStreamBufferOutputStream>(buffer);
  EXPECT_EQ(buffer->RefCount(), 3);
  input.ReleaseLast();
  output.ReleaseLast();
  EXPECT_EQ(buffer->RefCount(), 1);
}

// A negative count is a broken contract of our own caller.
struct TFatalCase {
  const char* Name;
  std::function<void(TStreamBuffer&)> Call;
};

void PrintTo(const TFatalCase& c, std::ostream* os) { *os << c.Name; }

class StreamBufferDeathTest : public ::testing::TestWithParam<TFatalCase> {};

TEST_P(StreamBufferDeathTest, NegativeCountIsFatal) {
  test::TTempDir dir;
  std::string log = dir.File("KORLIB.OUT");
  EXPECT_EXIT(
      {
        SetLogFile(log);
        auto buffer = MakeRef<TStreamBuffer>(16);
        buffer->Write("ab", 2);
        GetParam().Call(*buffer);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "");
  EXPECT_NE(test::ReadWholeFile(log).find("ErrB"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamBufferDeathTest,
                         ::testing::Values(TFatalCase{"Write",
                                                      [](TStreamBuffer& b) { b.Write("x", -1); }},
                                           TFatalCase{"Read",
                                                      [](TStreamBuffer& b) {
                                                        char byte;
                                                        b.Read(&byte, -1);
                                                      }}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace kor
