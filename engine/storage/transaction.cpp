#include "engine/storage/transaction.h"

#include "engine/platform/last_error.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

// Visibility and the life of a transaction.
//
// Every stored version carries !BEGTIME (from when it exists) and !ENDTIME
// (until when; 0 while open). A transaction t sees a stamp s when:
//   1. s = 0: never.
//   2. s > 0 (a commit time): s <= StartTime(t).
//   3. s < 0 (an uncommitted write stamp): s belongs to the same top-level
//      transaction (equal high words) and was written at the same or an
//      outer nesting depth (low word of s <= low word of t's stamp).
//   4. t sees a version when it sees its !BEGTIME and not its !ENDTIME.
// Changes:
//   5. Nobody waits: a write that collides with another transaction's
//      uncommitted or newer committed change is refused at once (first
//      writer wins); the raw table checks and reports it.
//   6. Every version a transaction creates or ends enters its write set, an
//      index of (store identity, record address) in the index file, so that
//      commit and rollback find them all.
// Commit (Finish(true)):
//   7. The commit stamp is LastCommitted + 1 for a top-level transaction and
//      the parent's write stamp for a nested one. Each written version is
//      stamped with it (CommitRecord); a nested commit moves its pairs into
//      the parent's write set, a top-level one queues ended versions for
//      purging.
//   8. A nested commit is all or nothing: before its first pair moves it
//      makes sure the index file holds every page the parent's write set
//      could need (ReserveForNestedCommit), and a full file refuses it with
//      EFileFullError before anything has changed. Nothing else in a commit
//      takes pages: stamping rewrites keys in place, removals only free.
//   9. A top-level commit takes effect when the time counter advances past
//      LastCommitted; that counter value is the only commit record there
//      is. A transaction that changed nothing takes no commit time.
// Rollback (Finish(false)):
//  10. Each written version is restored: an ending is undone (!ENDTIME 0),
//      an insertion removed.
// End:
//  11. A top-level transaction leaving returns its number (reused most
//      recently freed first), recomputes OldestSnapshot and purges, in
//      commit order, the ended versions that no live snapshot can see.
//  12. When the manager goes, the purge queue is empty and every number it
//      issued is back.

