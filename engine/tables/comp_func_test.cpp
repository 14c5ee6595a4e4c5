#include "engine/tables/comp_func.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
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

// Field images: an n-byte little-endian integer, a text padded with zero
// bytes to the field size, a double in machine order.
std::string IntField(int32_t size, int64_t value) {
  std::string bytes(static_cast<size_t>(size), '\0');
  for (int32_t i = 0; i < size && i < 8; ++i) {
    bytes[i] = static_cast<char>(static_cast<uint64_t>(value) >> (8 * i));
  }
  if (value < 0) {
    for (int32_t i = 8; i < size; ++i) bytes[i] = '\xff';
  }
  return bytes;
}
std::string TextField(int32_t size, std::string text) {
  text.resize(static_cast<size_t>(size), '\0');
  return text;
}
std::string DoubleField(double value) {
  std::string bytes(sizeof value, '\0');
  memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

const void* FieldOrNull(const std::optional<std::string>& field) {
  return field ? field->data() : nullptr;
}

class CompFuncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LiveAtStart = TZObject::LiveObjectCount();
    Types = MakeRef<TFieldTypeClassVector>();
    Classes = MakeRef<TFieldCompFuncClassVector>();
  }
  void TearDown() override {
    Types.ReleaseLast();
    Classes.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
  }

  Ref<TFieldType> Type(std::string text) { return ReadFieldType(*Types, *TextReader(text)); }
  Ref<TFieldCompFunc> CompFunc(std::string text) {
    return ReadCompFunc(*Classes, *TextReader(text));
  }

  int32_t LiveAtStart = 0;
  Ref<TFieldTypeClassVector> Types;
  Ref<TFieldCompFuncClassVector> Classes;
};

TEST_F(CompFuncTest, RegistryHoldsTheThreeClassesInOrder) {
  ASSERT_EQ(Classes->Count(), 3);
  EXPECT_EQ(Classes->GetName(kIntegerCompFuncClass), "INTEGERCOMPFUNC");
  EXPECT_EQ(Classes->GetName(kStringCompFuncClass), "STRINGCOMPFUNC");
  EXPECT_EQ(Classes->GetName(kDoubleCompFuncClass), "DOUBLECOMPFUNC");
  EXPECT_EQ(RaisedClass([&] { CompFunc("FLOATCOMPFUNC"); }), "EReaderSyntaxError");
  EXPECT_EQ(RaisedClass([&] { CompFunc("STRINGCOMPFUNC"); }), "EReaderEof");
}

