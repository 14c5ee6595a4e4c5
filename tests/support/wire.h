#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/numeric.h"

namespace kor::test {

// Wire bytes for the protocol tests: requests and expected replies are
// spelled as concatenations of these.

// A 4-byte little-endian integer.
inline std::string Int(int32_t value) {
  unsigned char bytes[4];
  EncodeInt32(bytes, value);
  return std::string(reinterpret_cast<const char*>(bytes), 4);
}

// Several integers in a row.
inline std::string Ints(std::initializer_list<int32_t> values) {
  std::string bytes;
  for (int32_t value : values) bytes += Int(value);
  return bytes;
}

// An 8-byte little-endian integer (counter values).
inline std::string Int64(int64_t value) {
  unsigned char bytes[8];
  EncodeInt64(bytes, value);
  return std::string(reinterpret_cast<const char*>(bytes), 8);
}

// A wire string: its length, then its bytes.
inline std::string Str(std::string_view text) {
  return Int(static_cast<int32_t>(text.size())) + std::string(text);
}

// One record as the engine lays it out: fields at their widths in order,
// then the null bitmap (bit i - 1 set when field i is present).
class TRecordBytes {
 public:
  TRecordBytes& Int(int64_t value, int width) {
    std::string field;
    for (int i = 0; i < width; ++i) field += static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
    return Add(field, true);
  }
  // A STRING field: the text, then zero bytes up to the width.
  TRecordBytes& Str(std::string_view text, int width) {
    std::string field(text);
    field.resize(static_cast<size_t>(width), '\0');
    return Add(field, true);
  }
  TRecordBytes& Double(double value) {
    std::string field(8, '\0');
    std::memcpy(field.data(), &value, 8);
    return Add(field, true);
  }
  // A null field of `width` bytes (all zero).
  TRecordBytes& Null(int width) { return Add(std::string(static_cast<size_t>(width), '\0'), false); }

  operator std::string() const {
    std::string bitmap((Present.size() + 7) / 8, '\0');
    for (size_t i = 0; i < Present.size(); ++i) {
      if (Present[i]) bitmap[i / 8] = static_cast<char>(bitmap[i / 8] | (1 << (i % 8)));
    }
    return Fields + bitmap;
  }

 private:
  TRecordBytes& Add(const std::string& field, bool present) {
    Fields += field;
    Present.push_back(present);
    return *this;
  }

  std::string Fields;
  std::vector<bool> Present;
};

inline TRecordBytes Record() { return TRecordBytes(); }

}  // namespace kor::test
