#include "engine/streams/reader.h"

#include <gtest/gtest.h>

#include "engine/base/exceptions.h"
#include "engine/streams/text_stream_reader.h"
#include "tests/support/string_stream.h"

namespace kor {
namespace {

Ref<TTextStreamReader> ReaderOver(const std::string& text) {
  return MakeRef<TTextStreamReader>(MakeRef<test::TStringInputStream>(text));
}

TEST(ReaderTest, KeywordIsFoundIgnoringCaseByItsPosition) {
  struct {
    const char* Text;
    int Expected;  // 0: a syntax error
  } cases[] = {{"TABLE", 1}, {"CompFunc", 2}, {"end", 3}, {"ENDTABLE", 0}, {"TABL", 0}};
  for (const auto& c : cases) {
    auto reader = ReaderOver(c.Text);
    if (c.Expected == 0) {
      EXPECT_THROW(ReadKeyword(*reader, {"TABLE", "COMPFUNC", "END"}), EReaderSyntaxError) << c.Text;
    } else {
      EXPECT_EQ(ReadKeyword(*reader, {"TABLE", "COMPFUNC", "END"}), c.Expected) << c.Text;
    }
  }
}

TEST(ReaderTest, IntegerInRangeAcceptsTheBoundsAndNothingOutside) {
  struct {
    const char* Text;
    bool Accepted;
  } cases[] = {{"1", true}, {"10", true}, {"0", false}, {"11", false}, {"-1", false}};
  for (const auto& c : cases) {
    auto reader = ReaderOver(c.Text);
    if (c.Accepted) {
      EXPECT_EQ(ReadIntegerInRange(*reader, 1, 10), std::stoi(c.Text));
    } else {
      EXPECT_THROW(ReadIntegerInRange(*reader, 1, 10), EReaderSyntaxError) << c.Text;
    }
  }
}

}  // namespace
}  // namespace kor
