#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/base/containers.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

#include "engine/tables/field_type.h"

// Field comparators: how two values of one field are ordered. Every index
// step calls one, so the value comparisons are inline, allocate nothing and
// take the bytes where they lie in the record.
//
// Rules every comparator follows:
//   1. A null field (a null pointer) sorts before every value; two nulls are
//      equal. Values are compared only when both are present.
//   2. The result is -1, 0 or 1.
//   3. The order is total: a value compares equal to itself, so a key can
//      always be found again in its index.
//
// Readers and writers are borrowed (TReader& / TWriter&), as for field types.

namespace kor {

// Registry numbers of the comparator classes, in registration order; on the
// wire and never changed.
inline constexpr int32_t kInternalCompFuncClass = -1;  // made by the engine for itself
inline constexpr int32_t kIntegerCompFuncClass = 1;
inline constexpr int32_t kStringCompFuncClass = 2;
inline constexpr int32_t kDoubleCompFuncClass = 3;

// Rule 1 for a pair of which at least one is null.
inline int CompareNullFields(const void* a, const void* b) {
  return (a != nullptr) - (b != nullptr);
}

class TFieldCompFunc : public TRCObject {
 public:
  // The comparator's number in the comparator registry; -1 for the engine's
  // own integer comparator.
  int32_t ClassNumber() const { return Class; }

  // `a` and `b` point at one field of two records, or are null when that
  // field is null; `fieldType` gives the width. REQUIRES: Accepts(fieldType).
  virtual int Compare(const void* a, const void* b, const TFieldType& fieldType) const = 0;
  // Whether this comparator may order fields of `fieldType`. The base
  // accepts nothing.
  virtual bool Accepts(const TFieldType& /*fieldType*/) const { return false; }
  // Writes the instance's parameters (not the class number); none by default.
  virtual void WriteCompFuncParameters(TWriter& /*writer*/) const {}

 protected:
  explicit TFieldCompFunc(int32_t classNumber) : Class(classNumber) {}
  ~TFieldCompFunc() override = default;

 private:
  int32_t Class;
};

// Orders INTEGER fields of n bytes as n-byte two's complement integers: an
// INTEGER 8 field orders like int64_t, an INTEGER 3 field like a signed
// 24-bit number.
class TIntegerCompFunc final : public TFieldCompFunc {
 public:
  explicit TIntegerCompFunc(int32_t classNumber) : TFieldCompFunc(classNumber) {}

  // Reads nothing.
  static Ref<TFieldCompFunc> ReadCompFuncParameters(TReader& reader, int32_t classNumber);

  int Compare(const void* a, const void* b, const TFieldType& fieldType) const override;
  // TIntegerType only.
  bool Accepts(const TFieldType& fieldType) const override;

  // Two present values of `size` bytes (size >= 1). Sizes 1, 2, 4 and 8
  // load each value whole; the rest take CompareValuesGeneral.
  static int CompareValues(const unsigned char* a, const unsigned char* b, int32_t size);
  // Any size >= 1, most significant part first: the top size mod 4 bytes
  // (or, for a multiple of 4, the top 4) as a signed 32-bit word with the
  // bytes in its high end, then each lower group of 4 bytes as an unsigned
  // word, until one differs.
  static int CompareValuesGeneral(const unsigned char* a, const unsigned char* b, int32_t size);
};

// Orders STRING fields by a collation: a weight per byte value, read from a
// collation string.
//
// Collation string: the characters in ascending order; "=" between two
// characters gives them the same weight; a backslash takes the next
// character literally ("\=" is the equals sign, "\\" the backslash). The
// zero byte counts as listed first, with weight 0, so an "=" at the very
// start gives the next character weight 0: it is then ignored in
// comparisons ("=-ab" ignores hyphens). Listed characters get weights 1, 2,
// ... in order; characters not listed keep 255, equal to each other and after
// every listed one. Each "=" steps the next weight back by one, so "a==b"
// gives b the weight before a's. Malformed (EReaderSyntaxError): a character
// given twice, "=" at the end, "=" that would step below weight 0, a lone
// backslash at the end, more weights than fit in a byte.
//
// Comparison walks both texts skipping weight-0 characters; a text ends at
// its field's last byte or at a zero byte; the first differing weight
// decides and a text that is a prefix of the other sorts first.
class TStringCompFunc final : public TFieldCompFunc {
 public:
  // Raises EReaderSyntaxError for a malformed collation.
  TStringCompFunc(int32_t classNumber, std::string_view collation);

  // Reads the collation (ReadString).
  static Ref<TFieldCompFunc> ReadCompFuncParameters(TReader& reader, int32_t classNumber);

  int Compare(const void* a, const void* b, const TFieldType& fieldType) const override;
  // TStringType only.
  bool Accepts(const TFieldType& fieldType) const override;
  // Writes Collation() (WriteString).
  void WriteCompFuncParameters(TWriter& writer) const override;

  // Two present texts in fields of `size` bytes.
  int CompareValues(const unsigned char* a, const unsigned char* b, int32_t size) const;

