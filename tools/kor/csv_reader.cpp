#include "tools/kor/csv_reader.h"

#include <cerrno>
#include <cstring>

#include "tools/kor/kor_error.h"

namespace kor::tool {

namespace {

constexpr size_t kChunkSize = 64 * 1024;

}  // namespace

TCsvReader::TCsvReader(FILE* in, std::string name)
    : In(in), Name(std::move(name)), Chunk(kChunkSize) {}

int TCsvReader::Peek() {
  if (ChunkPos == ChunkEnd) {
    ChunkPos = 0;
    ChunkEnd = fread(Chunk.data(), 1, Chunk.size(), In);
    if (ChunkEnd == 0) {
      if (ferror(In)) throw TKorError(Name + ": cannot read: " + strerror(errno));
      return kEnd;
    }
  }
  return static_cast<unsigned char>(Chunk[ChunkPos]);
}

int TCsvReader::Get() {
  const int c = Peek();
  if (c == kEnd) return c;
  ++ChunkPos;
  ++Consumed;
  if (c == '\n') ++CurrentLine;
  return c;
}

void TCsvReader::SkipLine() {
  for (int c = Get(); c != kEnd && c != '\n'; c = Get()) {
  }
}

void TCsvReader::EndField(bool quoted) {
  Ends.push_back(Text.size());
  QuotedFields.push_back(quoted ? 1 : 0);
}

TCsvReader::TResult TCsvReader::Next() {
  if (AtStart) {
    AtStart = false;
    // A byte order mark, as spreadsheet programs write.
    if (Peek() == 0xEF) {
      Get();
      if (Get() != 0xBB || Get() != 0xBF) {
        RecordLine = 1;
        Why = "starts with bytes that are not text";
        SkipLine();
        return TResult::Malformed;
      }
    }
  }
  // Empty lines between records are skipped.
  for (;;) {
    const int c = Peek();
    if (c == kEnd) return TResult::End;
    if (c == '\n') {
      Get();
    } else if (c == '\r') {
      Get();
    } else {
      break;
    }
  }
  RecordLine = CurrentLine;
  Text.clear();
  Ends.clear();
  QuotedFields.clear();
  for (;;) {
    bool quoted = false;
    if (Peek() == '"') {
      Get();
      quoted = true;
      for (;;) {
        const int c = Get();
        if (c == kEnd) {
          Why = "a quoted field is not closed";
          return TResult::Malformed;
        }
        if (c == '"') {
          if (Peek() != '"') break;
          Get();
        }
        Text += static_cast<char>(c);
      }
    } else {
      for (int c = Peek(); c != kEnd && c != ',' && c != '\n' && c != '\r'; c = Peek()) {
        if (c == '"') {
          Why = "a quote inside an unquoted field";
          SkipLine();
          return TResult::Malformed;
        }
        Text += static_cast<char>(Get());
      }
    }
    EndField(quoted);
    const int c = Get();
    if (c == ',') continue;
    if (c == '\r' && Peek() == '\n') Get();
    if (c == kEnd || c == '\n' || c == '\r') return TResult::Record;
    Why = "text after a closing quote";
    SkipLine();
    return TResult::Malformed;
  }
}

}  // namespace kor::tool
