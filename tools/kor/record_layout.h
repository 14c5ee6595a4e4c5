#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kor::tool {

// The kinds of field, by their field type registry numbers (as the describe
// table command sends them).
enum class TFieldKind : int32_t { Integer = 1, String = 2, Double = 3 };

// "INTEGER", "STRING" or "DOUBLE".
const char* KindName(TFieldKind kind);

struct TField {
  std::string Name;
  TFieldKind Kind = TFieldKind::Integer;
  int32_t Size = 0;    // bytes
  int32_t Offset = 0;  // in the record
};

// The byte layout of the engine's records, mirrored on the client side:
// fields packed in order at their widths, no alignment, then a null bitmap
// of (n - 1) / 8 + 1 bytes in which bit (i mod 8) of byte (i / 8) is set
// when field i (from 0) is present. A record of zero bytes has every field
// null. View records (the wire), stored records (the table file, with the
// two time fields in front) and key prefixes all have this form.
class TRecordLayout {
 public:
  // REQUIRES: not frozen; 1 <= size.
  void AddField(std::string name, TFieldKind kind, int32_t size);
  // Adds the null bitmap; fields can no longer be added.
  void Freeze();

  int32_t FieldCount() const { return static_cast<int32_t>(Fields.size()); }
  // REQUIRES: 0 <= i < FieldCount().
  const TField& Field(int32_t i) const { return Fields[static_cast<size_t>(i)]; }
  const std::vector<TField>& AllFields() const { return Fields; }
  // The whole record, bitmap included. REQUIRES: frozen.
  int32_t RecordSize() const { return Size; }
  // The field of that name (case of A to Z ignored, first match), or -1.
  int32_t FieldNumber(std::string_view name) const;

  bool IsNull(const uint8_t* record, int32_t i) const {
    return (record[BitmapOffset + i / 8] & (1u << (i % 8))) == 0;
  }
  void SetPresent(uint8_t* record, int32_t i) const {
    record[BitmapOffset + i / 8] =
        static_cast<uint8_t>(record[BitmapOffset + i / 8] | (1u << (i % 8)));
  }
  const uint8_t* FieldBytes(const uint8_t* record, int32_t i) const {
    return record + Field(i).Offset;
  }
  uint8_t* FieldBytes(uint8_t* record, int32_t i) const { return record + Field(i).Offset; }

 private:
  std::vector<TField> Fields;
  int32_t Size = 0;
  int32_t BitmapOffset = 0;
  bool Frozen = false;
};

bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace kor::tool
