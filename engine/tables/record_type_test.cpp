#include "engine/tables/record_type.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/stream_buffer.h"
#include "engine/streams/text_stream_reader.h"

#include "engine/tables/field_type.h"

#include "tests/support/reader_cases.h"
#include "tests/support/string_stream.h"

namespace kor {
namespace {

using test::Int;
using test::RaisedClass;
using test::TextReader;

std::string Ident(const std::string& text) { return Int(static_cast<int32_t>(text.size())) + text; }

class RecordTypeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LiveAtStart = TZObject::LiveObjectCount();
    Registry = MakeRef<TFieldTypeClassVector>();
  }
  void TearDown() override {
    Registry.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
  }

  Ref<TRecordType> Read(std::string text) { return ReadRecordType(*TextReader(text), *Registry); }
  // ID INTEGER 8, NAME STRING 30, PRICE DOUBLE, with a bitmap.
  Ref<TRecordType> Example() {
    return Read("FIELD ID INTEGER 8 FIELD NAME STRING 30 FIELD PRICE DOUBLE END");
  }

  int32_t LiveAtStart = 0;
  Ref<TFieldTypeClassVector> Registry;
};

TEST_F(RecordTypeTest, SizeAndBitmapFollowTheFieldCount) {
  struct TCase {
    int32_t Fields;  // of INTEGER 1 each
    bool Bitmap;
    int32_t RecordSize;
    int32_t BitmapOffset;
  };
  const TCase cases[] = {
      {1, true, 2, 1},    {8, true, 9, 8},  {9, true, 11, 9}, {16, true, 18, 16},
      {17, true, 20, 17}, {1, false, 1, 0}, {9, false, 9, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Fields) + (c.Bitmap ? " with bitmap" : " without"));
    Ref<TRecordType> type = MakeRef<TRecordType>();
    for (int32_t i = 1; i <= c.Fields; ++i) {
      EXPECT_EQ(type->AddField("F", MakeRef<TIntegerType>(kIntegerTypeClass, 1)), i);
    }
    type->Freeze(c.Bitmap);
    EXPECT_TRUE(type->Frozen());
    EXPECT_EQ(type->HasNullBitmap(), c.Bitmap);
    EXPECT_EQ(type->RecordSize(), c.RecordSize);
    EXPECT_EQ(type->NullBitmapOffset(), c.BitmapOffset);
  }
}

TEST_F(RecordTypeTest, LayoutOfTheExample) {
  Ref<TRecordType> type = Example();
  ASSERT_EQ(type->FieldCount(), 3);
  EXPECT_EQ(type->RecordSize(), 47);
  EXPECT_EQ(type->NullBitmapOffset(), 46);
  const int32_t offsets[] = {0, 8, 38};
  const int32_t sizes[] = {8, 30, 8};
  const char* names[] = {"ID", "NAME", "PRICE"};
  for (int32_t field = 1; field <= 3; ++field) {
    EXPECT_EQ(type->FieldOffset(field), offsets[field - 1]);
    EXPECT_EQ(type->FieldSize(field), sizes[field - 1]);
    EXPECT_EQ(type->FieldName(field), names[field - 1]);
    EXPECT_EQ(type->FieldTypeOf(field)->ClassNumber(), field);  // INTEGER, STRING, DOUBLE
  }
  EXPECT_EQ(type->FieldNumber("name"), 2);
  EXPECT_EQ(type->FieldNumber("Price"), 3);
  EXPECT_EQ(type->FieldNumber("NAMES"), -1);

  // Bits 0, 1, 2 of byte 46 say which fields are present.
  std::unique_ptr<unsigned char[]> record = type->NewRecord();
  type->SetPresent(record.get(), 1);
  type->SetPresent(record.get(), 3);
  EXPECT_EQ(record[46], 0b101);
  EXPECT_FALSE(type->IsNull(record.get(), 1));
  EXPECT_TRUE(type->IsNull(record.get(), 2));
}

