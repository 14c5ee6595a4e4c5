// STRING bytes in each output form: UTF-8 recognised exactly, the rest
// escaped so that it reads back unambiguously.

#include "tools/kor/text_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace kor::tool {
namespace {

TEST(TextEscapeTest, RecognisesOnlyValidShortestUtf8) {
  struct TCase {
    std::string Text;
    size_t Length;
  };
  const TCase cases[] = {
      {"a", 1},
      {"\xc3\xa9", 2},          // é
      {"\xe2\x82\xac", 3},      // €
      {"\xf0\x9f\x98\x80", 4},  // U+1F600
      {"\xc0\x80", 0},          // overlong zero
      {"\xe0\x80\xaf", 0},      // overlong slash
      {"\xed\xa0\x80", 0},      // a surrogate
      {"\xf4\x90\x80\x80", 0},  // above U+10FFFF
      {"\xe2\x82", 0},          // cut short
      {"\x80", 0},              // a continuation byte alone
      {"\xff", 0},
      {"\xc3(", 0},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Utf8SequenceLength(c.Text, 0), c.Length) << testing::PrintToString(c.Text);
  }
}

TEST(TextEscapeTest, WritesEachFormat) {
  struct TCase {
    std::string Text;
    std::string Json;
    std::string Csv;
    std::string Display;
    size_t Width;
  };
  const TCase cases[] = {
      {"plain", "\"plain\"", "plain", "plain", 5},
      {"", "\"\"", "\"\"", "", 0},
      {"a,b", "\"a,b\"", "\"a,b\"", "a,b", 3},
      {"say \"hi\"", "\"say \\\"hi\\\"\"", "\"say \"\"hi\"\"\"", "say \"hi\"", 8},
      {"two\nlines\r", "\"two\\nlines\\r\"", "\"two\nlines\r\"", "two\\x0alines\\x0d", 16},
      {"t\tb\\\x01\x7f", "\"t\\tb\\\\\\u0001\\u007f\"", "t\tb\\\x01\x7f", "t\\x09b\\\\\\x01\\x7f",
       16},
      {"Z\xc3\xa9\xff", "\"Z\xc3\xa9\\udcff\"", "Z\xc3\xa9\xff", "Z\xc3\xa9\\xff", 6},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Text));
    std::string json;
    AppendJsonString(json, c.Text);
    EXPECT_EQ(json, c.Json);
    std::string csv;
    AppendCsvField(csv, c.Text);
    EXPECT_EQ(csv, c.Csv);
    std::string display;
    EXPECT_EQ(AppendDisplayText(display, c.Text), c.Width);
    EXPECT_EQ(display, c.Display);
  }
}

}  // namespace
}  // namespace kor::tool
