#include "engine/tables/raw_table.h"

#include <algorithm>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

// Start-up recovery. When the table file is opened no transaction is live,
// and T = LastCommitted is the last commit that took effect (the time
// counter is the only commit record). For every in-use block, with B its
// !BEGTIME and E its !ENDTIME:
//   R1. B <= 0 (never committed) or B > T (stamped by a commit that never
//       took effect): the version is removed.
//   R2. 0 < E <= T (ended by a committed transaction): removed, since no
//       snapshot can still see it.
//   R3. E < 0 (ended by a transaction that never committed): E := 0.
//   R4. E > T (ended by a commit that stamped its records but never took
//       effect): E := 0, so that the unfinished commit is undone whole, its
//       endings as R1 undoes its insertions.
//   R5. Every other version stays. Any bytes are acceptable as field
//       values; only the times decide. A time whose null bit is clear is
//       marked present, so that every later reader finds both times set.
// After the scan the file holds exactly the versions current as of T, all
// open; indexes are built from it afterwards.

namespace kor {

namespace {

// A B-tree of fewer than 2^31 keys, at least one a page, is at most 31
// pages deep; one insertion splits at most every page on its path and adds
// a root.
constexpr int32_t kPagesPerInsert = 32;

// An index build collects keys up to this many bytes, sorts them and
// inserts them in key order.
constexpr size_t kBuildRunBytes = 32 * 1024 * 1024;

// The keys of an index build, added in address order and inserted into
// the tree sorted, a run of up to kBuildRunBytes at a time: insertions in
// key order walk the tree along its right edge, where the pages are in
// the buffer pool, instead of touching a page anywhere for every record.
// The tree ends with the same keys either way.
class TSortedKeyRun {
 public:
  explicit TSortedKeyRun(TTableIndex& index)
      : Index(index), KeySize(static_cast<size_t>(index.KeyRecordType().RecordSize())) {}

  void Add(int32_t address, const unsigned char* record) {
    if (Keys.size() + KeySize > kBuildRunBytes) Flush();
    Keys.resize(Keys.size() + KeySize);
    Index.MakeKey(address, record, Keys.data() + Keys.size() - KeySize);
  }

  // Inserts the keys collected so far and starts a new run. The keys come
  // mostly in order (a table read in address order whose addresses follow
  // the index's order): the ordered prefix is kept, the rest sorted and
  // merged in.
  void Flush() {
    const size_t count = Keys.size() / KeySize;
    std::vector<uint32_t> order(count);
    for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint32_t>(i);
    const TRecordCompFunc& compare = Index.KeyComparison();
    const unsigned char* keys = Keys.data();
    const size_t size = KeySize;
    auto less = [&](uint32_t a, uint32_t b) {
      return compare.CompareRecords(keys + a * size, keys + b * size, -1) < 0;
    };
    auto sorted = std::is_sorted_until(order.begin(), order.end(), less);
    std::sort(sorted, order.end(), less);
    std::inplace_merge(order.begin(), sorted, order.end(), less);
    TIndexFile& indexFile = Index.RawTable().TransactionMgr().IndexFile();
    // The first run goes into an empty tree, so each of its keys is the
    // greatest yet; a later run's may fall anywhere.
    const bool appending = First;
    for (uint32_t i : order) {
      indexFile.ReservePages(kPagesPerInsert);
      Index.InsertKey(keys + i * size, appending);
    }
    Keys.clear();
    First = false;
  }

