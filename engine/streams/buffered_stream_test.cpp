#include "engine/streams/buffered_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

class BufferedStreamTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), 0); }
};

std::string Pattern(int32_t size) {
  std::string bytes(static_cast<size_t>(size), '\0');
  for (int32_t i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(i % 253);
  return bytes;
}

// A source over fixed bytes that records the count of every Read it gets
// and delivers as much of it as it has, like a file.
class TCountingSource final : public TInputStream {
 public:
  explicit TCountingSource(std::string data) : Data(std::move(data)) {}
  int32_t Read(void* buffer, int32_t count) override {
    Requests.push_back(count);
    if (Offset == Data.size()) throw EInputStreamEof();
    size_t n = std::min(static_cast<size_t>(count), Data.size() - Offset);
    memcpy(buffer, Data.data() + Offset, n);
    Offset += n;
    return static_cast<int32_t>(n);
  }
  std::vector<int32_t> Requests;

 private:
  std::string Data;
  size_t Offset = 0;
};

// A sink that records the size of every Write and every Flush.
class TCountingSink final : public TOutputStream {
 public:
  void Write(const void* buffer, int32_t count) override {
    Writes.push_back(count);
    Bytes.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
  }
  void Flush() override { ++Flushes; }
  std::vector<int32_t> Writes;
  std::string Bytes;
  int Flushes = 0;
};

using Sizes = std::vector<int32_t>;

TEST_F(BufferedStreamTest, FirstSmallReadFillsTheBuffer) {
  auto source = MakeRef<TCountingSource>(Pattern(3000));
  auto stream = MakeRef<TBufferedInputStream>(source, 1024);
  std::string data = Pattern(3000);
  std::string out(3000, '\0');

  EXPECT_EQ(stream->Read(out.data(), 1), 1);
  EXPECT_EQ(source->Requests, Sizes({1024}));
  // The rest of the buffer comes without a source call.
  EXPECT_EQ(stream->Read(out.data() + 1, 2000), 1023);
  EXPECT_EQ(source->Requests, Sizes({1024}));
  // Exhausted, and at least a buffer's worth asked: straight from the source.
  EXPECT_EQ(stream->Read(out.data() + 1024, 2000), 1976);
  EXPECT_EQ(source->Requests, Sizes({1024, 2000}));
  EXPECT_EQ(out, data);
  EXPECT_THROW(stream->Read(out.data(), 1), EInputStreamEof);
}

// Reads of one size through a 1024-byte buffer over 3000 bytes: the source
// calls they cause.
struct TReadCase {
  int32_t ReadSize;
  Sizes Requests;
};

void PrintTo(const TReadCase& c, std::ostream* os) { *os << "reads of " << c.ReadSize; }

class BufferedInputTest : public BufferedStreamTest,
                          public ::testing::WithParamInterface<TReadCase> {};

TEST_P(BufferedInputTest, DeliversEveryByteInOrder) {
  const TReadCase& c = GetParam();
  auto source = MakeRef<TCountingSource>(Pattern(3000));
  auto stream = MakeRef<TBufferedInputStream>(source, 1024);
  std::string out;
  std::string chunk(static_cast<size_t>(c.ReadSize), '\0');
  try {
    for (;;) {
      int32_t n = stream->Read(chunk.data(), c.ReadSize);
      ASSERT_GE(n, 1);
      ASSERT_LE(n, c.ReadSize);
      out.append(chunk, 0, static_cast<size_t>(n));
    }
  } catch (const EInputStreamEof&) {
  }
  EXPECT_EQ(out, Pattern(3000));
  EXPECT_EQ(source->Requests, c.Requests);
}

INSTANTIATE_TEST_SUITE_P(Cases, BufferedInputTest,
                         ::testing::Values(TReadCase{1, {1024, 1024, 1024, 1024}},
                                           TReadCase{1000, {1024, 1024, 1024, 1024}},
                                           TReadCase{1023, {1024, 1024, 1024, 1024}},
                                           TReadCase{1024, {1024, 1024, 1024, 1024}},
                                           TReadCase{2000, {2000, 2000, 2000}},
                                           TReadCase{5000, {5000, 5000}}));

// Writes through a 4096-byte buffer: the sink's Write sizes before Flush,
// and those Flush adds.
struct TWriteCase {
  Sizes Writes;
  Sizes BeforeFlush;
  Sizes ByFlush;
};

void PrintTo(const TWriteCase& c, std::ostream* os) {
  *os << "writes";
  for (int32_t size : c.Writes) *os << ' ' << size;
}

class BufferedOutputTest : public BufferedStreamTest,
                           public ::testing::WithParamInterface<TWriteCase> {};

TEST_P(BufferedOutputTest, HandsBytesOnInWholeBuffersOrDirectly) {
  const TWriteCase& c = GetParam();
  auto sink = MakeRef<TCountingSink>();
  auto stream = MakeRef<TBufferedOutputStream>(sink, 4096);
  std::string written;
  for (int32_t size : c.Writes) {
    std::string data = Pattern(size);
    stream->Write(data.data(), size);
    written += data;
  }
  EXPECT_EQ(sink->Writes, c.BeforeFlush);
  EXPECT_EQ(sink->Flushes, 0);

  stream->Flush();
  Sizes all = c.BeforeFlush;
  all.insert(all.end(), c.ByFlush.begin(), c.ByFlush.end());
  EXPECT_EQ(sink->Writes, all);
  EXPECT_EQ(sink->Flushes, 1);
  EXPECT_EQ(sink->Bytes, written);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferedOutputTest,
    ::testing::Values(
        // Small writes wait for Flush.
        TWriteCase{{10}, {}, {10}}, TWriteCase{{4095}, {}, {4095}}, TWriteCase{{1, 2, 3}, {}, {6}},
        // A buffer's worth or more into the empty buffer: one
        // sink call.
        TWriteCase{{5000}, {5000}, {}}, TWriteCase{{4096}, {4096}, {}},
        // Filling the buffer sends it; the rest waits or goes
        // on directly.
        TWriteCase{{4000, 96}, {4096}, {}}, TWriteCase{{4000, 200}, {4096}, {104}},
        TWriteCase{{4000, 5000}, {4096, 4904}, {}}, TWriteCase{{10, 8182}, {4096, 4096}, {}},
        TWriteCase{{10, 5000, 7}, {4096}, {921}}));

TEST_F(BufferedStreamTest, FlushOfEmptyBufferOnlyFlushesTheSink) {
  auto sink = MakeRef<TCountingSink>();
  auto stream = MakeRef<TBufferedOutputStream>(sink, 4096);
  stream->Flush();
  EXPECT_EQ(sink->Writes, Sizes{});
  EXPECT_EQ(sink->Flushes, 1);
}

TEST_F(BufferedStreamTest, DestructionDoesNotFlush) {
  auto sink = MakeRef<TCountingSink>();
  auto stream = MakeRef<TBufferedOutputStream>(sink, 4096);
  stream->Write("0123456789", 10);
  EXPECT_EQ(sink->RefCount(), 2);
  stream.ReleaseLast();
  EXPECT_EQ(sink->RefCount(), 1);
  EXPECT_EQ(sink->Writes, Sizes{});
  EXPECT_EQ(sink->Flushes, 0);
}

// Counts below 1 are a broken contract of our own caller.
TEST(BufferedStreamDeathTest, CountOfZeroIsFatal) {
  test::TTempDir dir;
  std::string log = dir.File("KORLIB.OUT");
  EXPECT_EXIT(
      {
        SetLogFile(log);
        auto stream = MakeRef<TBufferedInputStream>(MakeRef<TCountingSource>("abc"), 16);
        char byte;
        stream->Read(&byte, 0);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "");
  EXPECT_NE(test::ReadWholeFile(log).find("ErrB"), std::string::npos);
  EXPECT_EXIT(
      {
        SetLogFile(log);
        auto stream = MakeRef<TBufferedOutputStream>(MakeRef<TCountingSink>(), 16);
        stream->Write("x", 0);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "");
}

}  // namespace
}  // namespace kor
