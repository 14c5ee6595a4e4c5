#include "engine/streams/text_stream_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

#include "tests/support/string_stream.h"

namespace kor {
namespace {

using namespace std::string_literals;
using test::TStringInputStream;

constexpr unsigned char kEnd = TTextStreamReader::kEndOfInput;
const std::string kSyntax = "EReaderSyntaxError";
const std::string kEof = "EReaderEof";

Ref<TTextStreamReader> ReaderOver(Ref<TStringInputStream> source, std::string name = {}) {
  return MakeRef<TTextStreamReader>(std::move(source), std::move(name));
}

Ref<TTextStreamReader> ReaderOf(std::string text, std::string name = {}) {
  return ReaderOver(MakeRef<TStringInputStream>(std::move(text)), std::move(name));
}

// The class name of the EZException that `read` raises; empty when it
// raises none.
template <typename F>
std::string RaisedBy(F&& read) {
  try {
    read();
  } catch (const EZException& e) {
    return e.ClassName();
  }
  return {};
}

std::string Quoted(size_t length) { return "'" + std::string(length, 'x') + "'"; }

// One table per token operation: the text, the value read and the character
// left as Current; or the text and the exception it raises.
template <typename T>
struct TValueCase {
  std::string Text;
  T Expected;
  unsigned char Next;
};

struct TErrorCase {
  std::string Text;
  std::string Raised;
};

template <typename T, typename F>
void CheckValues(const std::vector<TValueCase<T>>& cases, F read) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    auto reader = ReaderOf(c.Text);
    EXPECT_EQ(read(*reader), c.Expected);
    EXPECT_EQ(reader->Current(), c.Next);
  }
}

template <typename F>
void CheckErrors(const std::vector<TErrorCase>& cases, F read) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    auto reader = ReaderOf(c.Text);
    EXPECT_EQ(RaisedBy([&] { read(*reader); }), c.Raised);
  }
}

TEST(TextStreamReaderTest, ReadIdent) {
  auto read = [](TTextStreamReader& r) { return r.ReadIdent(); };
  CheckValues<std::string>(
      {
          {"{ note } abc_1", "ABC_1", kEnd},
          {"abc-def", "ABC", '-'},
          {"_x9 ", "_X9", ' '},
          {"MixedCase1", "MIXEDCASE1", kEnd},
          {"\t\r\n name", "NAME", kEnd},
          {"{ a { b } c", "C", kEnd},  // comments do not nest
          {"{}x{y}", "X", '{'},
          {std::string(32, 'a'), std::string(32, 'A'), kEnd},
          {"ab\x1a"
           "cd",
           "AB", kEnd},
      },
      read);
  CheckErrors(
      {
          {std::string(33, 'a'), kSyntax},
          {"1abc", kSyntax},
          {"-x", kSyntax},
          {"\xe9t\xe9", kSyntax},
          {"", kEof},
          {" \t\r\n ", kEof},
          {"{ never closed", kEof},
          {"{ a } { b", kEof},
          {"\x1a"
           "abc",
           kEof},
          {"\x0c"
           "abc",
           kSyntax},
          {" \x01", kSyntax},
      },
      read);
}

TEST(TextStreamReaderTest, ReadInteger) {
  auto read = [](TTextStreamReader& r) { return r.ReadInteger(); };
  CheckValues<int32_t>(
      {
          {"-2147483648", INT32_MIN, kEnd},
          {"2147483647", INT32_MAX, kEnd},
          {"+5", 5, kEnd},
          {"007", 7, kEnd},
          {"0", 0, kEnd},
          {"-0", 0, kEnd},
          {"000000000000012", 12, kEnd},  // 15 characters
          {"$FFFFFFFF", -1, kEnd},
          {"$ffffffff", -1, kEnd},
          {"$7FFFFFFF", INT32_MAX, kEnd},
          {"$80000000", INT32_MIN, kEnd},
          {"$0", 0, kEnd},
          {"$000000001", 1, kEnd},  // leading zeros are not significant
          {"0x10", 16, kEnd},
          {"0X1f", 31, kEnd},
          {"12 34", 12, ' '},
          {"12,", 12, ','},
          {"12{c}", 12, '{'},
          {"1_0", 1, '_'},
      },
      read);
  CheckErrors(
      {
          {"2147483648", kSyntax},
          {"-2147483649", kSyntax},
          {"-$10", kSyntax},
          {"+$10", kSyntax},
          {"+0x10", kSyntax},
          {"12AB", kSyntax},
          {"1234567890123456", kSyntax},  // 16 characters
          {"0000000000000012", kSyntax},
          {"$100000000", kSyntax},  // 9 significant digits
          {"$FG", kSyntax},
          {"$", kSyntax},
          {"0x", kSyntax},
          {"+", kSyntax},
          {"-", kSyntax},
          {"abc", kSyntax},
          {"", kEof},
      },
      read);
}