 private:
  TTableIndex& Index;
  const size_t KeySize;
  std::vector<unsigned char> Keys;
  bool First = true;
};

}  // namespace

TRawTable::TRawTable(const std::string& fileName, Ref<TTransactionMgr> manager,
                     Ref<TRecordType> declaredRecordType)
    : Manager(std::move(manager)), DeclaredType(std::move(declaredRecordType)) {
  FailIf(!Manager || !DeclaredType || !DeclaredType->Frozen());
  const int32_t declaredCount = DeclaredType->FieldCount();
  int64_t storedSize = 2 * int64_t{Manager->StampType().Size()};
  for (int32_t f = 1; f <= declaredCount; ++f) storedSize += DeclaredType->FieldSize(f);
  storedSize += TRecordType::NullBitmapSize(declaredCount + kDeclaredFieldShift);
  // A block holds the record and its 4-byte status.
  if (storedSize > TRecordType::kMaxRecordSize - 4) throw EReaderSyntaxError();

  StoredType = MakeRef<TRecordType>();
  FailIf(StoredType->AddField("!BEGTIME", Ref<TIntegerType>::Share(Manager->StampType())) !=
         kBegTimeField);
  FailIf(StoredType->AddField("!ENDTIME", Ref<TIntegerType>::Share(Manager->StampType())) !=
         kEndTimeField);
  for (int32_t f = 1; f <= declaredCount; ++f) {
    StoredType->AddField(DeclaredType->FieldName(f), DeclaredType->FieldTypeOf(f));
  }
  StoredType->Freeze(true);
  FailIf(StoredType->FieldOffset(kBegTimeField) != kBegTimeOffset ||
         StoredType->FieldOffset(kEndTimeField) != kEndTimeOffset);

  Blocks = MakeRef<TBlockFile>(fileName, StoredType->RecordSize());
  RecordBuffer = StoredType->NewRecord();
  Recover();
  StoreIdentity = Manager->RegisterStore(*this);
}

TRawTable::~TRawTable() {
  Manager->UnregisterStore(StoreIdentity);
  UniqueHead = nullptr;
  // Nobody else may hold an index now: every view is gone.
  while (!Indexes.empty()) {
    Indexes.back().ReleaseLast();
    Indexes.pop_back();
  }
  Blocks.ReleaseLast();
}

TTimeStamp TRawTable::BegTime(const unsigned char* record) {
  return DecodeInt64(record + kBegTimeOffset);
}

TTimeStamp TRawTable::EndTime(const unsigned char* record) {
  return DecodeInt64(record + kEndTimeOffset);
}

void TRawTable::SetBegTime(unsigned char* record, TTimeStamp value) const {
  EncodeInt64(record + kBegTimeOffset, value);
  StoredType->SetPresent(record, kBegTimeField);
}

void TRawTable::SetEndTime(unsigned char* record, TTimeStamp value) const {
  EncodeInt64(record + kEndTimeOffset, value);
  StoredType->SetPresent(record, kEndTimeField);
}

void TRawTable::Recover() {
  const TTimeStamp last = Manager->LastCommitted();
  unsigned char* record = RecordBuffer.get();
  for (int32_t address = Blocks->FindNextUsed(0, record); address != -1;
       address = Blocks->FindNextUsed(address, record)) {
    const TTimeStamp begin = BegTime(record);
    const TTimeStamp end = EndTime(record);
    if (begin <= 0 || begin > last || (end > 0 && end <= last)) {  // R1, R2
      Blocks->FreeBlock(address);
      continue;
    }
    const bool timesPresent =
        !StoredType->IsNull(record, kBegTimeField) && !StoredType->IsNull(record, kEndTimeField);
    if (end == 0 && timesPresent) continue;  // R5
    SetBegTime(record, begin);               // R3, R4, R5
    SetEndTime(record, 0);
    Blocks->WriteBlock(address, record);
  }
}

void TRawTable::ReadRecord(int32_t address, unsigned char* buffer) {
  FailIf(address < 1 || address >= Blocks->BlockCount());
  Blocks->ReadBlock(address, buffer);
}

bool TRawTable::ReserveIndexPages(int32_t trees) {
  try {
    Manager->IndexFile().ReservePages(kPagesPerInsert * trees);
    return true;
  } catch (const EFileFullError&) {
    // Swallowed: a full index file refuses the change like a conflict,
    // before anything has changed.
    return false;
  }
}

int32_t TRawTable::InsertVersion(TTransaction& transaction, unsigned char* record) {
  for (TTableIndex* index = UniqueHead; index != nullptr; index = index->NextUnique()) {
    if (!index->CheckUnique(transaction, record)) return -1;
  }
  // Every index and the write set may split pages.
  if (!ReserveIndexPages(IndexCount() + 1)) return -1;
  SetBegTime(record, transaction.WriteStamp());
  SetEndTime(record, 0);
  int32_t address;
  try {
    address = Blocks->AppendRecord(record);
  } catch (const EFileFullError&) {
    // Swallowed: a table file at its largest size refuses the insertion
    // like a conflict, with nothing changed.
    return -1;
  }
  for (const Ref<TTableIndex>& index : Indexes) index->InsertEntry(address, record);
  transaction.AddToWriteSet(StoreIdentity, address);
  return address;
}

bool TRawTable::EndVersion(TTransaction& transaction, int32_t address) {
  unsigned char* record = RecordBuffer.get();
  ReadRecord(address, record);
  if (EndTime(record) != 0) return false;  // the first writer won
  if (BegTime(record) == transaction.WriteStamp()) {
    // Created by this very transaction at this depth: nobody else has seen
    // it, so it goes at once.
    RemoveRecord(address);
    transaction.RemoveFromWriteSet(StoreIdentity, address);
    return true;
  }
  if (!ReserveIndexPages(1)) return false;
  SetEndTime(record, transaction.WriteStamp());
  RewriteRecord(address);
  transaction.AddToWriteSet(StoreIdentity, address);
  return true;
}

int32_t TRawTable::UpdateVersion(TTransaction& transaction, int32_t address,
                                 unsigned char* record) {
  const unsigned char* old = RecordBuffer.get();
  ReadRecord(address, RecordBuffer.get());
  if (EndTime(old) != 0) return -1;
  // A key that moves must be free before the old version is ended; a key
  // that stays is checked again by the insertion, once the old version is
  // ended by this transaction.
  for (TTableIndex* index = UniqueHead; index != nullptr; index = index->NextUnique()) {
    if (index->Comparison().CompareRecords(old, record, -1) != 0 &&
        !index->CheckUnique(transaction, record)) {
      return -1;
    }
  }
  // Room for the ending and the insertion at once, so that the insertion
  // does not fail on a full index file after the ending.
  if (!ReserveIndexPages(IndexCount() + 2)) return -1;
  if (!EndVersion(transaction, address)) return -1;
  return InsertVersion(transaction, record);
}

TVersionStore::TCommitResult TRawTable::CommitRecord(TTransaction& /*transaction*/, int32_t address,
                                                     int64_t commitTime) {
  unsigned char* record = RecordBuffer.get();
  ReadRecord(address, record);
  if (BegTime(record) == commitTime) {
    // A nested transaction ended a version its parent created: for the
    // parent the version never existed.
    RemoveRecord(address);
    return kVersionRemoved;
  }
  if (EndTime(record) == 0) {
    SetBegTime(record, commitTime);
    RewriteRecord(address);
    return kInsertCommitted;
  }
  SetEndTime(record, commitTime);
  RewriteRecord(address);
  return kEndCommitted;
}

void TRawTable::RollbackRecord(TTransaction& /*transaction*/, int32_t address) {
  unsigned char* record = RecordBuffer.get();
  ReadRecord(address, record);
  if (EndTime(record) != 0) {
    SetEndTime(record, 0);
    RewriteRecord(address);
  } else {
    RemoveRecord(address);
  }
}

bool TRawTable::PurgeIfExpired(int32_t address) {
  unsigned char* record = RecordBuffer.get();
  ReadRecord(address, record);
  if (EndTime(record) > Manager->OldestSnapshot()) return true;
  RemoveRecord(address);
  return false;
}

void TRawTable::RewriteRecord(int32_t address) {
  for (const Ref<TTableIndex>& index : Indexes) index->RewriteEntry(address, RecordBuffer.get());
  Blocks->WriteBlock(address, RecordBuffer.get());
}

void TRawTable::RemoveRecord(int32_t address) {
  for (const Ref<TTableIndex>& index : Indexes) index->DeleteEntry(address, RecordBuffer.get());
  Blocks->FreeBlock(address);
}

Ref<TRecordCompFunc> TRawTable::MapToStored(const TRecordCompFunc& comparison) const {
  FailIf(&comparison.RecordType() != DeclaredType.Get());
  auto mapped = MakeRef<TRecordCompFunc>(StoredType);
  for (int32_t part = 1; part <= comparison.PartCount(); ++part) {
    mapped->AddPart(comparison.PartField(part) + kDeclaredFieldShift,
                    comparison.PartCompFunc(part));
  }
  return mapped;
}

Ref<TTableIndex> TRawTable::BuildIndex(Ref<TRecordCompFunc> storedComparison) {
  TIndexFile& indexFile = Manager->IndexFile();
  TTableIndex::CheckKeyFits(*storedComparison, indexFile);
  // Reserving first makes the file full before a tree changes, never
  // inside an insertion; a failure here destroys the unfinished index.
  indexFile.ReservePages(kPagesPerInsert);
  auto index = MakeRef<TTableIndex>(*this, std::move(storedComparison));
  TSortedKeyRun keys(*index);
  unsigned char* record = RecordBuffer.get();
  for (int32_t address = Blocks->FindNextUsed(0, record); address != -1;
       address = Blocks->FindNextUsed(address, record)) {
    keys.Add(address, record);
  }
  keys.Flush();
  return index;
}

Ref<TTableIndex> TRawTable::FindOrCreateIndex(const TRecordCompFunc& comparison) {
  Ref<TRecordCompFunc> mapped = MapToStored(comparison);
  for (const Ref<TTableIndex>& index : Indexes) {
    if (index->Comparison().SameAs(*mapped)) return index;
  }
  Ref<TTableIndex> index = BuildIndex(std::move(mapped));
  Indexes.push_back(index);
  return index;
}

void TRawTable::AddUniqueIndex(const TRecordCompFunc& comparison) {
  Ref<TTableIndex> index = BuildIndex(MapToStored(comparison));
  index->Unique = true;
  index->NextUniqueIndex = UniqueHead;
  UniqueHead = index.Get();
  Indexes.push_back(std::move(index));
}

}  // namespace kor
