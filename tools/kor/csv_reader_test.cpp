// CSV records with the line each starts on; malformed records are named
// and skipped, and reading goes on after them.

#include "tools/kor/csv_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/kor/kor_error.h"

namespace kor::tool {
namespace {

// Each record as "L<line>:" and its fields joined by "|", a quoted field in
// <>; a malformed one as "L<line>!" and the reason.
std::vector<std::string> ReadAll(const std::string& text) {
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  std::vector<std::string> records;
  if (text.empty()) in = fopen("/dev/null", "rb");
  TCsvReader reader(in, "test.csv");
  for (;;) {
    const TCsvReader::TResult result = reader.Next();
    if (result == TCsvReader::TResult::End) break;
    std::string record = "L" + std::to_string(reader.Line());
    if (result == TCsvReader::TResult::Malformed) {
      records.push_back(record + "!" + reader.Problem());
      continue;
    }
    record += ":";
    for (size_t i = 0; i < reader.FieldCount(); ++i) {
      if (i > 0) record += "|";
      const std::string field(reader.Field(i));
      record += reader.Quoted(i) ? "<" + field + ">" : field;
    }
    records.push_back(record);
  }
  fclose(in);
  return records;
}

TEST(CsvReaderTest, ReadsRecordsWithTheirLines) {
  struct TCase {
    std::string Text;
    std::vector<std::string> Records;
  };
  const TCase cases[] = {
      {"", {}},
      {"a,b\n", {"L1:a|b"}},
      {"a,b\r\nc,d", {"L1:a|b", "L2:c|d"}},
      {"\n\r\na\n\n", {"L3:a"}},
      {",\n", {"L1:|"}},
      {"\"\",x\n", {"L1:<>|x"}},
      {"\"a,\"\"b\"\"\nc\",d\nnext\n", {"L1:<a,\"b\"\nc>|d", "L3:next"}},
      {"\xef\xbb\xbfid,name\n", {"L1:id|name"}},
      {std::string("\xef\x00\x00\nok\n", 7), {"L1!starts with bytes that are not text", "L2:ok"}},
      {"\"open\nrest", {"L1!a quoted field is not closed"}},
      {"ab\"c,d\nok\n", {"L1!a quote inside an unquoted field", "L2:ok"}},
      {"\"a\"b,c\nok\n", {"L1!text after a closing quote", "L2:ok"}},
      {std::string("z\0y,\xff\n", 6), {std::string("L1:z\0y|\xff", 8)}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Text));
    EXPECT_EQ(ReadAll(c.Text), c.Records);
  }
}

}  // namespace
}  // namespace kor::tool