// The comparator and collation cases, one per row: a comparator read from
// text, then either the exception reading it raises, or a field type and
// two field images (nullopt: a null field) with the expected order, and for
// a collation optionally the string it is described back as.
TEST_F(CompFuncTest, ComparatorsAndCollations) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::string kLower = "STRINGCOMPFUNC 'abcdefghijklmnopqrstuvwxyz'";
  const std::string kCased = "STRINGCOMPFUNC 'A=aB=b'";
  const std::nullopt_t null = std::nullopt;
  struct TCase {
    std::string Name;
    std::string CompFunc;
    std::string Raised = "";  // "" when the comparator is read
    std::string FieldType = "";
    std::optional<std::string> A = std::nullopt;
    std::optional<std::string> B = std::nullopt;
    int Expected = 0;          // Compare(A, B); Compare(B, A) must be its negation
    std::string Rebuilt = "";  // Collation(), checked when not empty
  };
  const TCase cases[] = {
      // Integers.
      {"4-byte -1 < 0", "INTEGERCOMPFUNC", "", "INTEGER 4", IntField(4, -1), IntField(4, 0), -1},
      {"6-byte 2^32 > 2^32-1", "INTEGERCOMPFUNC", "", "INTEGER 6", IntField(6, 1LL << 32),
       IntField(6, (1LL << 32) - 1), 1},
      {"3-byte -1 < 1", "INTEGERCOMPFUNC", "", "INTEGER 3", IntField(3, -1), IntField(3, 1), -1},
      {"8-byte min < max", "INTEGERCOMPFUNC", "", "INTEGER 8", IntField(8, INT64_MIN),
       IntField(8, INT64_MAX), -1},
      {"1-byte -128 < 127", "INTEGERCOMPFUNC", "", "INTEGER 1", IntField(1, -128), IntField(1, 127),
       -1},
      {"9-byte equal", "INTEGERCOMPFUNC", "", "INTEGER 9", IntField(9, -5), IntField(9, -5), 0},
      {"integer null < min", "INTEGERCOMPFUNC", "", "INTEGER 4", null, IntField(4, INT32_MIN), -1},
      {"integer nulls equal", "INTEGERCOMPFUNC", "", "INTEGER 4", null, null, 0},
      // Collations.
      {"A=aB=b: ab == AB", kCased, "", "STRING 10", TextField(10, "ab"), TextField(10, "AB"), 0,
       "A=aB=b"},
      {"A=aB=b: a < ab", kCased, "", "STRING 10", TextField(10, "a"), TextField(10, "ab"), -1},
      {"A=aB=b: unlisted after listed", kCased, "", "STRING 10", TextField(10, "x"),
       TextField(10, "b"), 1},
      {"A=aB=b: unlisted equal", kCased, "", "STRING 10", TextField(10, "x"), TextField(10, "y"),
       0},
      {"=-ab: a-b == ab", "STRINGCOMPFUNC '=-ab'", "", "STRING 10", TextField(10, "a-b"),
       TextField(10, "ab"), 0, "ab"},
      {"=-ab: -- == empty", "STRINGCOMPFUNC '=-ab'", "", "STRING 10", TextField(10, "--"),
       TextField(10, ""), 0},
      {"b=a described as a=b", "STRINGCOMPFUNC 'b=a'", "", "STRING 2", TextField(2, "a"),
       TextField(2, "b"), 0, "a=b"},
      {"escapes", "STRINGCOMPFUNC '\\=\\\\a'", "", "STRING 3", TextField(3, "="),
       TextField(3, "\\"), -1, "\\=\\\\a"},
      {"STRING 4 abcd == abcd", kLower, "", "STRING 4", std::string("abcd"), std::string("abcd"), 0,
       "abcdefghijklmnopqrstuvwxyz"},
      {"STRING 4 abcd < abd", kLower, "", "STRING 4", std::string("abcd"), TextField(4, "abd"), -1},
      {"zero byte ends the text", kLower, "", "STRING 4", std::string("ab\0c", 4),
       TextField(4, "ab"), 0},
      {"string null < empty", kLower, "", "STRING 4", null, TextField(4, ""), -1},
      {"string nulls equal", kLower, "", "STRING 4", null, null, 0},
      {"aa refused", "STRINGCOMPFUNC 'aa'", "EReaderSyntaxError"},
      {"a= refused", "STRINGCOMPFUNC 'a='", "EReaderSyntaxError"},
      {"lone trailing backslash refused", "STRINGCOMPFUNC 'a\\'", "EReaderSyntaxError"},
      {"repeated character refused", "STRINGCOMPFUNC 'abcb'", "EReaderSyntaxError"},
      {"escaped repeat refused", "STRINGCOMPFUNC '\\aa'", "EReaderSyntaxError"},
      {"== at start refused", "STRINGCOMPFUNC '==a'", "EReaderSyntaxError"},
      {"zero byte listed refused", "STRINGCOMPFUNC 'a'#0", "EReaderSyntaxError"},
      // Doubles: a total order in which a NaN equals a NaN and sorts first.
      {"1 < 2", "DOUBLECOMPFUNC", "", "DOUBLE", DoubleField(1), DoubleField(2), -1},
      {"+0 == -0", "DOUBLECOMPFUNC", "", "DOUBLE", DoubleField(0.0), DoubleField(-0.0), 0},
      {"NaN == NaN", "DOUBLECOMPFUNC", "", "DOUBLE", DoubleField(kNaN), DoubleField(-kNaN), 0},
      {"NaN < -inf", "DOUBLECOMPFUNC", "", "DOUBLE", DoubleField(kNaN), DoubleField(-kInf), -1},
      {"1 > NaN", "DOUBLECOMPFUNC", "", "DOUBLE", DoubleField(1), DoubleField(kNaN), 1},
      {"null < NaN", "DOUBLECOMPFUNC", "", "DOUBLE", null, DoubleField(kNaN), -1},
      {"double nulls equal", "DOUBLECOMPFUNC", "", "DOUBLE", null, null, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Ref<TFieldCompFunc> compFunc;
    ASSERT_EQ(RaisedClass([&] { compFunc = CompFunc(c.CompFunc); }), c.Raised);
    if (!c.Raised.empty()) continue;
    Ref<TFieldType> type = Type(c.FieldType);
    ASSERT_TRUE(compFunc->Accepts(*type));
    for (const std::optional<std::string>& field : {c.A, c.B}) {
      if (field) {
        ASSERT_EQ(field->size(), static_cast<size_t>(type->Size()));
      }
    }
    EXPECT_EQ(compFunc->Compare(FieldOrNull(c.A), FieldOrNull(c.B), *type), c.Expected);
    EXPECT_EQ(compFunc->Compare(FieldOrNull(c.B), FieldOrNull(c.A), *type), -c.Expected);
    if (!c.Rebuilt.empty()) {
      EXPECT_EQ(dynamic_cast<const TStringCompFunc&>(*compFunc).Collation(), c.Rebuilt);
    }
  }
}

