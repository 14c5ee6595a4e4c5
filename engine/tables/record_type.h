#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/fatal.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

#include "engine/tables/field_type.h"

// A record type: the layout of every record the engine handles (table rows,
// index keys, write-set entries, the records a client sends and receives),
// each a flat byte buffer of RecordSize() bytes.
//
// Record layout for fields 1..n of sizes s1..sn, frozen with a null bitmap:
//   OFFSET              SIZE                DESCRIPTION
//   0                   s1                  field 1
//   s1                  s2                  field 2
//   ...                 ...                 ...
//   s1+...+s(n-1)       sn                  field n
//   B = s1+...+sn       (n - 1) / 8 + 1     null bitmap: field i is present
//                                           when bit (i - 1) % 8 of byte
//                                           B + (i - 1) / 8 is 1, null when 0
// Fields are packed in declaration order with no alignment or padding. A
// type frozen without a bitmap ends at B and has no null fields. A record
// of zero bytes therefore has every field null (without a bitmap: every
// field zero).
//
// Example: INTEGER 8, STRING 30, DOUBLE with a bitmap lie at offsets 0, 8
// and 38; the bitmap is the byte at 46 (bits 0, 1, 2); the record is 47
// bytes.
//
// Life cycle: fields are added before Freeze, records are handled only
// after it. Field numbers run from 1 to FieldCount(); anything else is a
// broken invariant of the caller (FailIf). Names are compared ignoring the
// case of A to Z; two fields may share a name, a lookup finds the first.

namespace kor {

class TRecordType final : public TRCObject {
 public:
  // The largest record: sizes and offsets are int32 everywhere (on the wire
  // too). Totals are computed in 64 bits and checked against it.
  static constexpr int64_t kMaxRecordSize = std::numeric_limits<int32_t>::max();

  TRecordType() = default;

  // Appends a field at offset RecordSize(); returns its number (the new
  // FieldCount()). Takes over the reference to `fieldType`.
  // REQUIRES: !Frozen(); RecordSize() + fieldType->Size() <= kMaxRecordSize.
  int32_t AddField(std::string_view name, Ref<TFieldType> fieldType);
  // Ends the layout, adding the null bitmap when asked.
  // REQUIRES: !Frozen(); FieldCount() > 0; the bitmap fits kMaxRecordSize.
  void Freeze(bool withNullBitmap);

  bool Frozen() const { return IsFrozen; }
  bool HasNullBitmap() const { return BitmapOffset != 0; }
  // Bytes of the bitmap of a type with `fieldCount` fields (>= 1).
  static int32_t NullBitmapSize(int32_t fieldCount) { return (fieldCount - 1) / 8 + 1; }

  int32_t FieldCount() const { return static_cast<int32_t>(Offsets.size()); }
  // The first field named `name` (case of A to Z ignored); -1 when none.
  int32_t FieldNumber(std::string_view name) const;
  // REQUIRES (all five): 1 <= field <= FieldCount().
  const std::string& FieldName(int32_t field) const;
  // A new reference to the field's type.
  Ref<TFieldType> FieldTypeOf(int32_t field) const;
  // The field's type, borrowed: valid while this record type lives.
  const TFieldType& FieldTypeAt(int32_t field) const;
  int32_t FieldSize(int32_t field) const;
  int32_t FieldOffset(int32_t field) const;

  // Bytes used so far; after Freeze, the size of a whole record.
  int32_t RecordSize() const { return static_cast<int32_t>(Size); }
  // Offset of the null bitmap; 0 when the type has none.
  int32_t NullBitmapOffset() const { return BitmapOffset; }