TEST_F(RecordTypeTest, FieldTypesAreShared) {
  Ref<TFieldType> shared = MakeRef<TIntegerType>(kInternalTypeClass, 8);
  Ref<TRecordType> type = MakeRef<TRecordType>();
  type->AddField("!BEGTIME", shared);
  type->AddField("!ENDTIME", shared);
  EXPECT_EQ(shared->RefCount(), 3);
  EXPECT_EQ(&type->FieldTypeAt(2), shared.Get());
  EXPECT_EQ(type->FieldTypeOf(1)->RefCount(), 4);  // the caller's own reference
  type.ReleaseLast();
  EXPECT_EQ(shared->RefCount(), 1);
}

TEST_F(RecordTypeTest, DuplicateNamesFindTheFirst) {
  Ref<TRecordType> type = Read("FIELD A INTEGER 4 FIELD B INTEGER 2 FIELD a STRING 3 END");
  EXPECT_EQ(type->FieldNumber("A"), 1);
  EXPECT_EQ(type->FieldNumber("b"), 2);
}

TEST_F(RecordTypeTest, NewAndClearedRecordsHaveEveryFieldNull) {
  Ref<TRecordType> type = Example();
  std::unique_ptr<unsigned char[]> record = type->NewRecord();
  for (int32_t field = 1; field <= 3; ++field) {
    EXPECT_TRUE(type->IsNull(record.get(), field));
    EXPECT_EQ(type->FieldPtr(record.get(), field), nullptr);
  }
  unsigned char id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  type->SetField(record.get(), 1, id);
  const unsigned char* read = type->FieldPtr(static_cast<const unsigned char*>(record.get()), 1);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read, record.get());
  EXPECT_EQ(memcmp(read, id, 8), 0);

  type->ClearRecord(record.get());
  for (int32_t i = 0; i < 47; ++i) EXPECT_EQ(record[i], 0);
  EXPECT_EQ(type->FieldPtr(record.get(), 1), nullptr);
}

TEST_F(RecordTypeTest, SetFieldAfterSetNullMakesTheFieldPresentAgain) {
  Ref<TRecordType> type = Example();
  std::unique_ptr<unsigned char[]> record = type->NewRecord();
  char name[30] = "first";
  type->SetField(record.get(), 2, name);
  type->SetNull(record.get(), 2);
  EXPECT_EQ(type->FieldPtr(record.get(), 2), nullptr);
  type->SetField(record.get(), 3, nullptr);  // null by value
  EXPECT_TRUE(type->IsNull(record.get(), 3));

  char second[30] = "second";
  type->SetField(record.get(), 2, second);
  unsigned char* field = type->FieldPtr(record.get(), 2);
  ASSERT_EQ(field, record.get() + 8);
  EXPECT_EQ(memcmp(field, second, 30), 0);
  EXPECT_EQ(record[46], 0b010);
}

