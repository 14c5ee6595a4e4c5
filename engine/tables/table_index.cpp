#include "engine/tables/table_index.h"

#include <cstring>

#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

#include "engine/tables/raw_table.h"
#include "engine/tables/table.h"

namespace kor {

void TTableIndex::CheckKeyFits(const TRecordCompFunc& comparison, const TIndexFile& indexFile) {
  const TRecordType& stored = comparison.RecordType();
  int64_t size = 8 + 8 + 4;  // !BEGTIME, !ENDTIME, !ADR
  for (int32_t part = 1; part <= comparison.PartCount(); ++part) {
    size += stored.FieldSize(comparison.PartField(part));
  }
  size += TRecordType::NullBitmapSize(kFirstKeyField - 1 + comparison.PartCount());
  // Far larger than any page either way.
  if (size > TRecordType::kMaxRecordSize) size = TRecordType::kMaxRecordSize;
  CheckKeyFitsPage(static_cast<int32_t>(size), indexFile.PageShift());
}

TTableIndex::TTableIndex(TRawTable& rawTable, Ref<TRecordCompFunc> comparison)
    : Owner(&rawTable), StoredOrder(std::move(comparison)) {
  TRecordType& stored = rawTable.StoredRecordType();
  FailIf(&StoredOrder->RecordType() != &stored);
  TTransactionMgr& manager = rawTable.TransactionMgr();
  const int32_t parts = StoredOrder->PartCount();

  KeyType = MakeRef<TRecordType>();
  FailIf(KeyType->AddField("!BEGTIME", Ref<TIntegerType>::Share(manager.StampType())) !=
         kBegTimeField);
  FailIf(KeyType->AddField("!ENDTIME", Ref<TIntegerType>::Share(manager.StampType())) !=
         kEndTimeField);
  FailIf(KeyType->AddField("!ADR", Ref<TIntegerType>::Share(manager.AddressType())) !=
         kAddressField);
  for (int32_t part = 1; part <= parts; ++part) {
    const int32_t field = StoredOrder->PartField(part);
    KeyType->AddField(stored.FieldName(field), stored.FieldTypeOf(field));
  }
  KeyType->Freeze(true);
  FailIf(KeyType->FieldOffset(kBegTimeField) != kBegTimeOffset ||
         KeyType->FieldOffset(kEndTimeField) != kEndTimeOffset ||
         KeyType->FieldOffset(kAddressField) != kAddressOffset);

  KeyOrder = MakeRef<TRecordCompFunc>(KeyType);
  for (int32_t part = 1; part <= parts; ++part) {
    KeyOrder->AddPart(kFirstKeyField + part - 1, StoredOrder->PartCompFunc(part));
  }
  KeyOrder->AddPart(kAddressField, Ref<TIntegerCompFunc>::Share(manager.AddressCompFunc()));

  KeyCopier = MakeRef<TRecordCopier>(Ref<TRecordType>::Share(stored), KeyType);
  KeyCopier->AddMapping(TRawTable::kBegTimeField, kBegTimeField);
  KeyCopier->AddMapping(TRawTable::kEndTimeField, kEndTimeField);
  for (int32_t part = 1; part <= parts; ++part) {
    KeyCopier->AddMapping(StoredOrder->PartField(part), kFirstKeyField + part - 1);
  }

  WorkKey = KeyType->NewRecord();
  Tree = MakeRef<TIndex>(Ref<TIndexFile>::Share(manager.IndexFile()), KeyType, KeyOrder);
  Cursor = MakeRef<TIndexPtr>(Tree);
}

TTableIndex::~TTableIndex() {
  Cursor.ReleaseLast();
  // Every view's cursor is gone with its view.
  Tree.ReleaseLast();
}

TTimeStamp TTableIndex::KeyBegTime(const unsigned char* key) {
  return DecodeInt64(key + kBegTimeOffset);
}

TTimeStamp TTableIndex::KeyEndTime(const unsigned char* key) {
  return DecodeInt64(key + kEndTimeOffset);
}

int32_t TTableIndex::KeyAddress(const unsigned char* key) {
  return DecodeInt32(key + kAddressOffset);
}

void TTableIndex::BuildKey(int32_t address, const unsigned char* record) {
  // Every key field but !ADR is mapped, so no clearing is needed first.
  KeyCopier->CopyFields(record, WorkKey.get());
  unsigned char bytes[4];
  EncodeInt32(bytes, address);
  KeyType->SetField(WorkKey.get(), kAddressField, bytes);
}

void TTableIndex::MakeKey(int32_t address, const unsigned char* record, unsigned char* key) {
  BuildKey(address, record);
  memcpy(key, WorkKey.get(), static_cast<size_t>(KeyType->RecordSize()));
}

void TTableIndex::InsertKey(const unsigned char* key, bool last) {
  if (last) {
    Cursor->Append(key);
  } else {
    Cursor->Insert(key);
  }
  Cursor->Detach();
}

void TTableIndex::SeekWorkKey() {
  Cursor->Seek(WorkKey.get(), -1, true);
  FailIf(Cursor->IsDetached() || Cursor->IsBOF() || Cursor->IsEOF());
  FailIf(Cursor->CompareEntry(WorkKey.get(), -1) != 0);
}

void TTableIndex::InsertEntry(int32_t address, const unsigned char* record) {
  BuildKey(address, record);
  Cursor->Insert(WorkKey.get());
  Cursor->Detach();
}

void TTableIndex::DeleteEntry(int32_t address, const unsigned char* record) {
  BuildKey(address, record);
  SeekWorkKey();
  Cursor->Delete();
  FailIf(!Cursor->IsDetached());
}

void TTableIndex::RewriteEntry(int32_t address, const unsigned char* record) {
  BuildKey(address, record);
  SeekWorkKey();
  Cursor->Replace(WorkKey.get());
  Cursor->Detach();
}

bool TTableIndex::CheckUnique(const TTransaction& transaction, const unsigned char* record) {
  FailIf(!Unique);
  const int32_t fields = ComparisonFieldCount();
  BuildKey(0, record);  // the address is not compared on `fields` parts
  Cursor->Seek(WorkKey.get(), fields, true);
  FailIf(Cursor->IsBOF() || Cursor->IsDetached());
  bool unique = true;
  while (!Cursor->IsEOF() && Cursor->CompareEntry(WorkKey.get(), fields) == 0) {
    Cursor->Lock();
    const TTimeStamp end = KeyEndTime(Cursor->Entry());
    Cursor->Unlock();
    if (!transaction.IsVisible(end)) {
      unique = false;
      break;
    }
    Cursor->Next();
  }
  Cursor->Detach();
  return unique;
}

bool TTableIndex::ReadLastKey(unsigned char* key) {
  Cursor->GoAfterLast();
  Cursor->Prior();
  const bool found = !Cursor->IsBOF();
  if (found) {
    Cursor->Lock();
    memcpy(key, Cursor->Entry(), static_cast<size_t>(KeyType->RecordSize()));
    Cursor->Unlock();
  }
  Cursor->Detach();
  return found;
}

TTableIndexPtr::TTableIndexPtr(Ref<TIndex> index, TTable& table)
    : TIndexPtr(std::move(index)), Table(&table) {}

void TTableIndexPtr::EntryChanged() { Table->EntryRewritten(); }

}  // namespace kor
