#include "engine/streams/container_reading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/containers.h"
#include "engine/base/exceptions.h"
#include "engine/base/ref.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/stream_buffer.h"

#include "tests/support/wire.h"

namespace kor {
namespace {

using test::Int;

// A binary reader over the given bytes, through a stream buffer as in a
// session.
Ref<TReader> WireReader(const std::string& bytes) {
  Ref<TStreamBuffer> buffer = MakeRef<TStreamBuffer>(16);
  buffer->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  return MakeRef<TBinStreamReader>(MakeRef<TStreamBufferInputStream>(buffer));
}

class ContainerReadingTest : public ::testing::Test {
 protected:
  void SetUp() override { LiveAtStart = TZObject::LiveObjectCount(); }
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart); }

  int32_t LiveAtStart = 0;
};

TEST_F(ContainerReadingTest, IntegerMatrixReadsACountThenThatManyValues) {
  Ref<TReader> reader = WireReader(Int(3) + Int(10) + Int(20) + Int(30) + Int(99));
  Ref<TIntegerMatrix> matrix = ReadIntegerMatrix(*reader);
  ASSERT_EQ(matrix->Count(), 3);
  EXPECT_EQ(matrix->Get(1), 10);
  EXPECT_EQ(matrix->Get(2), 20);
  EXPECT_EQ(matrix->Get(3), 30);
  EXPECT_EQ(matrix->RefCount(), 1);
  EXPECT_EQ(reader->ReadInteger(), 99);  // borrowed: the reader goes on
  matrix.ReleaseLast();

  Ref<TIntegerMatrix> empty = ReadIntegerMatrix(*WireReader(Int(0)));
  EXPECT_EQ(empty->Count(), 0);
}

TEST_F(ContainerReadingTest, BadIntegerMatrixInputLeavesNoMatrixAlive) {
  struct TCase {
    const char* Name;
    std::string Bytes;
  };
  const TCase cases[] = {
      {"count -1", Int(-1) + Int(10)},
      {"values missing", Int(3) + Int(10) + Int(20)},
      // A huge count with no values behind it allocates nothing up front.
      {"huge count", Int(INT32_MAX) + Int(1)},
      {"no count", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Ref<TReader> reader = WireReader(c.Bytes);
    int32_t live = TZObject::LiveObjectCount();
    EXPECT_THROW(ReadIntegerMatrix(*reader), EReaderSyntaxError);
    EXPECT_EQ(TZObject::LiveObjectCount(), live);
    EXPECT_EQ(reader->RefCount(), 1);
  }
}

TEST_F(ContainerReadingTest, ReadIndexFindsANameOrRaises) {
  Ref<TIntegerVector> vector = MakeRef<TIntegerVector>();
  for (const char* name : {"ALPHA", "BETA", "beta"}) vector->Add(name, 0);
  struct TCase {
    std::string Name;
    int32_t Position;  // -1: EReaderSyntaxError
  };
  const TCase cases[] = {{"alpha", 1}, {"Beta", 2}, {"gamma", -1}, {"", -1}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Ref<TReader> reader = WireReader(test::Str(c.Name));
    if (c.Position == -1) {
      EXPECT_THROW(ReadIndex(*vector, *reader), EReaderSyntaxError);
    } else {
      EXPECT_EQ(ReadIndex(*vector, *reader), c.Position);
    }
  }
  EXPECT_THROW(ReadIndex(*vector, *WireReader(Int(5) + "AL")), EReaderEof);
}

TEST_F(ContainerReadingTest, ReadIndexNumberAcceptsOnlyPositionsOfTheVector) {
  Ref<TObjectVector> vector = MakeRef<TObjectVector>();
  EXPECT_THROW(ReadIndexNumber(*vector, *WireReader(Int(1))), EReaderSyntaxError);
  vector->Add("ONE", MakeRef<TIntegerStack>());
  vector->Add("TWO", MakeRef<TIntegerStack>());
  struct TCase {
    int32_t Number;
    bool Valid;
  };
  const TCase cases[] = {{1, true}, {2, true}, {0, false}, {3, false}, {-1, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Number);
    Ref<TReader> reader = WireReader(Int(c.Number));
    if (c.Valid) {
      EXPECT_EQ(ReadIndexNumber(*vector, *reader), c.Number);
    } else {
      EXPECT_THROW(ReadIndexNumber(*vector, *reader), EReaderSyntaxError);
    }
  }
}

TEST_F(ContainerReadingTest, ReadHandleAcceptsOnlyLiveHandles) {
  Ref<TObjectHolder> holder = MakeRef<TObjectHolder>();
  holder->Add(MakeRef<TIntegerStack>());
  holder->Add(MakeRef<TIntegerStack>());
  holder->Remove(1);
  struct TCase {
    int32_t Handle;
    bool Valid;
  };
  const TCase cases[] = {
      {2, true}, {0, false}, {1, false}, {3, false}, {-5, false}, {INT32_MAX, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Handle);
    Ref<TReader> reader = WireReader(Int(c.Handle));
    if (c.Valid) {
      EXPECT_EQ(ReadHandle(*holder, *reader), c.Handle);
    } else {
      EXPECT_THROW(ReadHandle(*holder, *reader), EReaderSyntaxError);
    }
  }
}

}  // namespace
}  // namespace kor