  // Record operations. REQUIRES (all): Frozen(), 1 <= field <= FieldCount(),
  // `record` points at RecordSize() bytes.
  //
  // True only when the type has a bitmap and the field's bit is 0.
  bool IsNull(const unsigned char* record, int32_t field) const;
  // Marks the field null. REQUIRES: HasNullBitmap().
  void SetNull(unsigned char* record, int32_t field) const;
  // Marks the field present; nothing without a bitmap.
  void SetPresent(unsigned char* record, int32_t field) const;
  // The field's bytes in the record; null when the field is null.
  const unsigned char* FieldPtr(const unsigned char* record, int32_t field) const;
  unsigned char* FieldPtr(unsigned char* record, int32_t field) const;
  // With a value, copies FieldSize(field) bytes from it and marks the field
  // present; with null, marks the field null (REQUIRES: HasNullBitmap()).
  void SetField(unsigned char* record, int32_t field, const void* value) const;

  // A new zero-filled record (every field null). REQUIRES: Frozen().
  std::unique_ptr<unsigned char[]> NewRecord() const;
  // Fills the record with zeros. REQUIRES: Frozen().
  void ClearRecord(unsigned char* record) const;

  // The type as a client sees it (the describe-table reply): WriteInteger
  // of the field count, then per field WriteIdent of its name and
  // WriteFieldType. Borrows the writer.
  void WriteRecordType(TWriter& writer) const;

 private:
  void CheckField(int32_t field) const { FailIf(field < 1 || field > FieldCount()); }
  // A field of a record: the layout must be final.
  void CheckRecordField(int32_t field) const {
    FailIf(!IsFrozen || field < 1 || field > FieldCount());
  }
  unsigned char* BitmapByte(unsigned char* record, int32_t field) const {
    return record + BitmapOffset + (field - 1) / 8;
  }
  static unsigned char BitmapMask(int32_t field) {
    return static_cast<unsigned char>(1u << ((field - 1) % 8));
  }

  // Parallel lists, index field - 1.
  std::vector<std::string> Names;
  std::vector<Ref<TFieldType>> Types;
  std::vector<int32_t> Offsets;
  std::vector<int32_t> Sizes;
  int64_t Size = 0;
  int32_t BitmapOffset = 0;
  bool IsFrozen = false;
};

// Reads the structure file's form of a record type: "FIELD name type", then
// "FIELD name type" again or "END"; the type as ReadFieldType reads it. The
// result is frozen with a null bitmap. Malformed input, and a record that
// would outgrow kMaxRecordSize, raise EReaderSyntaxError (EReaderEof when
// the input ends). Borrows the reader.
Ref<TRecordType> ReadRecordType(TReader& reader, const TFieldTypeClassVector& registry);

// ---- Inline record operations ----

inline bool TRecordType::IsNull(const unsigned char* record, int32_t field) const {
  CheckRecordField(field);
  if (BitmapOffset == 0) return false;
  return (record[BitmapOffset + (field - 1) / 8] & BitmapMask(field)) == 0;
}

inline void TRecordType::SetNull(unsigned char* record, int32_t field) const {
  CheckRecordField(field);
  FailIf(BitmapOffset == 0);
  *BitmapByte(record, field) &= static_cast<unsigned char>(~BitmapMask(field));
}

inline void TRecordType::SetPresent(unsigned char* record, int32_t field) const {
  CheckRecordField(field);
  if (BitmapOffset == 0) return;
  *BitmapByte(record, field) |= BitmapMask(field);
}

inline const unsigned char* TRecordType::FieldPtr(const unsigned char* record,
                                                  int32_t field) const {
  if (IsNull(record, field)) return nullptr;
  return record + Offsets[field - 1];
}

inline unsigned char* TRecordType::FieldPtr(unsigned char* record, int32_t field) const {
  if (IsNull(record, field)) return nullptr;
  return record + Offsets[field - 1];
}

inline void TRecordType::SetField(unsigned char* record, int32_t field, const void* value) const {
  if (value == nullptr) {
    SetNull(record, field);
    return;
  }
  SetPresent(record, field);
  // memmove: a caller may copy a field of a record onto the same record.
  memmove(record + Offsets[field - 1], value, static_cast<size_t>(Sizes[field - 1]));
}

}  // namespace kor
