#include "engine/streams/reader.h"

#include "engine/base/containers.h"
#include "engine/base/exceptions.h"

namespace kor {

int ReadKeyword(TReader& reader, std::initializer_list<std::string_view> keywords) {
  std::string word = reader.ReadIdent();
  int position = 1;
  for (std::string_view keyword : keywords) {
    if (SameNameIgnoringCase(word, keyword)) return position;
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
