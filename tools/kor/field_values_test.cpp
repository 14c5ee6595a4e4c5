// Field values between text and record bytes: every width of INTEGER at
// its limits, DOUBLE texts, STRING sizes; each accepted text read back.

#include "tools/kor/field_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kor::tool {
namespace {

struct TCase {
  TFieldKind Kind;
  int32_t Size;
  std::string Text;
  std::string Why;   // empty: accepted
  std::string Back;  // the value written back, when accepted
};

std::string Format(const TField& field, const std::vector<uint8_t>& bytes) {
  std::string out;
  switch (field.Kind) {
    case TFieldKind::Integer:
      AppendInteger(out, bytes.data(), field.Size);
      break;
    case TFieldKind::Double:
      AppendDouble(out, bytes.data());
      break;
    case TFieldKind::String:
      out = StringBytes(bytes.data(), field.Size);
      break;
  }
  return out;
}

TEST(FieldValuesTest, ReadsAndWritesEveryKindAtItsLimits) {
  constexpr auto kInt = TFieldKind::Integer;
  constexpr auto kDouble = TFieldKind::Double;
  constexpr auto kString = TFieldKind::String;
  const std::string notWhole = "not a whole number";
  const TCase cases[] = {
      {kInt, 1, "127", "", "127"},
      {kInt, 1, "-128", "", "-128"},
      {kInt, 1, "128", "out of range for INTEGER 1", ""},
      {kInt, 1, "-129", "out of range for INTEGER 1", ""},
      {kInt, 3, "-8388608", "", "-8388608"},
      {kInt, 3, "8388608", "out of range for INTEGER 3", ""},
      {kInt, 8, "9223372036854775807", "", "9223372036854775807"},
      {kInt, 8, "-9223372036854775808", "", "-9223372036854775808"},
      {kInt, 8, "9223372036854775808", "out of range for INTEGER 8", ""},
      {kInt, 8, "+007", "", "7"},
      {kInt, 8, "-0", "", "0"},
      // Wider than 64 bits: 2^71 - 1 and -2^71 fit 9 bytes, 2^71 does not.
      {kInt, 9, "9223372036854775808", "", "9223372036854775808"},
      {kInt, 9, "2361183241434822606847", "", "2361183241434822606847"},
      {kInt, 9, "-2361183241434822606848", "", "-2361183241434822606848"},
      {kInt, 9, "2361183241434822606848", "out of range for INTEGER 9", ""},
      {kInt, 9, "-2361183241434822606849", "out of range for INTEGER 9", ""},
      {kInt, 16, "-170141183460469231731687303715884105728", "",
       "-170141183460469231731687303715884105728"},
      {kInt, 16, "1000000000000000000000000000000", "", "1000000000000000000000000000000"},
      {kInt, 4, "", notWhole, ""},
      {kInt, 4, "-", notWhole, ""},
      {kInt, 4, "1.5", notWhole, ""},
      {kInt, 4, " 1", notWhole, ""},
      {kInt, 4, "0x10", notWhole, ""},
      {kDouble, 8, "1.5", "", "1.5"},
      {kDouble, 8, "+0.1", "", "0.1"},
      {kDouble, 8, "-2e-3", "", "-0.002"},
      {kDouble, 8, "1e300", "", "1e+300"},
      {kDouble, 8, "NaN", "", "NaN"},
      {kDouble, 8, "-Infinity", "", "-Infinity"},
      {kDouble, 8, "1e999", "out of range for DOUBLE", ""},
      {kDouble, 8, "", "not a number", ""},
      {kDouble, 8, "1.5x", "not a number", ""},
      {kString, 4, "abcd", "", "abcd"},
      {kString, 4, "", "", ""},
      {kString, 4, "abcde", "5 bytes, more than the field's 4", ""},
      {kString, 4, std::string("a\0b", 3), "holds a zero byte, which would end the text", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(KindName(c.Kind)) + " " + std::to_string(c.Size) + " " + c.Text);
    const TField field{"F", c.Kind, c.Size, 0};
    std::vector<uint8_t> bytes(static_cast<size_t>(c.Size), 0xEE);
    std::string why;
    const bool accepted = ParseFieldValue(field, c.Text, bytes.data(), why);
    EXPECT_EQ(accepted, c.Why.empty());
    EXPECT_EQ(why, c.Why);
    if (accepted) {
      EXPECT_EQ(Format(field, bytes), c.Back);
    }
  }
}

TEST(FieldValuesTest, ReadsIntegersOfEveryWidthAsTwosComplement) {
  // -2 in 3 bytes, and a 9-byte value whose high bytes only repeat the sign.
  const uint8_t minusTwo[] = {0xFE, 0xFF, 0xFF};
  EXPECT_EQ(IntegerValue(minusTwo, 3), -2);
  const uint8_t wideMinusOne[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::string out;
  AppendInteger(out, wideMinusOne, 9);
  EXPECT_EQ(out, "-1");
  // A text fills its field up to a zero byte, or the whole field.
  const uint8_t text[] = {'a', 'b', 0, 'z'};
  EXPECT_EQ(StringBytes(text, 4), "ab");
  EXPECT_EQ(StringBytes(text, 2), "ab");
}

}  // namespace
}  // namespace kor::tool
