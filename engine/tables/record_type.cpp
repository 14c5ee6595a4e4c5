#include "engine/tables/record_type.h"

#include "engine/base/containers.h"
#include "engine/base/exceptions.h"

namespace kor {

int32_t TRecordType::AddField(std::string_view name, Ref<TFieldType> fieldType) {
  FailIf(IsFrozen || !fieldType);
  int32_t size = fieldType->Size();
  FailIf(size <= 0 || Size + size > kMaxRecordSize);
  Names.emplace_back(name);
  Types.push_back(std::move(fieldType));
  Offsets.push_back(static_cast<int32_t>(Size));
  Sizes.push_back(size);
  Size += size;
  return FieldCount();
}

void TRecordType::Freeze(bool withNullBitmap) {
  FailIf(IsFrozen || Size <= 0);
  if (withNullBitmap) {
    int32_t bitmapSize = NullBitmapSize(FieldCount());
    FailIf(Size + bitmapSize > kMaxRecordSize);
    BitmapOffset = static_cast<int32_t>(Size);
    Size += bitmapSize;
  }
  IsFrozen = true;
}

int32_t TRecordType::FieldNumber(std::string_view name) const {
  for (size_t i = 0; i < Names.size(); ++i) {
    if (SameNameIgnoringCase(Names[i], name)) return static_cast<int32_t>(i + 1);
  }
  return -1;
}

const std::string& TRecordType::FieldName(int32_t field) const {
  CheckField(field);
  return Names[field - 1];
}

Ref<TFieldType> TRecordType::FieldTypeOf(int32_t field) const {
  CheckField(field);
  return Types[field - 1];
}

const TFieldType& TRecordType::FieldTypeAt(int32_t field) const {
  CheckField(field);
  return *Types[field - 1];
}

int32_t TRecordType::FieldSize(int32_t field) const {
  CheckField(field);
  return Sizes[field - 1];
}

int32_t TRecordType::FieldOffset(int32_t field) const {
  CheckField(field);
  return Offsets[field - 1];
}

std::unique_ptr<unsigned char[]> TRecordType::NewRecord() const {
  FailIf(!IsFrozen);
  return std::make_unique<unsigned char[]>(static_cast<size_t>(Size));  // zero-filled
}

void TRecordType::ClearRecord(unsigned char* record) const {
  FailIf(!IsFrozen);
  memset(record, 0, static_cast<size_t>(Size));
}

void TRecordType::WriteRecordType(TWriter& writer) const {
  writer.WriteInteger(FieldCount());
  for (int32_t field = 1; field <= FieldCount(); ++field) {
    writer.WriteIdent(Names[field - 1]);
    WriteFieldType(writer, *Types[field - 1]);
  }
}

Ref<TRecordType> ReadRecordType(TReader& reader, const TFieldTypeClassVector& registry) {
  Ref<TRecordType> recordType = MakeRef<TRecordType>();
  ReadKeyword(reader, {"FIELD"});
  for (;;) {
    std::string name = reader.ReadIdent();
    Ref<TFieldType> fieldType = ReadFieldType(registry, reader);
    // The record must still hold this field and the bitmap it will need.
    int64_t size = int64_t{recordType->RecordSize()} + fieldType->Size() +
                   TRecordType::NullBitmapSize(recordType->FieldCount() + 1);
    if (size > TRecordType::kMaxRecordSize) throw EReaderSyntaxError();
    recordType->AddField(name, std::move(fieldType));
    if (ReadKeyword(reader, {"FIELD", "END"}) == 2) break;
  }
  recordType->Freeze(true);
  return recordType;
}

}  // namespace kor
