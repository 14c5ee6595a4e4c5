#include "engine/streams/reader.h"

#include "engine/base/exceptions.h"

namespace kor {

namespace {

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

int ReadKeyword(TReader& reader, std::initializer_list<std::string_view> keywords) {
  std::string word = reader.ReadIdent();
  int position = 1;
  for (std::string_view keyword : keywords) {
    if (SameText(word, keyword)) return position;
    ++position;
  }
  throw EReaderSyntaxError();
}

int32_t ReadIntegerInRange(TReader& reader, int32_t low, int32_t high) {
  int32_t value = reader.ReadInteger();
  if (value < low || value > high) throw EReaderSyntaxError();
  return value;
}

}  // namespace kor
