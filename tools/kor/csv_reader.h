#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kor::tool {

// Reads CSV (RFC 4180) records: fields split by commas, records by LF or
// CR LF; a field in double quotes may hold commas, quotes (doubled) and line
// ends. Empty lines are skipped, and a UTF-8 byte order mark at the start is
// dropped. Bytes are kept as they are.
//
// An unquoted empty field is told apart from a quoted one ("") so that the
// loader can read the first as null and the second as the empty text.
//
// The fields of the current record lie in one buffer that is reused, so
// reading allocates nothing per record once it has grown.
class TCsvReader {
 public:
  enum class TResult {
    Record,     // Fields() hold the next record
    Malformed,  // the record at Line() is not valid CSV (Problem() says why); skipped
    End,
  };

  // Borrows `in`, which stays open. `name` names it in messages.
  TCsvReader(FILE* in, std::string name);

  TResult Next();
  // The line on which the current record starts (1-based).
  int64_t Line() const { return RecordLine; }
  const std::string& Problem() const { return Why; }
  size_t FieldCount() const { return Ends.size(); }
  std::string_view Field(size_t i) const {
    const size_t start = i == 0 ? 0 : Ends[i - 1];
    return std::string_view(Text).substr(start, Ends[i] - start);
  }
  bool Quoted(size_t i) const { return QuotedFields[i] != 0; }
  // Bytes consumed so far, for progress.
  int64_t BytesRead() const { return Consumed; }

 private:
  static constexpr int kEnd = -1;
  int Peek();
  int Get();
  // Skips the rest of a malformed record's line.
  void SkipLine();
  void EndField(bool quoted);

  FILE* In;
  std::string Name;
  std::vector<char> Chunk;
  size_t ChunkPos = 0;
  size_t ChunkEnd = 0;
  int64_t Consumed = 0;
  int64_t CurrentLine = 1;
  int64_t RecordLine = 0;
  bool AtStart = true;
  std::string Text;
  std::vector<size_t> Ends;
  std::vector<uint8_t> QuotedFields;
  std::string Why;
};

}  // namespace kor::tool
