#include "tools/kor/field_values.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/base/numeric.h"

namespace kor::tool {

namespace {

bool IsNegative(const uint8_t* bytes, int32_t size) { return (bytes[size - 1] & 0x80) != 0; }

// True when bytes 8.. of a wider field only repeat the sign of byte 7, so
// the value fits 64 bits.
bool FitsInt64(const uint8_t* bytes, int32_t size) {
  if (size <= 8) return true;
  const uint8_t fill = (bytes[7] & 0x80) != 0 ? 0xFF : 0x00;
  for (int32_t i = 8; i < size; ++i) {
    if (bytes[i] != fill) return false;
  }
  return true;
}

// The decimal digits of a wide value, by repeated division of its magnitude
// (32-bit words, least significant first) by 10^9.
void AppendWideInteger(std::string& out, const uint8_t* bytes, int32_t size) {
  const bool negative = IsNegative(bytes, size);
  std::vector<uint32_t> words((static_cast<size_t>(size) + 3) / 4, 0);
  uint32_t carry = 1;
  for (int32_t i = 0; i < size; ++i) {
    uint32_t b = bytes[i];
    if (negative) {  // two's complement: invert and add one
      b = (~b & 0xFF) + carry;
      carry = b >> 8;
      b &= 0xFF;
    }
    words[static_cast<size_t>(i) / 4] |= b << (8 * (i % 4));
  }
  std::string digits;
  for (;;) {
    uint64_t remainder = 0;
    bool zero = true;
    for (size_t w = words.size(); w-- > 0;) {
      const uint64_t value = remainder << 32 | words[w];
      words[w] = static_cast<uint32_t>(value / 1000000000u);
      remainder = value % 1000000000u;
      zero = zero && words[w] == 0;
    }
    char group[9];
    for (int d = 8; d >= 0; --d) {
      group[d] = static_cast<char>('0' + remainder % 10);
      remainder /= 10;
    }
    digits.insert(0, group, 9);
    if (zero) break;
  }
  const size_t first = digits.find_first_not_of('0');
  if (negative) out += '-';
  out.append(digits, first == std::string::npos ? digits.size() - 1 : first);
}

// Decimal text into a field of `size` bytes wider than 8: the magnitude is
// built byte by byte and then checked against the signed range.
bool ParseWideInteger(std::string_view digits, bool negative, uint8_t* bytes, int32_t size) {
  std::memset(bytes, 0, static_cast<size_t>(size));
  for (char c : digits) {
    uint32_t carry = static_cast<uint32_t>(c - '0');
    for (int32_t i = 0; i < size; ++i) {
      const uint32_t value = bytes[i] * 10u + carry;
      bytes[i] = static_cast<uint8_t>(value);
      carry = value >> 8;
    }
    if (carry != 0) return false;
  }
  // The magnitude must stay below 2^(8 size - 1), or equal it when negative.
  if ((bytes[size - 1] & 0x80) != 0) {
    if (!negative) return false;
    for (int32_t i = 0; i < size - 1; ++i) {
      if (bytes[i] != 0) return false;
    }
    if (bytes[size - 1] != 0x80) return false;
    return true;  // the lowest value is its own two's complement
  }
  if (negative) {
    uint32_t carry = 1;
    for (int32_t i = 0; i < size; ++i) {
      const uint32_t value = (~bytes[i] & 0xFFu) + carry;
      bytes[i] = static_cast<uint8_t>(value);
      carry = value >> 8;
    }
  }
  return true;
}

bool ParseInteger(std::string_view text, uint8_t* bytes, int32_t size, std::string& why) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    why = "not a whole number";
    return false;
  }
  int64_t value = 0;
  auto [end, error] =
      std::from_chars(text.data() + (text[0] == '+' ? 1 : 0), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size()) {
    const int bits = 8 * (size < 8 ? size : 8);
    const bool fits =
        bits == 64 || (value >= -(int64_t{1} << (bits - 1)) && value < (int64_t{1} << (bits - 1)));
    if (fits) {
      const uint64_t pattern = static_cast<uint64_t>(value);
      for (int32_t i = 0; i < size; ++i) {
        bytes[i] = i < 8 ? static_cast<uint8_t>(pattern >> (8 * i)) : (value < 0 ? 0xFF : 0x00);
      }
      return true;
    }
  } else if (size > 8 && ParseWideInteger(digits, negative, bytes, size)) {
    return true;
  }
  why = "out of range for INTEGER " + std::to_string(size);
  return false;
}

bool ParseDouble(std::string_view text, uint8_t* bytes, std::string& why) {
  double value = 0;
  if (text == "NaN") {
    value = std::nan("");
  } else if (text == "Infinity") {
    value = HUGE_VAL;
  } else if (text == "-Infinity") {
    value = -HUGE_VAL;
  } else {
    const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (text.empty() || end != text.data() + text.size() || error == std::errc::invalid_argument) {
      why = "not a number";
      return false;
    }
    if (error == std::errc::result_out_of_range) {
      why = "out of range for DOUBLE";
      return false;
    }
  }
  std::memcpy(bytes, &value, sizeof value);
  return true;
}

bool ParseString(std::string_view text, uint8_t* bytes, int32_t size, std::string& why) {
  if (text.size() > static_cast<size_t>(size)) {
    why = std::to_string(text.size()) + " bytes, more than the field's " + std::to_string(size);
    return false;
  }
  if (text.find('\0') != std::string_view::npos) {
    why = "holds a zero byte, which would end the text";
    return false;
  }
  std::memcpy(bytes, text.data(), text.size());
  std::memset(bytes + text.size(), 0, static_cast<size_t>(size) - text.size());
  return true;
}

}  // namespace

int64_t IntegerValue(const uint8_t* bytes, int32_t size) {
  const int32_t low = size < 8 ? size : 8;
  uint64_t bits = 0;
  for (int32_t i = low - 1; i >= 0; --i) bits = bits << 8 | bytes[i];
  if (low < 8 && (bytes[low - 1] & 0x80) != 0) bits |= ~uint64_t{0} << (8 * low);
  return static_cast<int64_t>(bits);
}

void AppendInteger(std::string& out, const uint8_t* bytes, int32_t size) {
  if (!FitsInt64(bytes, size)) return AppendWideInteger(out, bytes, size);
  char text[24];
  auto [end, error] = std::to_chars(text, text + sizeof text, IntegerValue(bytes, size));
  out.append(text, end);
}

void AppendDouble(std::string& out, const uint8_t* bytes) {
  double value = 0;
  std::memcpy(&value, bytes, sizeof value);
  if (std::isnan(value)) {
    out += "NaN";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-Infinity" : "Infinity";
  } else {
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    out.append(text, end);
  }
}

std::string_view StringBytes(const uint8_t* bytes, int32_t size) {
  const void* zero = std::memchr(bytes, 0, static_cast<size_t>(size));
  const size_t length = zero == nullptr
                            ? static_cast<size_t>(size)
                            : static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes);
  return {reinterpret_cast<const char*>(bytes), length};
}

bool ParseFieldValue(const TField& field, std::string_view text, uint8_t* bytes, std::string& why) {
  switch (field.Kind) {
    case TFieldKind::Integer:
      return ParseInteger(text, bytes, field.Size, why);
    case TFieldKind::String:
      return ParseString(text, bytes, field.Size, why);
    case TFieldKind::Double:
      return ParseDouble(text, bytes, why);
  }
  return false;
}

}  // namespace kor::tool
