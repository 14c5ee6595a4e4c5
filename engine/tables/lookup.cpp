#include "engine/tables/lookup.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

#include "engine/tables/table_index.h"

namespace kor {

TLookup::TLookup(Ref<TTable> lookedUpTable) : Table(std::move(lookedUpTable)) {
  FailIf(!Table);
  KeyBuffer = Table->KeyRecordType().NewRecord();
}

TLookup::~TLookup() = default;

void TLookup::CheckRoomForPart() const {
  if (PartCount() >= Table->KeyFieldCount()) throw EReaderSyntaxError();
}

int32_t TLookup::PartSize(int32_t part) const {
  FailIf(part < 0 || part >= Table->KeyFieldCount());
  return Table->KeyRecordType().FieldSize(TTableIndex::kFirstKeyField + part);
}

int32_t TLookup::NextPartSize() const {
  CheckRoomForPart();
  return PartSize(PartCount());
}

void TLookup::AddConstantPart(const unsigned char* value) {
  CheckRoomForPart();
  Table->KeyRecordType().SetField(KeyBuffer.get(), TTableIndex::kFirstKeyField + PartCount(),
                                  value);
  Parts.push_back(-1);
}

void TLookup::AddFieldPart(int32_t viewField) {
  CheckRoomForPart();
  // The referencing view is not built yet; it checks the field.
  if (viewField < 1) throw EReaderSyntaxError();
  Parts.push_back(viewField);
}

void TLookup::AddResultField(int32_t viewField) {
  if (viewField < 1 || viewField > Table->ViewRecordType().FieldCount()) {
    throw EReaderSyntaxError();
  }
  Results.push_back(viewField);
}

void TLookup::Fill(const TRecordType& viewType, unsigned char* viewRecord,
                   int32_t firstResultField) {
  const TRecordType& keyType = Table->KeyRecordType();
  const int32_t parts = PartCount();
  for (int32_t part = 0; part < parts; ++part) {
    const int32_t field = Parts[static_cast<size_t>(part)];
    if (field == -1) continue;  // a constant, already in the key
    keyType.SetField(KeyBuffer.get(), TTableIndex::kFirstKeyField + part,
                     viewType.FieldPtr(viewRecord, field));
  }
  Table->PositionByKey(KeyBuffer.get(), parts, true);
  const bool match = Table->MatchesKey(KeyBuffer.get(), parts) && Table->ReadCurrent();
  const TRecordType& lookedUpType = Table->ViewRecordType();
  const unsigned char* lookedUpRecord = Table->ViewBuffer();
  for (int32_t i = 0; i < ResultFieldCount(); ++i) {
    const unsigned char* value =
        match ? lookedUpType.FieldPtr(lookedUpRecord, Results[static_cast<size_t>(i)]) : nullptr;
    viewType.SetField(viewRecord, firstResultField + i, value);
  }
}

}  // namespace kor
