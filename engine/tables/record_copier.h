#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/tables/record_type.h"

// A record copier moves field values between records of two record types
// by a list of (source field, target field) pairs: a table row into an
// index key, a client's view record into a stored row and back. A null
// source field makes its target field null. Each pair keeps both offsets,
// the size and both null bits, so a copy is a loop of byte moves.

namespace kor {

class TRecordCopier final : public TRCObject {
 public:
  // Takes over both references. The types need not be frozen yet.
  TRecordCopier(Ref<TRecordType> sourceType, Ref<TRecordType> targetType);

  // Appends a pair. Only the sizes are compared, not the types.
  // REQUIRES: both field numbers valid for their types, equal FieldSize.
  void AddMapping(int32_t sourceField, int32_t targetField);
  int32_t MappingCount() const { return static_cast<int32_t>(Mappings.size()); }

  // For every pair in order, the target field := the source field (null
  // when the source field is null). Target fields in no pair are left as
  // they are.
  // REQUIRES: both types frozen; a target type with a null bitmap wherever a
  // source field may be null; `source` and `target` records of the two types.
  void CopyFields(const unsigned char* source, unsigned char* target) const;
  // Clears the target (every field null), then CopyFields.
  void CopyRecord(const unsigned char* source, unsigned char* target) const;

  // The source field of the first pair whose target is `targetField`; -1
  // when there is none.
  int32_t SourceFieldFor(int32_t targetField) const;

  const TRecordType& SourceType() const { return *Source; }
  const TRecordType& TargetType() const { return *Target; }

 private:
  struct TMapping {
    int32_t SourceField;
    int32_t TargetField;
    int32_t SourceOffset;
    int32_t TargetOffset;
    int32_t Size;
    int32_t SourceBitmapIndex;  // byte of the field's bit, from the bitmap
    int32_t TargetBitmapIndex;
    unsigned char SourceMask;
    unsigned char TargetMask;
  };

  Ref<TRecordType> Source;
  Ref<TRecordType> Target;
  std::vector<TMapping> Mappings;
};

}  // namespace kor
