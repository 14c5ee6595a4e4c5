#include "engine/tables/record_comp_func.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

#include "engine/streams/container_reading.h"

namespace kor {

TRecordCompFunc::TRecordCompFunc(Ref<TRecordType> recordType) : Type(std::move(recordType)) {
  FailIf(!Type);
}

void TRecordCompFunc::AddPart(int32_t field, Ref<TFieldCompFunc> compFunc) {
  FailIf(!compFunc);
  const TFieldType& fieldType = Type->FieldTypeAt(field);  // checks the field number
  FailIf(!compFunc->Accepts(fieldType));

  TPart part{};
  part.Offset = Type->FieldOffset(field);
  part.Size = fieldType.Size();
  part.BitmapIndex = (field - 1) / 8;
  part.BitMask = static_cast<unsigned char>(1u << ((field - 1) % 8));
  part.CompFunc = compFunc.Get();
  part.FieldType = &fieldType;
  // The comparator classes are final, so a successful cast means that
  // class's own Compare, which the cases below do inline.
  if (dynamic_cast<const TIntegerCompFunc*>(part.CompFunc) != nullptr) {
    switch (part.Size) {
      case 1:
        part.Kind = TKind::Int8;
        break;
      case 2:
        part.Kind = TKind::Int16;
        break;
      case 4:
        part.Kind = TKind::Int32;
        break;
      case 8:
        part.Kind = TKind::Int64;
        break;
      default:
        part.Kind = TKind::IntN;
        break;
    }
  } else if (dynamic_cast<const TStringCompFunc*>(part.CompFunc) != nullptr) {
    part.Kind = TKind::String;
  } else if (dynamic_cast<const TDoubleCompFunc*>(part.CompFunc) != nullptr) {
    part.Kind = TKind::Double;
  } else {
    part.Kind = TKind::Other;
  }
  Parts.push_back(part);
  Fields.push_back(field);
  CompFuncs.push_back(std::move(compFunc));
}

int32_t TRecordCompFunc::PartField(int32_t part) const {
  FailIf(part < 1 || part > PartCount());
  return Fields[part - 1];
}

Ref<TFieldCompFunc> TRecordCompFunc::PartCompFunc(int32_t part) const {
  FailIf(part < 1 || part > PartCount());
  return CompFuncs[part - 1];
}

inline int TRecordCompFunc::ComparePresent(const TPart& part, const unsigned char* a,
                                           const unsigned char* b) {
  using comp_func_internal::LoadLittleEndian;
  switch (part.Kind) {
    case TKind::Int8:
      return CompareInt(static_cast<int8_t>(*a), static_cast<int8_t>(*b));
    case TKind::Int16:
      return CompareInt(LoadLittleEndian<int16_t>(a), LoadLittleEndian<int16_t>(b));
    case TKind::Int32:
      return CompareInt(LoadLittleEndian<int32_t>(a), LoadLittleEndian<int32_t>(b));
    case TKind::Int64:
      return CompareInt64(LoadLittleEndian<int64_t>(a), LoadLittleEndian<int64_t>(b));
    case TKind::IntN:
      return TIntegerCompFunc::CompareValuesGeneral(a, b, part.Size);
    case TKind::String:
      return static_cast<const TStringCompFunc*>(part.CompFunc)->CompareValues(a, b, part.Size);
    case TKind::Double:
      return TDoubleCompFunc::CompareValues(a, b);
    case TKind::Other:
      break;
  }
  return part.CompFunc->Compare(a, b, *part.FieldType);
}

int TRecordCompFunc::CompareRecords(const unsigned char* a, const unsigned char* b,
                                    int32_t count) const {
  if (count == -1) count = PartCount();
  FailIf(count < 0 || count > PartCount() || !Type->Frozen());
  const int32_t bitmapOffset = Type->NullBitmapOffset();  // 0: no field is null
  const unsigned char* bitmapA = a + bitmapOffset;
  const unsigned char* bitmapB = b + bitmapOffset;
  const TPart* end = Parts.data() + count;
  for (const TPart* part = Parts.data(); part != end; ++part) {
    const unsigned char* fieldA = a + part->Offset;
    const unsigned char* fieldB = b + part->Offset;
    if (bitmapOffset != 0) {
      bool presentA = (bitmapA[part->BitmapIndex] & part->BitMask) != 0;
      bool presentB = (bitmapB[part->BitmapIndex] & part->BitMask) != 0;
      if (!presentA || !presentB) {
        int result =
            part->Kind == TKind::Other
                ? part->CompFunc->Compare(presentA ? fieldA : nullptr, presentB ? fieldB : nullptr,
                                          *part->FieldType)
                : CompareNullFields(presentA ? fieldA : nullptr, presentB ? fieldB : nullptr);
        if (result != 0) return result;
        continue;
      }
    }
    int result = ComparePresent(*part, fieldA, fieldB);
    if (result != 0) return result;
  }
  return 0;
}

bool TRecordCompFunc::SameAs(const TRecordCompFunc& other) const {
  FailIf(other.Type.Get() != Type.Get());
  if (other.PartCount() != PartCount()) return false;
  for (size_t i = 0; i < Parts.size(); ++i) {
    if (other.Fields[i] != Fields[i] || other.CompFuncs[i].Get() != CompFuncs[i].Get()) {
      return false;
    }
  }
  return true;
}

namespace {

// Adds a part read from outside: a comparator that does not accept the
// field's type is an input error here, checked before AddPart would fail.
void AddReadPart(TRecordCompFunc& compFunc, int32_t field, Ref<TFieldCompFunc> fieldCompFunc) {
  if (!fieldCompFunc->Accepts(compFunc.RecordType().FieldTypeAt(field))) {
    throw EReaderSyntaxError();
  }
  compFunc.AddPart(field, std::move(fieldCompFunc));
}

}  // namespace

Ref<TRecordCompFunc> ReadKeyDefinition(TReader& reader, TRecordType& recordType,
                                       const TFieldCompFuncVector& compFuncs) {
  Ref<TRecordCompFunc> result = MakeRef<TRecordCompFunc>(Ref<TRecordType>::Share(recordType));
  ReadKeyword(reader, {"FIELD"});
  for (;;) {
    std::string fieldName = reader.ReadIdent();
    std::string compFuncName = reader.ReadIdent();
    int32_t field = recordType.FieldNumber(fieldName);
    int32_t position = compFuncs.IndexOf(compFuncName);
    if (field == -1 || position == -1) throw EReaderSyntaxError();
    AddReadPart(*result, field, compFuncs.Get(position));
    if (ReadKeyword(reader, {"FIELD", "END"}) == 2) break;
  }
  return result;
}

Ref<TRecordCompFunc> ReadKeyDefinitionBinary(TReader& reader, TRecordType& recordType,
                                             const TFieldCompFuncVector& compFuncs) {
  Ref<TRecordCompFunc> result = MakeRef<TRecordCompFunc>(Ref<TRecordType>::Share(recordType));
  int32_t count = ReadIntegerInRange(reader, 1, kMaxKeyParts);
  for (int32_t i = 0; i < count; ++i) {
    int32_t field = ReadIntegerInRange(reader, 1, recordType.FieldCount());
    int32_t position = ReadIndexNumber(compFuncs, reader);
    AddReadPart(*result, field, compFuncs.Get(position));
  }
  return result;
}

void WriteKeyDefinitionBinary(TWriter& writer, const TRecordCompFunc& compFunc,
                              const TFieldCompFuncVector& compFuncs) {
  FailIf(compFunc.PartCount() < 1 || compFunc.PartCount() > kMaxKeyParts);
  writer.WriteInteger(compFunc.PartCount());
  for (int32_t part = 1; part <= compFunc.PartCount(); ++part) {
    int32_t position = compFuncs.PositionOf(*compFunc.PartCompFunc(part));
    FailIf(position == -1);
    writer.WriteInteger(compFunc.PartField(part));
    writer.WriteInteger(position);
  }
}

}  // namespace kor