TEST_F(RecordTypeTest, WithoutABitmapNoFieldIsNull) {
  Ref<TRecordType> type = MakeRef<TRecordType>();
  type->AddField("A", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
  type->AddField("B", MakeRef<TStringType>(kStringTypeClass, 2));
  type->Freeze(false);
  std::unique_ptr<unsigned char[]> record = type->NewRecord();
  EXPECT_FALSE(type->IsNull(record.get(), 2));
  type->SetPresent(record.get(), 2);  // nothing to set
  EXPECT_EQ(type->FieldPtr(record.get(), 2), record.get() + 4);
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(record[i], 0);
}

TEST_F(RecordTypeTest, WriteRecordTypeDescribesEveryField) {
  Ref<TStreamBuffer> buffer = MakeRef<TStreamBuffer>(64);
  Ref<TBinStreamWriter> writer =
      MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(buffer));
  Example()->WriteRecordType(*writer);
  std::string bytes(static_cast<size_t>(buffer->Available()), '\0');
  buffer->Read(bytes.data(), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(bytes, Int(3) + Ident("ID") + Int(1) + Int(8) + Ident("NAME") + Int(2) + Int(30) +
                       Ident("PRICE") + Int(3));
}

TEST_F(RecordTypeTest, MalformedTextIsRefused) {
  struct TCase {
    std::string Text;
    std::string Raised;
  };
  const TCase cases[] = {
      {"", "EReaderEof"},
      {"END", "EReaderSyntaxError"},
      {"FIELDS A INTEGER 4 END", "EReaderSyntaxError"},
      {"FIELD A INTEGER 4", "EReaderEof"},
      {"FIELD A INTEGER 4 FIELD", "EReaderEof"},
      {"FIELD A INTEGER 4 NEXT", "EReaderSyntaxError"},
      {"FIELD A FLOAT END", "EReaderSyntaxError"},
      {"FIELD A STRING 0 END", "EReaderSyntaxError"},
      {"FIELD 'A' INTEGER 4 END", "EReaderSyntaxError"},
      {"FIELD 12 INTEGER 4 END", "EReaderSyntaxError"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    int32_t live = TZObject::LiveObjectCount();
    EXPECT_EQ(RaisedClass([&] { Read(c.Text); }), c.Raised);
    EXPECT_EQ(TZObject::LiveObjectCount(), live);
  }
}

// Sizes are summed in 64 bits: 10000 fields of 10000 bytes (100 MB) are a
// valid type, one that would pass 2^31 - 1 bytes is refused as input.
TEST_F(RecordTypeTest, RecordSizeLimit) {
  auto fields = [](int32_t count) {
    std::string text;
    for (int32_t i = 0; i < count; ++i) text += "FIELD F STRING 10000 ";
    return text;
  };
  Ref<TRecordType> big = Read(fields(10000) + "END");
  EXPECT_EQ(big->RecordSize(), 100000000 + 1250);
  big.ReleaseLast();

  // 214745 fields of 10000 bytes, one of 6803 and a bitmap of 26844 bytes
  // are exactly 2^31 - 1 bytes; one byte more is refused as input.
  Ref<TRecordType> largest = MakeRef<TRecordType>();
  Ref<TFieldType> wide = MakeRef<TStringType>(kStringTypeClass, 10000);
  for (int32_t i = 0; i < 214745; ++i) largest->AddField("F", wide);
  largest->AddField("F", MakeRef<TStringType>(kStringTypeClass, 6803));
  largest->Freeze(true);
  EXPECT_EQ(largest->RecordSize(), INT32_MAX);
  largest.ReleaseLast();
  EXPECT_EQ(RaisedClass([&] { Read(fields(214745) + "FIELD F STRING 6804 END"); }),
            "EReaderSyntaxError");
}

TEST_F(RecordTypeTest, MisuseIsABrokenInvariant) {
  Ref<TRecordType> frozen = Example();
  auto unfrozen = [] {
    Ref<TRecordType> type = MakeRef<TRecordType>();
    type->AddField("A", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    return type;
  };
  std::unique_ptr<unsigned char[]> record = frozen->NewRecord();
  const std::function<void()> misuses[] = {
      [&] { frozen->AddField("X", MakeRef<TIntegerType>(kIntegerTypeClass, 4)); },
      [&] { frozen->Freeze(true); },
      [&] { MakeRef<TRecordType>()->Freeze(true); },
      [&] { unfrozen()->NewRecord(); },
      [&] { unfrozen()->FieldPtr(record.get(), 1); },
      [&] { frozen->FieldSize(0); },
      [&] { frozen->FieldName(4); },
      [&] { frozen->IsNull(record.get(), 4); },
      [&] {
        Ref<TRecordType> type = unfrozen();
        type->Freeze(false);
        type->SetNull(record.get(), 1);
      },
  };
  for (const std::function<void()>& misuse : misuses) {
    EXPECT_EXIT(misuse(), ::testing::ExitedWithCode(kFatalExitCode), "Err");
  }
}

}  // namespace
}  // namespace kor
