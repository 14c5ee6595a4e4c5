#include "engine/tables/record_comp_func.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <random>
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

#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"
#include "engine/tables/record_type.h"

#include "tests/support/reader_cases.h"
#include "tests/support/string_stream.h"

namespace kor {
namespace {

using test::Int;
using test::RaisedClass;
using test::TextReader;

Ref<TReader> WireReader(const std::string& bytes) {
  Ref<TStreamBuffer> buffer = MakeRef<TStreamBuffer>(64);
  buffer->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  return MakeRef<TBinStreamReader>(MakeRef<TStreamBufferInputStream>(buffer));
}

// A comparator of a class of its own (so the record comparison must call
// it through Compare): integers of 4 bytes in descending order, nulls last.
class TDescendingCompFunc final : public TFieldCompFunc {
 public:
  TDescendingCompFunc() : TFieldCompFunc(kInternalCompFuncClass) {}
  int Compare(const void* a, const void* b, const TFieldType& /*fieldType*/) const override {
    if (a == nullptr || b == nullptr) return -CompareNullFields(a, b);
    return -CompareInt(DecodeInt32(static_cast<const unsigned char*>(a)),
                       DecodeInt32(static_cast<const unsigned char*>(b)));
  }
  bool Accepts(const TFieldType& fieldType) const override { return fieldType.Size() == 4; }
};

// Fields: ID INTEGER 8, NAME STRING 30, PRICE DOUBLE, N INTEGER 3, with a
// bitmap. Comparators: INT, NAMES (lower-case letters), DBL, INT2 (a second
// integer comparator object).
class RecordCompFuncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LiveAtStart = TZObject::LiveObjectCount();
    Ref<TFieldTypeClassVector> types = MakeRef<TFieldTypeClassVector>();
    Type = ReadRecordType(*TextReader("FIELD ID INTEGER 8 FIELD NAME STRING 30 "
                                      "FIELD PRICE DOUBLE FIELD N INTEGER 3 END"),
                          *types);
    Ref<TFieldCompFuncClassVector> classes = MakeRef<TFieldCompFuncClassVector>();
    CompFuncs = MakeRef<TFieldCompFuncVector>();
    CompFuncs->Add("INT", ReadCompFunc(*classes, *TextReader("INTEGERCOMPFUNC")));
    CompFuncs->Add("NAMES", ReadCompFunc(*classes, *TextReader("STRINGCOMPFUNC "
                                                               "'abcdefghijklmnopqrstuvwxyz'")));
    CompFuncs->Add("DBL", ReadCompFunc(*classes, *TextReader("DOUBLECOMPFUNC")));
    CompFuncs->Add("INT2", ReadCompFunc(*classes, *TextReader("INTEGERCOMPFUNC")));
  }
  void TearDown() override {
    CompFuncs.ReleaseLast();
    Type.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
  }

  Ref<TRecordCompFunc> Key(std::string text) {
    return ReadKeyDefinition(*TextReader(text), *Type, *CompFuncs);
  }
  // A record with the given ID and NAME (nullopt: null), other fields null.
  std::unique_ptr<unsigned char[]> Record(std::optional<int64_t> id,
                                          std::optional<std::string> name) {
    std::unique_ptr<unsigned char[]> record = Type->NewRecord();
    if (id) {
      unsigned char bytes[8];
      EncodeInt64(bytes, *id);
      Type->SetField(record.get(), 1, bytes);
    }
    if (name) {
      name->resize(30, '\0');
      Type->SetField(record.get(), 2, name->data());
    }
    return record;
  }

  int32_t LiveAtStart = 0;
  Ref<TRecordType> Type;
  Ref<TFieldCompFuncVector> CompFuncs;
};