namespace kor {

namespace {

// A commit time must stay clear of the negative high words of write stamps.
constexpr int32_t kMaxCommitHighWord = 0x70000000;

// The write-set key: two 4-byte integers, no null bitmap.
//   OFFSET  SIZE  FIELD
//   0       4     !TRANSTABLE  identity of the store
//   4       4     !TRANSADR    record address
constexpr int32_t kWriteSetKeySize = 8;
constexpr int32_t kWriteSetKeyFields = 2;

// A B-tree of fewer than 2^31 keys, at least one a page, is at most 31
// pages deep; an insertion reserves a page per level and a new root.
constexpr int64_t kPagesPerInsert = 32;

}  // namespace

TTransactionMgr::TTransactionMgr(Ref<TAutoinc> timeCounter, Ref<TIndexFile> indexFile)
    : TimeCounter(std::move(timeCounter)),
      Stamp(MakeRef<TIntegerType>(-1, 8)),
      Address(MakeRef<TIntegerType>(-1, 4)),
      WriteSetKeyType(MakeRef<TRecordType>()),
      Pages(std::move(indexFile)),
      AddressOrder(MakeRef<TIntegerCompFunc>(-1)),
      FreeNumbers(MakeRef<TIntegerStack>()) {
  Committed = TimeCounter->Advance(0);
  Oldest = Committed;
  WriteSetKeyType->AddField("!TRANSTABLE", Address);
  WriteSetKeyType->AddField("!TRANSADR", Address);
  WriteSetKeyType->Freeze(false);
  FailIf(WriteSetKeyType->RecordSize() != kWriteSetKeySize);
  WriteSetOrder = MakeRef<TRecordCompFunc>(WriteSetKeyType);
  WriteSetOrder->AddPart(1, AddressOrder);
  WriteSetOrder->AddPart(2, AddressOrder);
}

TTransactionMgr::~TTransactionMgr() {
  // Rule 12.
  FailIf(!PurgeQueue.empty());
  FailIf(LiveTopLevel != 0 || NewestActive != nullptr);
  FailIf(FreeNumbers->Count() != -IssuedNumbers);
  for (TVersionStore* store : Stores) FailIf(store != nullptr);
}

int32_t TTransactionMgr::RegisterStore(TVersionStore& store) {
  for (size_t i = 0; i < Stores.size(); ++i) {
    if (Stores[i] == nullptr) {
      Stores[i] = &store;
      return static_cast<int32_t>(i + 1);
    }
  }
  Stores.push_back(&store);
  return static_cast<int32_t>(Stores.size());
}

void TTransactionMgr::UnregisterStore(int32_t identity) {
  FailIf(identity < 1 || identity > static_cast<int32_t>(Stores.size()));
  FailIf(Stores[static_cast<size_t>(identity - 1)] == nullptr);
  for (const TPurgeEntry& entry : PurgeQueue) FailIf(entry.Store == identity);
  Stores[static_cast<size_t>(identity - 1)] = nullptr;
}

TVersionStore& TTransactionMgr::StoreOf(int32_t identity) const {
  FailIf(identity < 1 || identity > static_cast<int32_t>(Stores.size()));
  TVersionStore* store = Stores[static_cast<size_t>(identity - 1)];
  FailIf(store == nullptr);
  return *store;
}

int32_t TTransactionMgr::TakeNumber() {
  if (!FreeNumbers->IsEmpty()) return FreeNumbers->Pop();
  --IssuedNumbers;
  return -IssuedNumbers;
}

void TTransactionMgr::ReturnNumber(int32_t number) { FreeNumbers->Push(number); }

void TTransactionMgr::Link(TTransaction& transaction) {
  transaction.NextActive = NewestActive;
  transaction.PriorActive = nullptr;
  if (NewestActive != nullptr) NewestActive->PriorActive = &transaction;
  NewestActive = &transaction;
  ++LiveTopLevel;
}

void TTransactionMgr::Unlink(TTransaction& transaction) {
  if (transaction.PriorActive != nullptr) {
    transaction.PriorActive->NextActive = transaction.NextActive;
  } else {
    FailIf(NewestActive != &transaction);
    NewestActive = transaction.NextActive;
  }
  if (transaction.NextActive != nullptr)
    transaction.NextActive->PriorActive = transaction.PriorActive;
  transaction.NextActive = transaction.PriorActive = nullptr;
  --LiveTopLevel;
}

void TTransactionMgr::Purge() {
  // Rule 11.
  Oldest = Committed;
  for (TTransaction* t = NewestActive; t != nullptr; t = t->NextActive) {
    if (t->Start < Oldest) Oldest = t->Start;
  }
  while (!PurgeQueue.empty()) {
    const TPurgeEntry entry = PurgeQueue.front();
    if (StoreOf(entry.Store).PurgeIfExpired(entry.Address)) break;
    PurgeQueue.pop_front();
  }
}

TTransaction::TTransaction(Ref<TTransactionMgr> manager)
    : Mgr(std::move(manager)), KeyBuffer(new unsigned char[kWriteSetKeySize]()) {
  Number = Mgr->TakeNumber();
  Start = Mgr->Committed;
  Stamp = MakeWriteStamp(Number, 0);
  Mgr->Link(*this);
}

TTransaction::TTransaction(Ref<TTransaction> parent, TNestedTag)
    : Mgr(Ref<TTransactionMgr>::Share(parent->Manager())),
      ParentTransaction(std::move(parent)),
      KeyBuffer(new unsigned char[kWriteSetKeySize]()) {
  FailIf(ParentTransaction->ActiveChild);
  ParentTransaction->ActiveChild = true;
  Start = ParentTransaction->Start;
  Stamp =
      MakeWriteStamp(-StampHigh(ParentTransaction->Stamp), StampLow(ParentTransaction->Stamp) + 1);
}

Ref<TTransaction> TTransaction::Nested(Ref<TTransaction> parent) {
  return Ref<TTransaction>::Adopt(new TTransaction(std::move(parent), TNestedTag{}));
}

TTransaction::~TTransaction() {
  FailIf(!Finished || ActiveChild || Views != 0);
  if (ParentTransaction) {
    ParentTransaction->ActiveChild = false;
    ParentTransaction.Reset();
    return;
  }
  Mgr->Unlink(*this);
  Mgr->ReturnNumber(Number);
  Mgr->Purge();
}

void TTransaction::DropView() {
  FailIf(Views <= 0);
  --Views;
}

bool TTransaction::IsVisible(TTimeStamp s) const {
  if (s == 0) return false;                // rule 1
  if (s > 0) return s <= Start;            // rule 2
  return StampHigh(s) == StampHigh(Stamp)  // rule 3
         && StampLow(s) <= StampLow(Stamp);
}

void TTransaction::SetKey(int32_t store, int32_t address) {
  EncodeInt32(KeyBuffer.get(), store);
  EncodeInt32(KeyBuffer.get() + 4, address);
}

void TTransaction::AddToWriteSet(int32_t store, int32_t address) {
  if (!WriteSet) {
    WriteSet = MakeRef<TIndex>(Ref<TIndexFile>::Share(Mgr->IndexFile()),
                               Ref<TRecordType>::Share(*Mgr->WriteSetKeyType),
                               Ref<TRecordCompFunc>::Share(*Mgr->WriteSetOrder));
    WriteSetCursor = MakeRef<TIndexPtr>(WriteSet);
  }
  SetKey(store, address);
  WriteSetCursor->Insert(KeyBuffer.get());
  WriteSetCursor->Detach();
  ++WrittenPairs;
}

void TTransaction::RemoveFromWriteSet(int32_t store, int32_t address) {
  FailIf(!WriteSet);
  SetKey(store, address);
  WriteSetCursor->Seek(KeyBuffer.get(), kWriteSetKeyFields, true);
  FailIf(WriteSetCursor->IsDetached() || WriteSetCursor->IsEOF() || WriteSetCursor->IsBOF());
  FailIf(WriteSetCursor->CompareEntry(KeyBuffer.get(), kWriteSetKeyFields) != 0);
  WriteSetCursor->Delete();
  --WrittenPairs;
}

int32_t TTransaction::WriteSetSize() const { return WrittenPairs; }

template <typename TApply>
void TTransaction::ForEachWritten(TApply&& apply) {
  if (!WriteSet) return;
  WriteSetCursor->GoBeforeFirst();
  for (;;) {
    WriteSetCursor->Next();
    if (WriteSetCursor->IsEOF()) break;
    WriteSetCursor->Lock();
    const unsigned char* entry = WriteSetCursor->Entry();
    int32_t store = DecodeInt32(entry);
    int32_t address = DecodeInt32(entry + 4);
    WriteSetCursor->Unlock();
    apply(store, address);
  }
}

void TTransaction::ReleaseWriteSet() {
  if (!WriteSet) return;
  WriteSetCursor.ReleaseLast();
  WriteSet.ReleaseLast();
  WrittenPairs = 0;
}

// The parent's write set ends the walk with at most K + N keys (its K pairs
// and this transaction's N), and every page of a B-tree but the root holds
// at least t - 1 keys, so the tree never has more than 1 + ceil((K + N) /
// (t - 1)) pages at any step: pages freed by removals go back to the free
// stack and are taken again first. A further kPagesPerInsert keeps the
// reservation that each insertion checks for itself (one page per level
// and a root) free to the last pair, so no insertion grows the file.
void TTransaction::ReserveForNestedCommit(const TTransaction& parent) {
  TIndexFile& pages = Mgr->IndexFile();
  const int64_t degree = TIndex::DegreeFor(pages.PageSize(), kWriteSetKeySize);
  FailIf(degree < 2);
  const int64_t keys = int64_t{parent.WrittenPairs} + WrittenPairs;
  const int64_t needed = 1 + (keys + degree - 2) / (degree - 1) + kPagesPerInsert;
  // More pages than a file can hold cannot be free either.
  if (needed > INT32_MAX) {
    SetLastErrorCode(0);
    throw EFileFullError();
  }
  pages.ReservePages(static_cast<int32_t>(needed));
}

void TTransaction::Commit() {
  // Rule 9: nothing changed, no commit time; that includes changes that
  // cancelled out (an insertion deleted again leaves an empty write set).
  if (WrittenPairs == 0) {
    ReleaseWriteSet();
    return;
  }
  TTransaction* parent = ParentTransaction.Get();
  if (parent != nullptr) ReserveForNestedCommit(*parent);  // rule 8
  TTimeStamp commitStamp = parent != nullptr ? parent->Stamp : Mgr->Committed + 1;
  FailIf(parent == nullptr && StampHigh(commitStamp) > kMaxCommitHighWord);
  ForEachWritten([&](int32_t store, int32_t address) {  // rule 7
    TVersionStore::TCommitResult result =
        Mgr->StoreOf(store).CommitRecord(*this, address, commitStamp);
    if (parent != nullptr) {
      if (result == TVersionStore::kVersionRemoved) {
        parent->RemoveFromWriteSet(store, address);
      } else {
        parent->AddToWriteSet(store, address);
      }
    } else if (result == TVersionStore::kEndCommitted) {
      Mgr->PurgeQueue.push_back({store, address});
    }
  });
  ReleaseWriteSet();
  if (parent != nullptr) return;
  // Rule 9: the commit takes effect here.
  int64_t before = Mgr->TimeCounter->Advance(1);
  FailIf(before != Mgr->Committed);
  Mgr->Committed += 1;
  FailIf(Mgr->Committed != commitStamp);
}

void TTransaction::Rollback() {
  ForEachWritten([&](int32_t store, int32_t address) {  // rule 10
    Mgr->StoreOf(store).RollbackRecord(*this, address);
  });
  ReleaseWriteSet();
}

void TTransaction::Finish(Ref<TTransaction>&& self, bool commit) {
  FailIf(!self || self->Views != 0 || self->ActiveChild || self->Finished);
  if (commit) {
    self->Commit();
  } else {
    self->Rollback();
  }
  self->Finished = true;
  self.ReleaseLast();
}

}  // namespace kor