TEST(TextStreamReaderTest, ReadString) {
  auto read = [](TTextStreamReader& r) { return r.ReadString(); };
  CheckValues<std::string>(
      {
          {"'it''s'", "it's", kEnd},
          {"''", "", kEnd},
          {"''''", "'", kEnd},
          {"'a'#13#10'b'", "a\r\nb", kEnd},
          {"'ab'#13#10'cd' x", "ab\r\ncd", ' '},
          {"#$41", "A", kEnd},
          {"#0x41", "A", kEnd},
          {"#65#66", "AB", kEnd},
          {"#0", "\0"s, kEnd},
          {"#255", "\xff", kEnd},
          {"'\xe9'", "\xe9", kEnd},
          {"'{not a comment}'", "{not a comment}", kEnd},
          {"'a'+ 'b'", "ab", kEnd},
          {"'a'+#66", "aB", kEnd},
          {"'a'+{note}\n\t'b'", "ab", kEnd},
          {"'a' +'b'", "a", ' '},  // a blank ends the string before the "+"
          {"'a'+x", "a", 'x'},     // the "+" is consumed
          {Quoted(1023), std::string(1023, 'x'), kEnd},
          {Quoted(1022) + "#65", std::string(1022, 'x') + "A", kEnd},
          {"'" + std::string(1022, 'x') + "'''", std::string(1022, 'x') + "'", kEnd},
      },
      read);
  CheckErrors(
      {
          {"#256", kSyntax},
          {"#-1", kSyntax},
          {"# 65", kSyntax},
          {"#x", kSyntax},
          {"#65A", kSyntax},
          {"'ab\ncd'", kSyntax},
          {"'ab\rcd'", kSyntax},
          {"'a\tb'", kSyntax},
          {"'abc", kSyntax},  // the end of input inside a quoted part
          {"'ab\x1a'", kSyntax},
          {"abc", kSyntax},
          {"", kEof},
          {"'a'+", kEof},
          {"'a'+ {note}", kEof},
          {Quoted(1024), kSyntax},
          {Quoted(1023) + "#65", kSyntax},
          {"'" + std::string(1023, 'x') + "'''", kSyntax},
      },
      read);
}

TEST(TextStreamReaderTest, ReadInt64) {
  auto read = [](TTextStreamReader& r) { return r.ReadInt64(); };
  CheckValues<int64_t>(
      {
          {"$0", 0, kEnd},
          {"$0000", 0, kEnd},
          {"$000000000000000001", 1, kEnd},
          {"$ff", 255, kEnd},
          {"$100000000", int64_t{1} << 32, kEnd},
          {"$FFFFFFFFFFFFFFFF", -1, kEnd},
          {"$7FFFFFFFFFFFFFFF", INT64_MAX, kEnd},
          {"$8000000000000000", INT64_MIN, kEnd},
          {"$0000000000000000000123456789abcdef", 0x0123456789ABCDEF, kEnd},
          {" {c} $1 ", 1, ' '},
          {"$12G", 0x12, 'G'},
      },
      read);
  CheckErrors(
      {
          {"$10000000000000000", kSyntax},  // 17 significant digits
          {"$", kSyntax},
          {"$g", kSyntax},
          {"12", kSyntax},
          {"-$1", kSyntax},
          {"", kEof},
      },
      read);
}

TEST(TextStreamReaderTest, ReadBytes) {
  struct TCase {
    std::string Text;
    int32_t Count;
    std::string Expected;  // the bytes read, or the exception raised
    unsigned char Next;
  };
  const std::vector<TCase> cases = {
      {"%\x03\0\0\0abc%"s, 3, "abc", kEnd},
      {"  {c} %\x03\0\0\0%\n%% x"s, 3, "%\n%", ' '},  // raw bytes are not tokens
      {"%\0\0\0\0%x"s, 0, "", 'x'},
      {"%\x04\0\0\0abcd%"s, 3, kSyntax, 0},
      {"%\xff\xff\xff\xff%"s, 3, kSyntax, 0},
      {"%\x03\0\0\0abcX"s, 3, kSyntax, 0},
      {"%\x03\0\0\0abc"s, 3, kSyntax, 0},
      {"x", 3, kSyntax, 0},
      {"", 3, kEof, 0},
      // Inside the block the stream's own exception arrives.
      {"%\x03\0\0\0ab"s, 3, "EInputStreamEof", 0},
      {"%\x03\0"s, 3, "EInputStreamEof", 0},
  };
  // A source that hands out one byte per call makes the raw reads loop.
  for (int32_t chunk : {1, INT32_MAX}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Text);
      auto reader =
          ReaderOver(MakeRef<TStringInputStream>(c.Text, TStringInputStream::TEnd::Eof, chunk));
      std::string buffer(c.Count, '?');
      std::string raised = RaisedBy([&] { reader->ReadBytes(buffer.data(), c.Count); });
      if (raised.empty()) {
        EXPECT_EQ(buffer, c.Expected);
        EXPECT_EQ(reader->Current(), c.Next);
      } else {
        EXPECT_EQ(raised, c.Expected);
      }
    }
  }
}

