#include "engine/protocol/protocol_executor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/numeric.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/stream_buffer.h"

#include "engine/protocol/protocol_codes.h"

#include "tests/support/database_fixture.h"
#include "tests/support/temp_dir.h"

namespace kor {
namespace {

std::string Int(int32_t value) {
  unsigned char bytes[4];
  EncodeInt32(bytes, value);
  return std::string(reinterpret_cast<char*>(bytes), 4);
}

// An engine with no tables over a small database in `dir`.
Ref<TEngine> SmallEngine(const test::TTempDir& dir) {
  return TEngine::Build(test::SmallDatabase(dir));
}

// An executor over two in-memory pipes, as the in-process session builds it.
class ProtocolExecutorTest : public ::testing::Test {
 protected:
  ProtocolExecutorTest()
      : Requests(MakeRef<TStreamBuffer>(4096)),
        Replies(MakeRef<TStreamBuffer>(4096)),
        Executor(MakeRef<TProtocolExecutor>(
            SmallEngine(Dir),
            MakeRef<TBinStreamReader>(MakeRef<TStreamBufferInputStream>(Requests)),
            MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(Replies)))) {}

  void Send(const std::string& bytes) {
    Requests->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  std::string Reply() {
    std::string bytes(static_cast<size_t>(Replies->Available()), '\0');
    if (!bytes.empty()) Replies->Read(bytes.data(), static_cast<int32_t>(bytes.size()));
    return bytes;
  }

  test::TTempDir Dir;
  Ref<TStreamBuffer> Requests;
  Ref<TStreamBuffer> Replies;
  Ref<TProtocolExecutor> Executor;
};

TEST_F(ProtocolExecutorTest, CloseSessionRepliesTheOpenObjectsMaskAndStops) {
  Send(Int(1) + Int(26));
  EXPECT_TRUE(Executor->Step());
  EXPECT_TRUE(Executor->Stopped());
  EXPECT_EQ(Reply(), Int(0));
  EXPECT_FALSE(Executor->Step());
  EXPECT_EQ(Requests->Available(), 4);  // nothing more is read
}

TEST_F(ProtocolExecutorTest, FlushAndNoOperationWriteNothing) {
  Send(Int(2) + Int(26));
  EXPECT_TRUE(Executor->Step());
  EXPECT_TRUE(Executor->Step());
  EXPECT_EQ(Reply(), "");
  EXPECT_FALSE(Executor->Stopped());
  // The end of the request bytes ends the session.
  EXPECT_FALSE(Executor->Step());
  EXPECT_TRUE(Executor->Stopped());
}

TEST(ProtocolExecutorCodes, BadOrTruncatedRequestsEndTheSessionWithoutAReply) {
  const std::string requests[] = {
      Int(0),
      Int(-1),
      Int(32),
      Int(INT32_MIN),
      std::string("\x01\x00", 2),
      "",
      // Codes of commands this build does not serve yet.
      Int(3),
      Int(31),
  };
  test::TTempDir dir;
  for (const std::string& request : requests) {
    auto requestPipe = MakeRef<TStreamBuffer>(4096);
    auto replyPipe = MakeRef<TStreamBuffer>(4096);
    auto executor = MakeRef<TProtocolExecutor>(
        SmallEngine(dir), MakeRef<TBinStreamReader>(MakeRef<TStreamBufferInputStream>(requestPipe)),
        MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(replyPipe)));
    requestPipe->Write(request.data(), static_cast<int32_t>(request.size()));
    EXPECT_FALSE(executor->Step()) << request.size();
    EXPECT_TRUE(executor->Stopped());
    EXPECT_EQ(replyPipe->Available(), 0);
  }
}

}  // namespace
}  // namespace kor
