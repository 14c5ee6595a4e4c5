#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

#include "engine/tables/comp_func.h"
#include "engine/tables/record_type.h"

// A record comparison: orders two records of one record type by a list of
// parts, each a field and the comparator for it; the first part that
// differs decides. It is the key order of every index (the B-tree calls
// CompareRecords at each step), so each part keeps what comparing needs in
// one place: the field's offset and size, its bit in the null bitmap, and
// the comparator. The engine's own comparator classes are final and are
// called directly, without a virtual call; only other classes go through
// TFieldCompFunc::Compare.
//
// Key definitions, the two forms that name the parts:
//   text (structure file)  FIELD fieldName compFuncName, then FIELD ... again
//                          or END; names case-insensitive
//   wire (open-table request), all Integers:
//     OFFSET  SIZE  DESCRIPTION
//     0       4     part count n, 1..kMaxKeyParts
//     4+8i    4     field number of part i, 1..FieldCount() of the type
//     8+8i    4     comparator number of part i, 1..Count() of the
//                   engine's comparators

namespace kor {

// The most parts a key definition read from a request may have.
inline constexpr int32_t kMaxKeyParts = 10000;

class TRecordCompFunc final : public TRCObject {
 public:
  // Takes over the reference to `recordType`.
  explicit TRecordCompFunc(Ref<TRecordType> recordType);

  // Appends a part: `field` ordered by `compFunc` (reference taken over).
  // The record type need not be frozen yet. REQUIRES: 1 <= field <=
  // FieldCount() of the type and compFunc->Accepts(the field's type).
  void AddPart(int32_t field, Ref<TFieldCompFunc> compFunc);

  int32_t PartCount() const { return static_cast<int32_t>(Parts.size()); }
  // REQUIRES (both): 1 <= part <= PartCount().
  int32_t PartField(int32_t part) const;
  // A new reference to the part's comparator.
  Ref<TFieldCompFunc> PartCompFunc(int32_t part) const;
  // The type whose records this compares, borrowed.
  const TRecordType& RecordType() const { return *Type; }

  // Orders records a and b of RecordType() on their first `count` parts
  // (-1: all parts; 0 parts always give 0): -1, 0 or 1. Allocates nothing.
  // REQUIRES: RecordType().Frozen(), -1 <= count <= PartCount().
  int CompareRecords(const unsigned char* a, const unsigned char* b, int32_t count) const;

  // True when `other` has the same number of parts and, part by part, the
  // same field and the very same comparator object. Borrows `other`.
  // REQUIRES: other compares records of the same record type object.
  bool SameAs(const TRecordCompFunc& other) const;

 private:
  // How a part compares two present values; the comparator classes that
  // are final get a case of their own.
  enum class TKind : uint8_t { Int8, Int16, Int32, Int64, IntN, String, Double, Other };
  struct TPart {
    int32_t Offset;
    int32_t Size;
    int32_t BitmapIndex;  // byte of the part's bit, counted from the bitmap
    unsigned char BitMask;
    TKind Kind;
    const TFieldCompFunc* CompFunc;  // held by CompFuncs
    const TFieldType* FieldType;     // held by Type
  };
  static int ComparePresent(const TPart& part, const unsigned char* a, const unsigned char* b);

  Ref<TRecordType> Type;
  std::vector<TPart> Parts;
  // Parallel to Parts.
  std::vector<int32_t> Fields;
  std::vector<Ref<TFieldCompFunc>> CompFuncs;
};

// Reads a key definition in its text form over `recordType` (taking a
// reference to it) with the comparators of `compFuncs`. A field the type
// lacks, a comparator not in `compFuncs`, or one that does not accept its
// field's type raises EReaderSyntaxError. Borrows the reader.
Ref<TRecordCompFunc> ReadKeyDefinition(TReader& reader, TRecordType& recordType,
                                       const TFieldCompFuncVector& compFuncs);

// The same in its wire form. A number out of range or a comparator that
// does not accept its field's type raises EReaderSyntaxError; input that
// ends early, EReaderEof.
Ref<TRecordCompFunc> ReadKeyDefinitionBinary(TReader& reader, TRecordType& recordType,
                                             const TFieldCompFuncVector& compFuncs);

// Writes the wire form of `compFunc`, numbering its comparators by their
// positions in `compFuncs`. REQUIRES: every part's comparator is in
// `compFuncs`; 1 <= PartCount() <= kMaxKeyParts.
void WriteKeyDefinitionBinary(TWriter& writer, const TRecordCompFunc& compFunc,
                              const TFieldCompFuncVector& compFuncs);

}  // namespace kor