TEST(TextStreamReaderTest, StartsOnASpaceAndReadsOnlyWhatItNeeds) {
  auto source = MakeRef<TStringInputStream>("ab");
  TStringInputStream& stream = *source;
  auto reader = ReaderOver(std::move(source));
  EXPECT_EQ(reader->Current(), ' ');
  EXPECT_EQ(stream.Consumed(), 0u);
  reader->NextChar();
  EXPECT_EQ(reader->Current(), 'a');
  EXPECT_EQ(stream.Consumed(), 1u);
  reader->NextChar();
  reader->NextChar();
  EXPECT_EQ(reader->Current(), kEnd);
  EXPECT_EQ(RaisedBy([&] { reader->NextChar(); }), kEof);
}

TEST(TextStreamReaderTest, ByteTwentySixEndsTheInput) {
  auto source = MakeRef<TStringInputStream>(
      "ab\x1a"
      "cd");
  TStringInputStream& stream = *source;
  auto reader = ReaderOver(std::move(source));
  EXPECT_EQ(reader->ReadIdent(), "AB");
  EXPECT_EQ(RaisedBy([&] { reader->ReadIdent(); }), kEof);
  EXPECT_EQ(stream.Consumed(), 3u);
}

TEST(TextStreamReaderTest, FailingSourceRaisesInputError) {
  auto reader = ReaderOver(MakeRef<TStringInputStream>("abc", TStringInputStream::TEnd::Failure));
  EXPECT_EQ(RaisedBy([&] { reader->ReadIdent(); }), "EReaderInputError");
}

TEST(TextStreamReaderTest, ReadsASequenceOfItemsWithTheReaderHelpers) {
  auto reader = ReaderOf(
      "TABLE 'people.dat' { file }\r\n"
      "\t7 $0000000100000002 %\x02\0\0\0hi% end"s);
  EXPECT_EQ(ReadKeyword(*reader, {"TABLE", "COMPFUNC", "END"}), 1);
  EXPECT_EQ(reader->ReadString(), "people.dat");
  EXPECT_EQ(ReadIntegerInRange(*reader, 1, 10), 7);
  EXPECT_EQ(reader->ReadInt64(), int64_t{0x0000000100000002});
  char bytes[2];
  reader->ReadBytes(bytes, 2);
  EXPECT_EQ(std::string(bytes, 2), "hi");
  EXPECT_EQ(ReadKeyword(*reader, {"TABLE", "COMPFUNC", "END"}), 3);
  EXPECT_EQ(RaisedBy([&] { reader->ReadIdent(); }), kEof);
}

TEST(TextStreamReaderTest, CountsLines) {
  auto reader = ReaderOf("A\nB\r\n\n{x\ny} C", "CONFIG.ZSR");
  EXPECT_EQ(reader->Line(), 1);
  reader->ReadIdent();
  EXPECT_EQ(reader->Line(), 1);  // Current is the line feed that ends line 1
  reader->ReadIdent();
  EXPECT_EQ(reader->Line(), 2);
  reader->ReadIdent();
  EXPECT_EQ(reader->Line(), 5);
  EXPECT_EQ(reader->Position(), "CONFIG.ZSR, line 5");
  EXPECT_EQ(ReaderOf("")->Position(), "line 1");
}

TEST(TextStreamReaderTest, LineOfAFailure) {
  auto reader = ReaderOf("A\n\n  12AB\n", "CONFIG.ZSR");
  reader->ReadIdent();
  EXPECT_EQ(RaisedBy([&] { reader->ReadInteger(); }), kSyntax);
  EXPECT_EQ(reader->Position(), "CONFIG.ZSR, line 3");
}

TEST(TextStreamReaderTest, CountsLineFeedsInsideByteBlocks) {
  // The stored length 10 is itself a line feed byte.
  auto reader = ReaderOf(
      "%\n\0\0\0"
      "01234\n6789%\nX"s);
  char bytes[10];
  reader->ReadBytes(bytes, 10);
  EXPECT_EQ(reader->Line(), 3);
  reader->ReadIdent();
  EXPECT_EQ(reader->Line(), 4);
}

}  // namespace
}  // namespace kor
