#include "engine/tables/record_copier.h"

#include <cstring>

#include "engine/base/fatal.h"

namespace kor {

TRecordCopier::TRecordCopier(Ref<TRecordType> sourceType, Ref<TRecordType> targetType)
    : Source(std::move(sourceType)), Target(std::move(targetType)) {
  FailIf(!Source || !Target);
}

void TRecordCopier::AddMapping(int32_t sourceField, int32_t targetField) {
  int32_t size = Source->FieldSize(sourceField);  // checks the field numbers
  FailIf(Target->FieldSize(targetField) != size);
  TMapping mapping{};
  mapping.SourceField = sourceField;
  mapping.TargetField = targetField;
  mapping.SourceOffset = Source->FieldOffset(sourceField);
  mapping.TargetOffset = Target->FieldOffset(targetField);
  mapping.Size = size;
  mapping.SourceBitmapIndex = (sourceField - 1) / 8;
  mapping.TargetBitmapIndex = (targetField - 1) / 8;
  mapping.SourceMask = static_cast<unsigned char>(1u << ((sourceField - 1) % 8));
  mapping.TargetMask = static_cast<unsigned char>(1u << ((targetField - 1) % 8));
  Mappings.push_back(mapping);
}

void TRecordCopier::CopyFields(const unsigned char* source, unsigned char* target) const {
  FailIf(!Source->Frozen() || !Target->Frozen());
  // Bitmap offsets are known only once the types are frozen; 0 means none.
  const int32_t sourceBitmap = Source->NullBitmapOffset();
  const int32_t targetBitmap = Target->NullBitmapOffset();
  for (const TMapping& m : Mappings) {
    bool present = sourceBitmap == 0 || (source[sourceBitmap + m.SourceBitmapIndex] & m.SourceMask);
    if (present) {
      // memmove: source and target may be one record.
      memmove(target + m.TargetOffset, source + m.SourceOffset, static_cast<size_t>(m.Size));
      if (targetBitmap != 0) target[targetBitmap + m.TargetBitmapIndex] |= m.TargetMask;
    } else {
      FailIf(targetBitmap == 0);
      target[targetBitmap + m.TargetBitmapIndex] &= static_cast<unsigned char>(~m.TargetMask);
    }
  }
}

void TRecordCopier::CopyRecord(const unsigned char* source, unsigned char* target) const {
  Target->ClearRecord(target);
  CopyFields(source, target);
}

int32_t TRecordCopier::SourceFieldFor(int32_t targetField) const {
  for (const TMapping& m : Mappings) {
    if (m.TargetField == targetField) return m.SourceField;
  }
  return -1;
}

}  // namespace kor
