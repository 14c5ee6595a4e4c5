#include "engine/tables/table.h"

#include <algorithm>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

#include "engine/tables/lookup.h"

// How a view keeps its place:
//   1. At rest the cursor stands on a version the transaction sees (and
//      Current is its address), or it is detached, before the first or
//      after the last entry (and Current is -1).
//   2. Moving steps the cursor entry by entry and skips versions the
//      transaction does not see; positioning by key seeks, steps one entry
//      the other way and then moves, so that it lands on the first visible
//      version at or after (before) the key.
//   3. The cursor stands on an entry whose times change only in place
//      (RewriteEntry): when its end becomes visible to the view's
//      transaction, the view unpositions itself (EntryRewritten). A removed
//      entry detaches the cursors on it, and a detached cursor is no
//      position whatever Current says.

namespace kor {

namespace {

bool Contains(std::span<const int32_t> list, int32_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// Refuses a view that cannot be built, before anything is built.
void CheckViewDefinition(const TRawTable& rawTable, std::span<const int32_t> fieldList,
                         const TRecordCompFunc& comparison,
                         const std::vector<Ref<TLookup>>& lookups) {
  const TRecordType& declared = rawTable.DeclaredRecordType();
  FailIf(&comparison.RecordType() != &declared);
  // Widths of the view fields, in view order, as far as they are known.
  std::vector<int32_t> widths;
  widths.reserve(fieldList.size());
  for (int32_t field : fieldList) {
    if (field < 1 || field > declared.FieldCount()) throw EReaderSyntaxError();
    widths.push_back(declared.FieldSize(field));
  }
  for (int32_t part = 1; part <= comparison.PartCount(); ++part) {
    if (!Contains(fieldList, comparison.PartField(part))) throw EReaderSyntaxError();
  }
  for (const Ref<TLookup>& lookup : lookups) {
    FailIf(!lookup);
    for (int32_t part = 0; part < lookup->PartCount(); ++part) {
      const int32_t field = lookup->PartField(part);
      if (field == -1) continue;
      if (field < 1 || field > static_cast<int32_t>(widths.size())) throw EReaderSyntaxError();
      if (widths[static_cast<size_t>(field - 1)] != lookup->PartSize(part)) {
        throw EReaderSyntaxError();
      }
    }
    const TRecordType& lookedUp = lookup->LookedUpTable().ViewRecordType();
    for (int32_t i = 0; i < lookup->ResultFieldCount(); ++i) {
      widths.push_back(lookedUp.FieldSize(lookup->ResultField(i)));
    }
  }
  if (widths.empty() || widths.size() > static_cast<size_t>(INT32_MAX)) {
    throw EReaderSyntaxError();
  }
  int64_t size = TRecordType::NullBitmapSize(static_cast<int32_t>(widths.size()));
  for (int32_t width : widths) size += width;
  if (size > TRecordType::kMaxRecordSize) throw EReaderSyntaxError();
}

}  // namespace

TTable::TTable(Ref<TRawTable> rawTable, std::span<const int32_t> fieldList,
               Ref<TTransaction> transaction, const TRecordCompFunc& comparison,
               std::vector<Ref<TLookup>> lookups)
    : Raw(std::move(rawTable)), Owner(std::move(transaction)), Lookups(std::move(lookups)) {
  FailIf(!Raw || !Owner);
  CheckViewDefinition(*Raw, fieldList, comparison, Lookups);

  Index = Raw->FindOrCreateIndex(comparison);
  ComparisonFields = Index->ComparisonFieldCount();
  OwnFields = static_cast<int32_t>(fieldList.size());

  TRecordType& stored = Raw->StoredRecordType();
  ViewType = MakeRef<TRecordType>();
  StoredToView = MakeRef<TRecordCopier>(Ref<TRecordType>::Share(stored), ViewType);
  ViewToStored = MakeRef<TRecordCopier>(ViewType, Ref<TRecordType>::Share(stored));
  for (int32_t i = 0; i < OwnFields; ++i) {
    const int32_t storedField = fieldList[static_cast<size_t>(i)] + TRawTable::kDeclaredFieldShift;
    const int32_t viewField =
        ViewType->AddField(stored.FieldName(storedField), stored.FieldTypeOf(storedField));
    FailIf(viewField != i + 1);
    StoredToView->AddMapping(storedField, viewField);
    ViewToStored->AddMapping(viewField, storedField);
  }
  for (const Ref<TLookup>& lookup : Lookups) {
    const TRecordType& lookedUp = lookup->LookedUpTable().ViewRecordType();
    for (int32_t i = 0; i < lookup->ResultFieldCount(); ++i) {
      const int32_t field = lookup->ResultField(i);
      ViewType->AddField(lookedUp.FieldName(field), lookedUp.FieldTypeOf(field));
    }
  }
  ViewType->Freeze(true);

  ViewToKey = MakeRef<TRecordCopier>(ViewType, Ref<TRecordType>::Share(Index->KeyRecordType()));
  for (int32_t k = 0; k < ComparisonFields; ++k) {
    const int32_t keyField = TTableIndex::kFirstKeyField + k;
    const int32_t viewField =
        ViewToStored->SourceFieldFor(Index->Copier().SourceFieldFor(keyField));
    FailIf(viewField == -1);  // refused by CheckViewDefinition
    ViewToKey->AddMapping(viewField, keyField);
  }

  Cursor = MakeRef<TTableIndexPtr>(Ref<TIndex>::Share(Index->Index()), *this);
  Stored = stored.NewRecord();
  KeyBuffer = Index->KeyRecordType().NewRecord();
  View = ViewType->NewRecord();
  ViewSize = ViewType->RecordSize();
  Owner->AddView();
}

TTable::TTable(Ref<TRawTable> rawTable, std::span<const int32_t> fieldList,
               Ref<TTransaction> transaction, const TRecordCompFunc& comparison)
    : TTable(std::move(rawTable), fieldList, std::move(transaction), comparison, {}) {}

TTable::~TTable() {
  Cursor.ReleaseLast();
  for (Ref<TLookup>& lookup : Lookups) lookup.ReleaseLast();
  Owner->DropView();
}

bool TTable::IsDetached() const { return Cursor->IsDetached(); }
bool TTable::IsBOF() const { return Cursor->IsBOF(); }
bool TTable::IsEOF() const { return Cursor->IsEOF(); }

int32_t TTable::Status() const {
  if (Cursor->IsBOF()) return kBeforeFirst;
  if (Cursor->IsEOF()) return kAfterLast;
  if (Cursor->IsDetached() || Current == -1) return kNoPosition;
  return 0;
}

void TTable::Unposition() {
  Cursor->Detach();
  Current = -1;
}

void TTable::GoBeforeFirst() {
  Cursor->GoBeforeFirst();
  Current = -1;
}

void TTable::GoAfterLast() {
  Cursor->GoAfterLast();
  Current = -1;
}

void TTable::EntryRewritten() {
  Cursor->Lock();
  const TTimeStamp end = TTableIndex::KeyEndTime(Cursor->Entry());
  Cursor->Unlock();
  // Ended as far as this transaction can see, e.g. through another view of
  // it: the view no longer stands on a record.
  if (Owner->IsVisible(end)) Unposition();
}

void TTable::Step(bool forward) {
  Current = -1;
  for (;;) {
    if (forward) {
      Cursor->Next();
      if (Cursor->IsEOF()) return;
    } else {
      Cursor->Prior();
      if (Cursor->IsBOF()) return;
    }
    Cursor->Lock();
    const unsigned char* entry = Cursor->Entry();
    const bool visible =
        Owner->IsRecordVisible(TTableIndex::KeyBegTime(entry), TTableIndex::KeyEndTime(entry));
    const int32_t address = TTableIndex::KeyAddress(entry);
    Cursor->Unlock();
    if (visible) {
      Current = address;
      return;
    }
  }
}

bool TTable::Next() {
  if (Cursor->IsDetached()) return false;
  Step(true);
  return true;
}

bool TTable::Prior() {
  if (Cursor->IsDetached()) return false;
  Step(false);
  return true;
}

int32_t TTable::MoveBy(int32_t n) {
  int32_t steps = 0;
  while (n > 0 && !Cursor->IsEOF() && Next()) {
    ++steps;
    --n;
  }
  while (n < 0 && !Cursor->IsBOF() && Prior()) {
    --steps;
    ++n;
  }
  return steps;
}

void TTable::PositionByKey(const unsigned char* key, int32_t fieldCount, bool forward) {
  Cursor->Seek(key, fieldCount, forward);
  if (forward) {
    Cursor->Prior();
    Step(true);
  } else {
    Cursor->Next();
    Step(false);
  }
}

bool TTable::SeekKey(int32_t fieldCount, bool forward) {
  if (fieldCount < 0 || fieldCount > ComparisonFields) return false;
  ViewToKey->CopyRecord(View.get(), KeyBuffer.get());
  unsigned char address[4];
  EncodeInt32(address, 0);
  Index->KeyRecordType().SetField(KeyBuffer.get(), TTableIndex::kAddressField, address);
  PositionByKey(KeyBuffer.get(), fieldCount, forward);
  return true;
}

bool TTable::FindKey(int32_t fieldCount) {
  return SeekKey(fieldCount, true) && MatchesKey(KeyBuffer.get(), fieldCount);
}

bool TTable::MatchesKey(const unsigned char* keyRecord, int32_t fieldCount) const {
  if (fieldCount < 0 || fieldCount > ComparisonFields || !IsOnRecord()) return false;
  return Cursor->CompareEntry(keyRecord, fieldCount) == 0;
}

bool TTable::ReadCurrent() {
  if (!IsOnRecord()) return false;
  Raw->ReadRecord(Current, Stored.get());
  StoredToView->CopyRecord(Stored.get(), View.get());
  int32_t first = OwnFields + 1;
  for (const Ref<TLookup>& lookup : Lookups) {
    lookup->Fill(*ViewType, View.get(), first);
    first += lookup->ResultFieldCount();
  }
  return true;
}

void TTable::PositionOnVersion(int32_t address) {
  // The key comes from the stored record, which is exactly what the index
  // holds, even when the view opens one field twice.
  Index->Copier().CopyRecord(Stored.get(), KeyBuffer.get());
  unsigned char bytes[4];
  EncodeInt32(bytes, address);
  Index->KeyRecordType().SetField(KeyBuffer.get(), TTableIndex::kAddressField, bytes);
  PositionByKey(KeyBuffer.get(), -1, true);
  FailIf(Current != address);
}

bool TTable::Insert() {
  ViewToStored->CopyRecord(View.get(), Stored.get());
  const int32_t address = Raw->InsertVersion(*Owner, Stored.get());
  if (address == -1) return false;
  PositionOnVersion(address);
  return true;
}

bool TTable::Update() {
  if (!IsOnRecord()) return false;
  ViewToStored->CopyRecord(View.get(), Stored.get());
  const int32_t address = Raw->UpdateVersion(*Owner, Current, Stored.get());
  if (address == -1) return false;
  PositionOnVersion(address);
  return true;
}

bool TTable::Delete() {
  if (!IsOnRecord()) return false;
  // Step off the entry, which the ending may remove, and back.
  Cursor->Next();
  const bool ended = Raw->EndVersion(*Owner, Current);
  Cursor->Prior();
  if (ended) Step(true);
  return ended;
}

}  // namespace kor
