#include "engine/tables/field_type.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/stream_buffer.h"
#include "engine/streams/text_stream_reader.h"

#include "tests/support/reader_cases.h"
#include "tests/support/string_stream.h"

namespace kor {
namespace {

using test::Int;
using test::RaisedClass;
using test::TextReader;

// The wire bytes WriteFieldType writes for `fieldType`.
std::string WrittenBytes(const TFieldType& fieldType) {
  Ref<TStreamBuffer> buffer = MakeRef<TStreamBuffer>(64);
  Ref<TBinStreamWriter> writer =
      MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(buffer));
  WriteFieldType(*writer, fieldType);
  writer->Flush();
  std::string bytes(static_cast<size_t>(buffer->Available()), '\0');
  if (!bytes.empty()) buffer->Read(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

class FieldTypeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LiveAtStart = TZObject::LiveObjectCount();
    Registry = MakeRef<TFieldTypeClassVector>();
  }
  void TearDown() override {
    Registry.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
  }

  int32_t LiveAtStart = 0;
  Ref<TFieldTypeClassVector> Registry;
};

TEST_F(FieldTypeTest, RegistryHoldsTheThreeClassesInOrder) {
  ASSERT_EQ(Registry->Count(), 3);
  EXPECT_EQ(Registry->GetName(kIntegerTypeClass), "INTEGER");
  EXPECT_EQ(Registry->GetName(kStringTypeClass), "STRING");
  EXPECT_EQ(Registry->GetName(kDoubleTypeClass), "DOUBLE");
}

TEST_F(FieldTypeTest, ReadFieldTypeTakesANameAndItsParameters) {
  struct TCase {
    std::string Text;
    std::string Raised;  // "" when the type is read
    int32_t ClassNumber;
    int32_t Size;
  };
  const TCase cases[] = {
      {"INTEGER 4", "", kIntegerTypeClass, 4},
      {"integer 1", "", kIntegerTypeClass, 1},
      {"Integer 10000", "", kIntegerTypeClass, 10000},
      {"INTEGER 0", "EReaderSyntaxError", 0, 0},
      {"INTEGER 10001", "EReaderSyntaxError", 0, 0},
      {"INTEGER -1", "EReaderSyntaxError", 0, 0},
      {"INTEGER", "EReaderEof", 0, 0},
      {"STRING 30", "", kStringTypeClass, 30},
      {"STRING 10000", "", kStringTypeClass, 10000},
      {"STRING 0", "EReaderSyntaxError", 0, 0},
      {"STRING 10001", "EReaderSyntaxError", 0, 0},
      {"DOUBLE", "", kDoubleTypeClass, 8},
      {"FLOAT 8", "EReaderSyntaxError", 0, 0},
      {"'INTEGER' 4", "EReaderSyntaxError", 0, 0},
      {"", "EReaderEof", 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    Ref<TReader> reader = TextReader(c.Text);
    Ref<TFieldType> type;
    EXPECT_EQ(RaisedClass([&] { type = ReadFieldType(*Registry, *reader); }), c.Raised);
    if (!c.Raised.empty()) continue;
    ASSERT_TRUE(type);
    EXPECT_EQ(type->ClassNumber(), c.ClassNumber);
    EXPECT_EQ(type->Size(), c.Size);
    EXPECT_EQ(type->RefCount(), 1);
    EXPECT_EQ(reader->RefCount(), 1);  // borrowed, not taken over
  }
}

TEST_F(FieldTypeTest, DoubleReadsNothingMore) {
  Ref<TReader> reader = TextReader("DOUBLE 7");
  Ref<TFieldType> type = ReadFieldType(*Registry, *reader);
  EXPECT_EQ(reader->ReadInteger(), 7);
}

TEST_F(FieldTypeTest, WriteFieldTypeWritesClassNumberThenParameters) {
  EXPECT_EQ(WrittenBytes(*MakeRef<TIntegerType>(kIntegerTypeClass, 4)), Int(1) + Int(4));
  EXPECT_EQ(WrittenBytes(*MakeRef<TStringType>(kStringTypeClass, 30)), Int(2) + Int(30));
  EXPECT_EQ(WrittenBytes(*MakeRef<TDoubleType>(kDoubleTypeClass)), Int(3));
  // An engine-made type says so with its class number.
  EXPECT_EQ(WrittenBytes(*MakeRef<TIntegerType>(kInternalTypeClass, 8)), Int(-1) + Int(8));
}

TEST_F(FieldTypeTest, ASizeBelowOneIsABrokenInvariant) {
  EXPECT_EXIT(MakeRef<TIntegerType>(kIntegerTypeClass, 0),
              ::testing::ExitedWithCode(kFatalExitCode), "Err");
  EXPECT_EXIT(MakeRef<TStringType>(kStringTypeClass, -3), ::testing::ExitedWithCode(kFatalExitCode),
              "Err");
}

}  // namespace
}  // namespace kor
