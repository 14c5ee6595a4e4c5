#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/kor/record_layout.h"

namespace kor::tool {

// Field values between their record bytes and text.
//
//   INTEGER n  n-byte two's complement, least significant byte first;
//              text: decimal with an optional sign, of any width.
//   STRING n   up to n bytes, ended by a zero byte when shorter; text: the
//              bytes as they are (no character-set conversion). A zero byte
//              cannot be stored inside a text.
//   DOUBLE     IEEE 754, little-endian; text: the shortest decimal that
//              reads back to the same value, "NaN", "Infinity", "-Infinity".
//
// Formatting appends to a caller's buffer and allocates nothing of its own
// for fields up to 8 bytes wide.

// Appends the decimal value of an INTEGER field of `size` bytes.
void AppendInteger(std::string& out, const uint8_t* bytes, int32_t size);
// Appends the value of a DOUBLE field.
void AppendDouble(std::string& out, const uint8_t* bytes);
// The text of a STRING field: its bytes up to the first zero byte.
std::string_view StringBytes(const uint8_t* bytes, int32_t size);
// The value of an INTEGER field of at most 8 bytes, sign-extended.
int64_t IntegerValue(const uint8_t* bytes, int32_t size);

// Stores `text` as a value of `field` at `bytes` (field.Size bytes, all
// written). False, with `why` saying what is wrong, when the text is not a
// value of that field.
bool ParseFieldValue(const TField& field, std::string_view text, uint8_t* bytes, std::string& why);

}  // namespace kor::tool