TEST_F(RecordCompFuncTest, PartsOfAKeyDefinition) {
  Ref<TRecordCompFunc> key = Key("FIELD name NAMES FIELD Id int END");
  ASSERT_EQ(key->PartCount(), 2);
  EXPECT_EQ(key->PartField(1), 2);
  EXPECT_EQ(key->PartField(2), 1);
  EXPECT_EQ(key->PartCompFunc(1).Get(), CompFuncs->Get(2).Get());
  EXPECT_EQ(key->PartCompFunc(2).Get(), CompFuncs->Get(1).Get());
  EXPECT_EQ(&key->RecordType(), Type.Get());
  EXPECT_EQ(Type->RefCount(), 2);
}

TEST_F(RecordCompFuncTest, CompareRecordsPartByPart) {
  Ref<TRecordCompFunc> key = Key("FIELD NAME NAMES FIELD ID INT END");
  const std::nullopt_t null = std::nullopt;
  struct TCase {
    std::string Name;
    std::optional<int64_t> IdA;
    std::optional<std::string> NameA;
    std::optional<int64_t> IdB;
    std::optional<std::string> NameB;
    int32_t Count;
    int Expected;
  };
  const TCase cases[] = {
      {"0 parts match anything", 1, "a", 2, "b", 0, 0},
      {"0 parts match nulls", null, null, 2, "b", 0, 0},
      {"first part decides", 2, "a", 1, "b", -1, -1},
      {"second part decides", 2, "a", 1, "a", -1, 1},
      {"count 1 ignores the second", 2, "a", 1, "a", 1, 0},
      {"count 2 is all parts", 1, "a", 2, "a", 2, -1},
      {"equal records", 7, "abc", 7, "abc", -1, 0},
      {"null name first", 9, null, 1, "", -1, -1},
      {"nulls equal, id decides", 1, null, 2, null, -1, -1},
      {"all null", null, null, null, null, -1, 0},
      {"null id last part", null, "x", -5, "x", -1, -1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<unsigned char[]> a = Record(c.IdA, c.NameA);
    std::unique_ptr<unsigned char[]> b = Record(c.IdB, c.NameB);
    EXPECT_EQ(key->CompareRecords(a.get(), b.get(), c.Count), c.Expected);
    EXPECT_EQ(key->CompareRecords(b.get(), a.get(), c.Count), -c.Expected);
  }
}

// CompareRecords takes the comparators' values inline; it must agree with
// each comparator's own Compare on the fields, nulls included.
TEST_F(RecordCompFuncTest, InlinePartsAgreeWithTheComparators) {
  Ref<TFieldTypeClassVector> types = MakeRef<TFieldTypeClassVector>();
  Ref<TRecordType> type = ReadRecordType(
      *TextReader("FIELD I1 INTEGER 1 FIELD I2 INTEGER 2 FIELD I3 INTEGER 3 FIELD I4 INTEGER 4 "
                  "FIELD I8 INTEGER 8 FIELD I9 INTEGER 9 FIELD S STRING 3 FIELD D DOUBLE END"),
      *types);
  const char* compFuncNames[] = {"INT", "INT", "INT", "INT", "INT", "INT", "NAMES", "DBL"};
  std::vector<Ref<TRecordCompFunc>> keys;
  for (int32_t field = 1; field <= type->FieldCount(); ++field) {
    keys.push_back(MakeRef<TRecordCompFunc>(type));
    keys.back()->AddPart(field, CompFuncs->Get(CompFuncs->IndexOf(compFuncNames[field - 1])));
  }
  const uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  const unsigned char letters[] = {0, 'a', 'b', 'z', '?'};
  const double doubles[] = {std::nan(""), -1.5, 0.0, -0.0, 2.0, HUGE_VAL};
  auto randomRecord = [&] {
    std::unique_ptr<unsigned char[]> record = type->NewRecord();
    unsigned char value[9];
    for (int32_t field = 1; field <= type->FieldCount(); ++field) {
      if (random() % 4 == 0) continue;  // null
      int32_t size = type->FieldSize(field);
      for (int32_t i = 0; i < size; ++i) value[i] = static_cast<unsigned char>(random() % 3);
      if (field == 7) {
        for (int32_t i = 0; i < size; ++i) value[i] = letters[random() % 5];
      }
      if (field == 8) memcpy(value, &doubles[random() % 6], 8);
      type->SetField(record.get(), field, value);
    }
    return record;
  };
  for (int round = 0; round < 500; ++round) {
    std::unique_ptr<unsigned char[]> a = randomRecord();
    std::unique_ptr<unsigned char[]> b = randomRecord();
    for (int32_t field = 1; field <= type->FieldCount(); ++field) {
      SCOPED_TRACE(type->FieldName(field));
      const TFieldCompFunc& compFunc = *keys[field - 1]->PartCompFunc(1);
      int expected = compFunc.Compare(type->FieldPtr(a.get(), field),
                                      type->FieldPtr(b.get(), field), type->FieldTypeAt(field));
      ASSERT_EQ(keys[field - 1]->CompareRecords(a.get(), b.get(), -1), expected);
    }
  }
}

TEST_F(RecordCompFuncTest, OtherComparatorsAreCalledWithTheirNulls) {
  Ref<TRecordType> type = MakeRef<TRecordType>();
  type->AddField("A", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
  Ref<TRecordCompFunc> key = MakeRef<TRecordCompFunc>(type);
  key->AddPart(1, MakeRef<TDescendingCompFunc>());  // before Freeze: offsets are known
  type->Freeze(true);
  std::unique_ptr<unsigned char[]> one = type->NewRecord();
  std::unique_ptr<unsigned char[]> two = type->NewRecord();
  std::unique_ptr<unsigned char[]> null = type->NewRecord();
  unsigned char bytes[4];
  EncodeInt32(bytes, 1);
  type->SetField(one.get(), 1, bytes);
  EncodeInt32(bytes, 2);
  type->SetField(two.get(), 1, bytes);
  EXPECT_EQ(key->CompareRecords(one.get(), two.get(), -1), 1);
  EXPECT_EQ(key->CompareRecords(null.get(), two.get(), -1), 1);  // nulls last
  EXPECT_EQ(key->CompareRecords(null.get(), null.get(), -1), 0);
}

TEST_F(RecordCompFuncTest, SameAsWantsTheSameFieldsAndComparatorObjects) {
  Ref<TRecordCompFunc> key = Key("FIELD NAME NAMES FIELD ID INT END");
  struct TCase {
    std::string Text;
    bool Same;
  };
  const TCase cases[] = {
      {"FIELD NAME NAMES FIELD ID INT END", true},
      {"FIELD name names FIELD id int END", true},
      {"FIELD NAME NAMES FIELD ID INT2 END", false},  // same class, other object
      {"FIELD NAME NAMES FIELD N INT END", false},
      {"FIELD NAME NAMES END", false},
      {"FIELD NAME NAMES FIELD ID INT FIELD N INT END", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    Ref<TRecordCompFunc> other = Key(c.Text);
    EXPECT_EQ(key->SameAs(*other), c.Same);
    EXPECT_EQ(other->SameAs(*key), c.Same);
    EXPECT_EQ(other->RefCount(), 1);  // borrowed
  }
}

TEST_F(RecordCompFuncTest, BadTextKeyDefinitionsAreRefused) {
  struct TCase {
    std::string Text;
    std::string Raised;
  };
  const TCase cases[] = {
      {"FIELD COLOR INT END", "EReaderSyntaxError"},           // no such field
      {"FIELD ID LONGCOMPFUNC END", "EReaderSyntaxError"},     // comparator not declared
      {"FIELD ID INTEGERCOMPFUNC END", "EReaderSyntaxError"},  // a class, not an instance
      {"FIELD NAME INT END", "EReaderSyntaxError"},            // does not accept STRING
      {"FIELD PRICE NAMES END", "EReaderSyntaxError"},
      {"FIELD ID INT NEXT", "EReaderSyntaxError"},
      {"KEY ID INT END", "EReaderSyntaxError"},
      {"FIELD ID INT", "EReaderEof"},
      {"FIELD ID", "EReaderEof"},
      {"", "EReaderEof"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    int32_t live = TZObject::LiveObjectCount();
    EXPECT_EQ(RaisedClass([&] { Key(c.Text); }), c.Raised);
    EXPECT_EQ(TZObject::LiveObjectCount(), live);
    EXPECT_EQ(Type->RefCount(), 1);
  }
}

// The wire form: every proper prefix of a valid definition ends early, and
// each number out of its range (or naming a comparator that does not fit
// the field) is a syntax error.
TEST_F(RecordCompFuncTest, BinaryKeyDefinitions) {
  const std::string valid =
      Int(2) + Int(2) + Int(2) + Int(1) + Int(4);  // NAME by NAMES, ID by INT2
  struct TCase {
    std::string Name;
    std::string Bytes;
    std::string Raised;
  };
  std::vector<TCase> cases = {
      {"count 0", Int(0), "EReaderSyntaxError"},
      {"count -1", Int(-1), "EReaderSyntaxError"},
      {"count 10001", Int(10001) + Int(1) + Int(1), "EReaderSyntaxError"},
      {"field 0", Int(1) + Int(0) + Int(1), "EReaderSyntaxError"},
      {"field 5", Int(1) + Int(5) + Int(1), "EReaderSyntaxError"},
      {"comparator 0", Int(1) + Int(1) + Int(0), "EReaderSyntaxError"},
      {"comparator 5", Int(1) + Int(1) + Int(5), "EReaderSyntaxError"},
      {"comparator not accepting", Int(1) + Int(3) + Int(1), "EReaderSyntaxError"},
      {"valid", valid, ""},
      {"10000 parts",
       Int(10000) +
           [] {
             std::string parts;
             for (int i = 0; i < 10000; ++i) parts += Int(1) + Int(1);
             return parts;
           }(),
       ""},
  };
  for (size_t length = 0; length < valid.size(); ++length) {
    cases.push_back({"prefix " + std::to_string(length), valid.substr(0, length), "EReaderEof"});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    int32_t live = TZObject::LiveObjectCount();
    Ref<TRecordCompFunc> key;
    EXPECT_EQ(RaisedClass(
                  [&] { key = ReadKeyDefinitionBinary(*WireReader(c.Bytes), *Type, *CompFuncs); }),
              c.Raised);
    if (!c.Raised.empty()) {
      EXPECT_EQ(TZObject::LiveObjectCount(), live);
      continue;
    }
    // Written back, the definition gives the same bytes.
    Ref<TStreamBuffer> buffer = MakeRef<TStreamBuffer>(4096);
    Ref<TBinStreamWriter> writer =
        MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(buffer));
    WriteKeyDefinitionBinary(*writer, *key, *CompFuncs);
    std::string written(static_cast<size_t>(buffer->Available()), '\0');
    buffer->Read(written.data(), static_cast<int32_t>(written.size()));
    EXPECT_EQ(written, c.Bytes);
  }
}

TEST_F(RecordCompFuncTest, MisuseIsABrokenInvariant) {
  Ref<TRecordCompFunc> key = Key("FIELD ID INT END");
  std::unique_ptr<unsigned char[]> record = Type->NewRecord();
  const std::function<void()> misuses[] = {
      [&] { MakeRef<TRecordCompFunc>(Type)->AddPart(2, CompFuncs->Get(1)); },  // not accepting
      [&] { MakeRef<TRecordCompFunc>(Type)->AddPart(5, CompFuncs->Get(1)); },
      [&] { key->CompareRecords(record.get(), record.get(), 2); },
      [&] { key->CompareRecords(record.get(), record.get(), -2); },
      [&] { key->PartField(0); },
      [&] {
        Ref<TRecordType> other = MakeRef<TRecordType>();
        other->AddField("ID", MakeRef<TIntegerType>(kIntegerTypeClass, 8));
        Ref<TRecordCompFunc> elsewhere = MakeRef<TRecordCompFunc>(other);
        key->SameAs(*elsewhere);
      },
  };
  for (const std::function<void()>& misuse : misuses) {
    EXPECT_EXIT(misuse(), ::testing::ExitedWithCode(kFatalExitCode), "Err");
  }
}

}  // namespace
}  // namespace kor
