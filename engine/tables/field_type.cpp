#include "engine/tables/field_type.h"

#include "engine/base/fatal.h"

#include "engine/streams/container_reading.h"

namespace kor {

TFieldType::TFieldType(int32_t classNumber, int32_t size) : Class(classNumber), Width(size) {
  FailIf(size <= 0);
}

Ref<TFieldType> TIntegerType::ReadTypeParameters(TReader& reader, int32_t classNumber) {
  int32_t size = ReadIntegerInRange(reader, 1, kMaxFieldSize);
  return MakeRef<TIntegerType>(classNumber, size);
}

void TIntegerType::WriteTypeParameters(TWriter& writer) const { writer.WriteInteger(Size()); }

Ref<TFieldType> TStringType::ReadTypeParameters(TReader& reader, int32_t classNumber) {
  int32_t size = ReadIntegerInRange(reader, 1, kMaxFieldSize);
  return MakeRef<TStringType>(classNumber, size);
}

void TStringType::WriteTypeParameters(TWriter& writer) const { writer.WriteInteger(Size()); }

Ref<TFieldType> TDoubleType::ReadTypeParameters(TReader& /*reader*/, int32_t classNumber) {
  return MakeRef<TDoubleType>(classNumber);
}

void TDoubleType::WriteTypeParameters(TWriter& /*writer*/) const {}

TFieldTypeClassVector::TFieldTypeClassVector() {
  Add("INTEGER", &TIntegerType::ReadTypeParameters);
  Add("STRING", &TStringType::ReadTypeParameters);
  Add("DOUBLE", &TDoubleType::ReadTypeParameters);
  FailIf(Count() != kDoubleTypeClass);
}

Ref<TFieldType> ReadFieldType(const TFieldTypeClassVector& registry, TReader& reader) {
  int32_t classNumber = ReadIndex(registry, reader);
  return registry.Get(classNumber)(reader, classNumber);
}

void WriteFieldType(TWriter& writer, const TFieldType& fieldType) {
  writer.WriteInteger(fieldType.ClassNumber());
  fieldType.WriteTypeParameters(writer);
}

}  // namespace kor
