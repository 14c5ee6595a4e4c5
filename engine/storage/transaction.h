#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "engine/base/containers.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/autoinc.h"
#include "engine/storage/index.h"
#include "engine/storage/index_file.h"
#include "engine/storage/index_ptr.h"
#include "engine/storage/version_store.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"

namespace kor {

class TTransaction;

// Time stamps of record versions (signed 64-bit):
//   0                      not set; an !ENDTIME of 0: the version is open
//   > 0                    a commit time from the time counter
//   high 32 bits negative  the write stamp of an uncommitted transaction:
//                          high word -k for transaction number k, low word
//                          its nesting depth (0 for a top-level transaction)
using TTimeStamp = int64_t;

inline TTimeStamp MakeWriteStamp(int32_t number, int32_t depth) {
  return static_cast<TTimeStamp>((static_cast<uint64_t>(static_cast<uint32_t>(-number)) << 32) |
                                 static_cast<uint32_t>(depth));
}
inline int32_t StampHigh(TTimeStamp stamp) {
  return static_cast<int32_t>(static_cast<uint64_t>(stamp) >> 32);
}
inline int32_t StampLow(TTimeStamp stamp) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(stamp)));
}

// The one transaction manager of an engine: the commit clock, the live
// top-level transactions, the queue of ended versions waiting to be purged,
// and what every write set is built from.
class TTransactionMgr final : public TRCObject {
 public:
  // Takes over the time counter and the index file that holds write sets.
  TTransactionMgr(Ref<TAutoinc> timeCounter, Ref<TIndexFile> indexFile);
  ~TTransactionMgr() override;

  TTimeStamp LastCommitted() const { return Committed; }
  // The smallest start time of the live top-level transactions, or
  // LastCommitted when none is live.
  TTimeStamp OldestSnapshot() const { return Oldest; }

  // Field types of the version times (8 bytes) and of record addresses and
  // store identities (4 bytes), and the comparator of addresses.
  TIntegerType& StampType() const { return *Stamp; }
  TIntegerType& AddressType() const { return *Address; }
  TIntegerCompFunc& AddressCompFunc() const { return *AddressOrder; }
  TIndexFile& IndexFile() const { return *Pages; }

  // A store's identity in write sets (!TRANSTABLE). The store must stay
  // registered while any transaction or the purge queue refers to it.
  int32_t RegisterStore(TVersionStore& store);
  void UnregisterStore(int32_t identity);

  int32_t LiveTransactionCount() const { return LiveTopLevel; }
  int32_t PurgeQueueLength() const { return static_cast<int32_t>(PurgeQueue.size()); }

 private:
  friend class TTransaction;
  struct TPurgeEntry {
    int32_t Store;
    int32_t Address;
  };

  int32_t TakeNumber();
  void ReturnNumber(int32_t number);
  void Link(TTransaction& transaction);
  void Unlink(TTransaction& transaction);
  void Purge();
  TVersionStore& StoreOf(int32_t identity) const;

  TTimeStamp Oldest = 0;
  std::deque<TPurgeEntry> PurgeQueue;
  TTransaction* NewestActive = nullptr;
  int32_t LiveTopLevel = 0;
  TTimeStamp Committed = 0;
  Ref<TAutoinc> TimeCounter;
  Ref<TIntegerType> Stamp;
  Ref<TIntegerType> Address;
  Ref<TRecordType> WriteSetKeyType;
  Ref<TRecordCompFunc> WriteSetOrder;
  Ref<TIndexFile> Pages;
  Ref<TIntegerCompFunc> AddressOrder;
  Ref<TIntegerStack> FreeNumbers;
  int32_t IssuedNumbers = 0;  // minus the count of numbers ever issued
  std::vector<TVersionStore*> Stores;
};

// A snapshot transaction, top-level or nested. It sees what was committed
// at or before its start, its own changes and those of its enclosing
// transactions (rules in transaction.cpp). It is ended by Finish, which
// consumes the caller's last reference.
class TTransaction final : public TRCObject {
 public:
  // A top-level transaction; takes over a reference to the manager.
  explicit TTransaction(Ref<TTransactionMgr> manager);
  // A nested transaction of `parent`, which must have no live nested one;
  // takes over the reference to the parent.
  static Ref<TTransaction> Nested(Ref<TTransaction> parent);
  ~TTransaction() override;

  TTransactionMgr& Manager() const { return *Mgr; }
  TTransaction* Parent() const { return ParentTransaction.Get(); }
  TTimeStamp StartTime() const { return Start; }
  TTimeStamp WriteStamp() const { return Stamp; }
  bool HasActiveChild() const { return ActiveChild; }
  int32_t OpenViews() const { return Views; }
  void AddView() { ++Views; }
  void DropView();

  // Whether this transaction sees stamp s (rules 1 to 3).
  bool IsVisible(TTimeStamp s) const;
  // Whether it sees a version with these times (rule 4).
  bool IsRecordVisible(TTimeStamp begin, TTimeStamp end) const {
    return IsVisible(begin) && !IsVisible(end);
  }

  // The (store, address) pairs this transaction changed.
  void AddToWriteSet(int32_t store, int32_t address);
  void RemoveFromWriteSet(int32_t store, int32_t address);
  int32_t WriteSetSize() const;

  // Commits (true) or rolls back (false) and destroys the transaction,
  // consuming `self`, the caller's last reference.
  // A nested commit raises EFileFullError when the index file cannot take
  // the parent's grown write set; nothing has changed then, and `self`
  // still holds the live transaction, which the caller may roll back or
  // try to commit again later. (So `self` is taken by rvalue reference,
  // not by value: it is consumed only when the transaction has ended.)
  // REQUIRES: no open views, no live nested transaction.
  static void Finish(Ref<TTransaction>&& self, bool commit);

 private:
  struct TNestedTag {};
  TTransaction(Ref<TTransaction> parent, TNestedTag);
  // Raises EFileFullError, before anything changes, when the index file
  // cannot hold the pages that moving this transaction's pairs into
  // `parent`'s write set may need.
  void ReserveForNestedCommit(const TTransaction& parent);
  void Commit();
  void Rollback();
  // Calls `apply(store, address)` for every pair of the write set in key order.
  template <typename TApply>
  void ForEachWritten(TApply&& apply);
  void ReleaseWriteSet();
  void SetKey(int32_t store, int32_t address);

  Ref<TTransactionMgr> Mgr;
  TTransaction* NextActive = nullptr;   // toward older transactions
  TTransaction* PriorActive = nullptr;  // toward newer transactions
  Ref<TTransaction> ParentTransaction;
  TTimeStamp Start = 0;
  TTimeStamp Stamp = 0;
  Ref<TIndex> WriteSet;
  Ref<TIndexPtr> WriteSetCursor;
  bool ActiveChild = false;
  std::unique_ptr<unsigned char[]> KeyBuffer;
  bool Finished = false;
  int32_t Views = 0;
  int32_t Number = 0;  // of a top-level transaction
  int32_t WrittenPairs = 0;

  friend class TTransactionMgr;
};

}  // namespace kor
