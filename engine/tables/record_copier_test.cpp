#include "engine/tables/record_copier.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "engine/base/fatal.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/tables/field_type.h"
#include "engine/tables/record_type.h"

namespace kor {
namespace {

// Source: A INTEGER 4, B STRING 5, C DOUBLE, D INTEGER 4. Target: X DOUBLE,
// Y INTEGER 4, Z STRING 5, W INTEGER 2. Both with a bitmap; the types are
// frozen after the pairs are added, as a table builds its views.
class RecordCopierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LiveAtStart = TZObject::LiveObjectCount();
    Source = MakeRef<TRecordType>();
    Source->AddField("A", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    Source->AddField("B", MakeRef<TStringType>(kStringTypeClass, 5));
    Source->AddField("C", MakeRef<TDoubleType>(kDoubleTypeClass));
    Source->AddField("D", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    Target = MakeRef<TRecordType>();
    Target->AddField("X", MakeRef<TDoubleType>(kDoubleTypeClass));
    Target->AddField("Y", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    Target->AddField("Z", MakeRef<TStringType>(kStringTypeClass, 5));
    Target->AddField("W", MakeRef<TIntegerType>(kIntegerTypeClass, 2));
    Copier = MakeRef<TRecordCopier>(Source, Target);
    Copier->AddMapping(1, 2);  // A -> Y
    Copier->AddMapping(3, 1);  // C -> X
    Source->Freeze(true);
    Target->Freeze(true);
  }
  void TearDown() override {
    Copier.ReleaseLast();
    Source.ReleaseLast();
    Target.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
  }

  static void SetInt(const TRecordType& type, unsigned char* record, int32_t field, int32_t v) {
    unsigned char bytes[4];
    EncodeInt32(bytes, v);
    type.SetField(record, field, bytes);
  }
  static int32_t GetInt(const TRecordType& type, const unsigned char* record, int32_t field) {
    const unsigned char* bytes = type.FieldPtr(record, field);
    EXPECT_NE(bytes, nullptr);
    return bytes == nullptr ? 0 : DecodeInt32(bytes);
  }

  int32_t LiveAtStart = 0;
  Ref<TRecordType> Source;
  Ref<TRecordType> Target;
  Ref<TRecordCopier> Copier;
};

TEST_F(RecordCopierTest, CopyFieldsLeavesUnmappedFieldsAlone) {
  std::unique_ptr<unsigned char[]> source = Source->NewRecord();
  SetInt(*Source, source.get(), 1, -42);
  double price = 2.5;
  Source->SetField(source.get(), 3, &price);
  Source->SetField(source.get(), 2, "bbbbb");

  std::unique_ptr<unsigned char[]> target = Target->NewRecord();
  Target->SetField(target.get(), 3, "hello");
  unsigned char w[2] = {7, 0};
  Target->SetField(target.get(), 4, w);

  Copier->CopyFields(source.get(), target.get());
  EXPECT_EQ(GetInt(*Target, target.get(), 2), -42);
  ASSERT_NE(Target->FieldPtr(target.get(), 1), nullptr);
  EXPECT_EQ(memcmp(Target->FieldPtr(target.get(), 1), &price, 8), 0);
  ASSERT_NE(Target->FieldPtr(target.get(), 3), nullptr);
  EXPECT_EQ(memcmp(Target->FieldPtr(target.get(), 3), "hello", 5), 0);
  ASSERT_NE(Target->FieldPtr(target.get(), 4), nullptr);
  EXPECT_EQ(Target->FieldPtr(target.get(), 4)[0], 7);

  // A null source field makes its target null.
  Source->SetNull(source.get(), 1);
  Copier->CopyFields(source.get(), target.get());
  EXPECT_TRUE(Target->IsNull(target.get(), 2));
  EXPECT_FALSE(Target->IsNull(target.get(), 1));
}

TEST_F(RecordCopierTest, CopyRecordMakesUnmappedFieldsNull) {
  std::unique_ptr<unsigned char[]> source = Source->NewRecord();
  SetInt(*Source, source.get(), 1, 5);
  std::unique_ptr<unsigned char[]> target = Target->NewRecord();
  Target->SetField(target.get(), 3, "hello");
  Copier->CopyRecord(source.get(), target.get());
  EXPECT_EQ(GetInt(*Target, target.get(), 2), 5);
  EXPECT_TRUE(Target->IsNull(target.get(), 1));  // C was null
  EXPECT_TRUE(Target->IsNull(target.get(), 3));
  EXPECT_TRUE(Target->IsNull(target.get(), 4));
}

TEST_F(RecordCopierTest, SourceFieldForFindsTheFirstPair) {
  Copier->AddMapping(4, 2);  // D -> Y as well; copied after A -> Y
  struct TCase {
    int32_t Target;
    int32_t Source;
  };
  const TCase cases[] = {{1, 3}, {2, 1}, {3, -1}, {4, -1}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Target);
    EXPECT_EQ(Copier->SourceFieldFor(c.Target), c.Source);
  }
  EXPECT_EQ(Copier->MappingCount(), 3);

  std::unique_ptr<unsigned char[]> source = Source->NewRecord();
  SetInt(*Source, source.get(), 1, 1);
  SetInt(*Source, source.get(), 4, 4);
  std::unique_ptr<unsigned char[]> target = Target->NewRecord();
  Copier->CopyFields(source.get(), target.get());
  EXPECT_EQ(GetInt(*Target, target.get(), 2), 4);  // pairs run in order
}

TEST_F(RecordCopierTest, TargetWithoutBitmapTakesPresentValues) {
  Ref<TRecordType> plain = MakeRef<TRecordType>();
  plain->AddField("P", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
  plain->Freeze(false);
  Ref<TRecordCopier> copier = MakeRef<TRecordCopier>(Source, plain);
  copier->AddMapping(4, 1);
  std::unique_ptr<unsigned char[]> source = Source->NewRecord();
  SetInt(*Source, source.get(), 4, 99);
  std::unique_ptr<unsigned char[]> target = plain->NewRecord();
  copier->CopyRecord(source.get(), target.get());
  EXPECT_EQ(DecodeInt32(target.get()), 99);
  EXPECT_EQ(Source->RefCount(), 3);  // the fixture, both copiers
}

TEST_F(RecordCopierTest, MisuseIsABrokenInvariant) {
  std::unique_ptr<unsigned char[]> source = Source->NewRecord();
  std::unique_ptr<unsigned char[]> target = Target->NewRecord();
  const std::function<void()> misuses[] = {
      [&] { Copier->AddMapping(2, 2); },  // 5 bytes into 4
      [&] { Copier->AddMapping(0, 2); },
      [&] { Copier->AddMapping(1, 5); },
      [&] {
        Ref<TRecordType> open = MakeRef<TRecordType>();
        open->AddField("Y", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
        Ref<TRecordCopier> copier = MakeRef<TRecordCopier>(Source, open);
        copier->AddMapping(1, 1);
        copier->CopyFields(source.get(), target.get());  // target not frozen
      },
  };
  for (const std::function<void()>& misuse : misuses) {
    EXPECT_EXIT(misuse(), ::testing::ExitedWithCode(kFatalExitCode), "Err");
  }
}

}  // namespace
}  // namespace kor