TEST_F(CompFuncTest, CollationWeights) {
  TStringCompFunc* compFunc = new TStringCompFunc(kStringCompFuncClass, "=-ab=c");
  Ref<TStringCompFunc> owner = Ref<TStringCompFunc>::Adopt(compFunc);
  EXPECT_EQ(compFunc->Weight(0), 0);
  EXPECT_EQ(compFunc->Weight('-'), 0);
  EXPECT_EQ(compFunc->Weight('a'), 1);
  EXPECT_EQ(compFunc->Weight('b'), 2);
  EXPECT_EQ(compFunc->Weight('c'), 2);
  EXPECT_EQ(compFunc->Weight('z'), 255);

  // Every byte value but the zero byte, listed once: weights 1..255 fit.
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  std::string escaped;
  for (char c : all) {
    if (c == '=' || c == '\\') escaped.push_back('\\');
    escaped.push_back(c);
  }
  Ref<TStringCompFunc> full = MakeRef<TStringCompFunc>(kStringCompFuncClass, escaped);
  EXPECT_EQ(full->Weight(255), 255);
  // Weight 255 is that of unlisted characters and is not described back.
  EXPECT_EQ(full->Collation(), escaped.substr(0, escaped.size() - 1));
  EXPECT_THROW(MakeRef<TStringCompFunc>(kStringCompFuncClass, escaped + "=a"), EReaderSyntaxError);
}

TEST_F(CompFuncTest, AcceptsOnlyItsOwnFieldType) {
  const char* compFuncs[] = {"INTEGERCOMPFUNC", "STRINGCOMPFUNC 'a'", "DOUBLECOMPFUNC"};
  const char* types[] = {"INTEGER 4", "STRING 4", "DOUBLE"};
  for (int i = 0; i < 3; ++i) {
    Ref<TFieldCompFunc> compFunc = CompFunc(compFuncs[i]);
    for (int j = 0; j < 3; ++j) {
      SCOPED_TRACE(std::string(compFuncs[i]) + " / " + types[j]);
      EXPECT_EQ(compFunc->Accepts(*Type(types[j])), i == j);
    }
  }
  // The engine's own types and comparators (class -1) follow the same rule.
  Ref<TIntegerCompFunc> internal = MakeRef<TIntegerCompFunc>(kInternalCompFuncClass);
  EXPECT_TRUE(internal->Accepts(*MakeRef<TIntegerType>(kInternalTypeClass, 8)));
}

