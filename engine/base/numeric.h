#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kor {

inline int32_t MinInt(int32_t a, int32_t b) { return a < b ? a : b; }

// -1, 0 or 1 as a is less than, equal to or greater than b.
inline int CompareInt(int32_t a, int32_t b) { return (a > b) - (a < b); }
inline int CompareUInt(uint32_t a, uint32_t b) { return (a > b) - (a < b); }
inline int CompareInt64(int64_t a, int64_t b) { return (a > b) - (a < b); }

// A total order on doubles: NaN equals NaN and sorts below every number,
// so a NaN key can be found again in an index. Ordered pairs compare as
// usual.
inline int CompareDouble(double a, double b) {
  if (a < b) return -1;
  if (a > b) return 1;
  if (a == b) return 0;
  bool aNan = a != a;
  bool bNan = b != b;
  if (aNan && bNan) return 0;
  return aNan ? -1 : 1;
}

// Adds an unsigned 32-bit amount, wrapping like the two-word addition with
// carry that the time stamps and counters were designed with.
inline int64_t AddToInt64(int64_t value, uint32_t amount) {
  return static_cast<int64_t>(static_cast<uint64_t>(value) + amount);
}

// 16 upper-case hexadecimal digits, high word first.
std::string Int64ToHex(int64_t value);
// 1 to 16 hexadecimal digits (either case), left-padded with zeros to 16;
// the caller guarantees the digits (more than 16 is a broken invariant).
int64_t HexToInt64(std::string_view digits);

// Byte helpers that do nothing for a count of 0 (and accept null pointers then).
inline void FillBytes(void* destination, size_t count, unsigned char value) {
  if (count != 0) memset(destination, value, count);
}
inline void CopyBytes(const void* source, void* destination, size_t count) {
  if (count != 0) memmove(destination, source, count);
}

// The file name of a path without its directory and extension.
std::string ExtractFileBaseName(std::string_view path);

// Little-endian encodes and decodes of fixed-width integers, for the wire
// and disk formats.
inline void EncodeInt32(unsigned char* p, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
inline int32_t DecodeInt32(const unsigned char* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}
inline void EncodeInt64(unsigned char* p, int64_t value) {
  uint64_t v = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline int64_t DecodeInt64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return static_cast<int64_t>(v);
}

}  // namespace kor