  // The collation rebuilt from the weights: for each weight 1..254 the byte
  // values having it in ascending order, joined by "=", with "=" and the
  // backslash escaped. It may differ from the string read: equal characters
  // come out in byte order and ignored ones are dropped.
  std::string Collation() const;
  unsigned char Weight(unsigned char c) const { return Weights[c]; }

 private:
  // Weights[0] == 0 always: the zero byte ends a text.
  unsigned char Weights[256];
};

// Orders DOUBLE fields numerically, +0 equal to -0, with a NaN equal to any
// NaN and below every number (rule 3; CompareDouble).
class TDoubleCompFunc final : public TFieldCompFunc {
 public:
  explicit TDoubleCompFunc(int32_t classNumber) : TFieldCompFunc(classNumber) {}

  // Reads nothing.
  static Ref<TFieldCompFunc> ReadCompFuncParameters(TReader& reader, int32_t classNumber);

  int Compare(const void* a, const void* b, const TFieldType& fieldType) const override;
  // TDoubleType only.
  bool Accepts(const TFieldType& fieldType) const override;

  // Two present 8-byte values.
  static int CompareValues(const unsigned char* a, const unsigned char* b);
};

// Makes a comparator of one class from its parameters in `reader`; the new
// comparator carries `classNumber`.
using TFieldCompFuncFactory = Ref<TFieldCompFunc> (*)(TReader& reader, int32_t classNumber);

// The comparator registry: "INTEGERCOMPFUNC", "STRINGCOMPFUNC",
// "DOUBLECOMPFUNC" at the numbers above, filled at construction and never
// changed.
class TFieldCompFuncClassVector final : public TClassVector<TFieldCompFuncFactory> {
 public:
  TFieldCompFuncClassVector();
};

// The engine's named comparator instances, in declaration order (clients
// address them by position).
class TFieldCompFuncVector final : public TObjectVector {
 public:
  // Takes over the reference; returns the comparator, still owned here.
  TFieldCompFunc* Add(std::string_view name, Ref<TFieldCompFunc> compFunc);
  // REQUIRES: 1 <= position <= Count(). A new reference.
  Ref<TFieldCompFunc> Get(int32_t position) const { return GetAs<TFieldCompFunc>(position); }
  // The position of the entry holding this very object; -1 when none does.
  int32_t PositionOf(const TFieldCompFunc& compFunc) const;
};

// Reads a comparator name (case ignored) and that class's parameters;
// returns the new comparator. An unknown name or bad parameters raise
// EReaderSyntaxError.
Ref<TFieldCompFunc> ReadCompFunc(const TFieldCompFuncClassVector& registry, TReader& reader);

// Writes the comparator's class number (WriteInteger), then its parameters.
void WriteCompFunc(TWriter& writer, const TFieldCompFunc& compFunc);

// ---- Inline value comparisons ----

namespace comp_func_internal {

// A little-endian integer of sizeof(T) bytes at `p`, in one load where the
// machine is little-endian.
template <typename T>
inline T LoadLittleEndian(const unsigned char* p) {
  using TUnsigned = std::make_unsigned_t<T>;
  TUnsigned value;
  if constexpr (std::endian::native == std::endian::little) {
    memcpy(&value, p, sizeof value);
  } else {
    value = 0;
    for (size_t i = sizeof value; i-- > 0;) value = static_cast<TUnsigned>(value << 8 | p[i]);
  }
  return static_cast<T>(value);
}

}  // namespace comp_func_internal

inline int TIntegerCompFunc::CompareValues(const unsigned char* a, const unsigned char* b,
                                           int32_t size) {
  using comp_func_internal::LoadLittleEndian;
  switch (size) {
    case 1:
      return CompareInt(static_cast<int8_t>(a[0]), static_cast<int8_t>(b[0]));
    case 2:
      return CompareInt(LoadLittleEndian<int16_t>(a), LoadLittleEndian<int16_t>(b));
    case 4:
      return CompareInt(LoadLittleEndian<int32_t>(a), LoadLittleEndian<int32_t>(b));
    case 8:
      return CompareInt64(LoadLittleEndian<int64_t>(a), LoadLittleEndian<int64_t>(b));
    default:
      return CompareValuesGeneral(a, b, size);
  }
}

inline int TStringCompFunc::CompareValues(const unsigned char* a, const unsigned char* b,
                                          int32_t size) const {
  const unsigned char* endA = a + size;
  const unsigned char* endB = b + size;
  for (;;) {
    // Skip ignored characters; the zero byte (weight 0 too) ends the text.
    while (a != endA && *a != 0 && Weights[*a] == 0) ++a;
    while (b != endB && *b != 0 && Weights[*b] == 0) ++b;
    unsigned weightA = a == endA ? 0 : Weights[*a];
    unsigned weightB = b == endB ? 0 : Weights[*b];
    if (weightA != weightB) return weightA < weightB ? -1 : 1;
    // Equal weights are both 0 (both texts ended) or both real characters.
    if (weightA == 0) return 0;
    ++a;
    ++b;
  }
}

inline int TDoubleCompFunc::CompareValues(const unsigned char* a, const unsigned char* b) {
  double x;
  double y;
  memcpy(&x, a, sizeof x);
  memcpy(&y, b, sizeof y);
  return CompareDouble(x, y);
}

}  // namespace kor