// The n-byte integer order against a reference that sign-extends the bytes
// into a 128-bit integer, for the fast paths (1, 2, 4, 8) and the general
// path alike.
TEST_F(CompFuncTest, IntegerFastAndGeneralPathsAgree) {
  const uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  auto reference = [](const unsigned char* a, const unsigned char* b, int32_t size) {
    auto value = [size](const unsigned char* p) {
      unsigned __int128 bits = 0;
      for (int32_t i = size - 1; i >= 0; --i) bits = bits << 8 | p[i];
      int shift = 128 - 8 * size;
      return static_cast<__int128>(bits << shift) >> shift;
    };
    __int128 x = value(a);
    __int128 y = value(b);
    return (x > y) - (x < y);
  };
  const unsigned char patterns[] = {0x00, 0xff, 0x80, 0x7f, 0x01};
  for (int32_t size = 1; size <= 12; ++size) {
    SCOPED_TRACE("size " + std::to_string(size));
    for (int round = 0; round < 2000; ++round) {
      unsigned char a[12];
      unsigned char b[12];
      for (int32_t i = 0; i < size; ++i) {
        a[i] = round < 25 ? patterns[round % 5] : static_cast<unsigned char>(random());
        b[i] = round < 25 ? patterns[round / 5] : static_cast<unsigned char>(random());
      }
      // Half the pairs differ in one byte only, so lower groups decide.
      if (round % 2 == 1 && round >= 25) {
        memcpy(b, a, static_cast<size_t>(size));
        b[random() % static_cast<uint64_t>(size)] ^= static_cast<unsigned char>(1 + random() % 255);
      }
      int expected = reference(a, b, size);
      ASSERT_EQ(TIntegerCompFunc::CompareValues(a, b, size), expected);
      ASSERT_EQ(TIntegerCompFunc::CompareValuesGeneral(a, b, size), expected);
    }
  }
}

TEST_F(CompFuncTest, WriteCompFuncWritesClassNumberThenParameters) {
  auto written = [](const TFieldCompFunc& compFunc) {
    Ref<TStreamBuffer> buffer = MakeRef<TStreamBuffer>(64);
    Ref<TBinStreamWriter> writer =
        MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(buffer));
    WriteCompFunc(*writer, compFunc);
    std::string bytes(static_cast<size_t>(buffer->Available()), '\0');
    if (!bytes.empty()) buffer->Read(bytes.data(), static_cast<int32_t>(bytes.size()));
    return bytes;
  };
  EXPECT_EQ(written(*CompFunc("INTEGERCOMPFUNC")), Int(1));
  EXPECT_EQ(written(*CompFunc("STRINGCOMPFUNC 'b=a'")), Int(2) + Int(3) + "a=b");
  EXPECT_EQ(written(*CompFunc("DOUBLECOMPFUNC")), Int(3));
}

TEST_F(CompFuncTest, CompFuncVectorHoldsNamedInstances) {
  Ref<TFieldCompFuncVector> compFuncs = MakeRef<TFieldCompFuncVector>();
  Ref<TFieldCompFunc> first = CompFunc("INTEGERCOMPFUNC");
  Ref<TFieldCompFunc> other = CompFunc("INTEGERCOMPFUNC");
  compFuncs->Add("INT", first);
  compFuncs->Add("NAMES", CompFunc("STRINGCOMPFUNC 'ab'"));
  EXPECT_EQ(compFuncs->IndexOf("names"), 2);
  EXPECT_EQ(compFuncs->Get(1).Get(), first.Get());
  EXPECT_EQ(compFuncs->PositionOf(*first), 1);
  EXPECT_EQ(compFuncs->PositionOf(*other), -1);
  EXPECT_EQ(first->RefCount(), 2);
  compFuncs.ReleaseLast();
  EXPECT_EQ(first->RefCount(), 1);
}

}  // namespace
}  // namespace kor
