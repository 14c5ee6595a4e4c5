#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/block_file.h"
#include "engine/storage/transaction.h"
#include "engine/storage/version_store.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"
#include "engine/tables/table_index.h"

// A raw table: the versioned record store of one table. Every version of a
// record is one block of the table's block file, and the block number is
// the version's address. A version carries its life span in two leading
// time fields, so each transaction sees the versions valid for it; a
// version is never changed in place except to stamp its times.
//
// Stored record (the block payload), a record type frozen with a null
// bitmap:
//   FIELD  NAME       SIZE      MEANING
//   1      !BEGTIME   8         from when the version is valid
//   2      !ENDTIME   8         when it stopped being valid; 0 while open
//   i + 2  declared   declared  declared field i, i = 1 .. n
//   then the null bitmap of the n + 2 fields
// Times are signed 64-bit little-endian (transaction.h): 0 open, > 0 a
// commit time, negative high word an uncommitted transaction's write stamp.
// They are read and written at their offsets whatever their null bits say,
// so that a damaged bitmap cannot hide them.
//
// Every change keeps all indexes and the changing transaction's write set
// in step with the block, in the same call, so that commit and rollback
// find every version a transaction touched. Unique indexes refuse a key
// held by a version whose end the inserting transaction cannot see.

namespace kor {

class TRawTable final : public TRCObject, public TVersionStore {
 public:
  static constexpr int32_t kBegTimeField = 1;
  static constexpr int32_t kEndTimeField = 2;
  // Declared field i is stored field i + kDeclaredFieldShift.
  static constexpr int32_t kDeclaredFieldShift = 2;
  static constexpr int32_t kBegTimeOffset = 0;
  static constexpr int32_t kEndTimeOffset = 8;

  // Opens (or creates) the table file `fileName` for records of
  // `declaredRecordType` (frozen; reference taken over) and runs the
  // start-up recovery: after it the file holds exactly the versions
  // committed as of the manager's LastCommitted, all open. Takes a
  // reference to the manager and registers with it.
  // Raises EReaderSyntaxError when the stored record would be too large for
  // a block, and the errors of TBlockFile when the file cannot be used.
  TRawTable(const std::string& fileName, Ref<TTransactionMgr> manager,
            Ref<TRecordType> declaredRecordType);
  // REQUIRES: no view (TTable) or caller still holds an index, and no
  // transaction or purge entry still refers to this table.
  ~TRawTable() override;

  // Both types are frozen, so handing them out cannot change them.
  TRecordType& StoredRecordType() const { return *StoredType; }
  TRecordType& DeclaredRecordType() const { return *DeclaredType; }
  TTransactionMgr& TransactionMgr() const { return *Manager; }
  // This table's identity in write sets (!TRANSTABLE).
  int32_t Identity() const { return StoreIdentity; }
  // Whole blocks of the table file, the header block included.
  int32_t BlockCount() const { return Blocks->BlockCount(); }

  // Reads the version at `address` into `buffer` (stored layout).
  // REQUIRES: 1 <= address < BlockCount().
  void ReadRecord(int32_t address, unsigned char* buffer);

  // Stores `record` (stored layout; its times are overwritten with the
  // transaction's write stamp and 0) as a new version and returns its
  // address; -1, with nothing changed, when a unique index refuses the key
  // or the table file or index file is full.
  int32_t InsertVersion(TTransaction& transaction, unsigned char* record);
  // Ends the version at `address` for `transaction`: stamps its !ENDTIME,
  // or removes it at once when this very transaction (at this depth)
  // created it. False, with nothing changed, when the version was already
  // ended by any transaction (committed or not) or the index file is full.
  // REQUIRES: address holds a version.
  bool EndVersion(TTransaction& transaction, int32_t address);
  // Ends the version at `address` and stores `record` as its successor at a
  // new address, which it returns. -1 when the old version was already
  // ended or the new key is refused by a unique index (nothing changed), or
  // when the insertion fails after the ending (the old version then stays
  // ended within the transaction). REQUIRES: address holds a version.
  int32_t UpdateVersion(TTransaction& transaction, int32_t address, unsigned char* record);

  // TVersionStore: the end of a transaction applied to one version.
  TCommitResult CommitRecord(TTransaction& transaction, int32_t address,
                             int64_t commitTime) override;
  void RollbackRecord(TTransaction& transaction, int32_t address) override;
  bool PurgeIfExpired(int32_t address) override;

  // The index ordered by `comparison` (over DeclaredRecordType(), borrowed),
  // built from the stored versions when there is none yet and kept for
  // later views. Returns a reference for the caller.
  // Raises EKeyTooLargeError (a syntax error) when its keys do not fit the
  // index file's pages, EFileFullError when the index file is full; nothing
  // is kept then.
  Ref<TTableIndex> FindOrCreateIndex(const TRecordCompFunc& comparison);
  // Builds a new unique index ordered by `comparison` (over
  // DeclaredRecordType(), borrowed) and puts it at the head of the unique
  // list. Versions already stored that share a key are all indexed (they
  // are data); new ones are refused. Raises as FindOrCreateIndex.
  void AddUniqueIndex(const TRecordCompFunc& comparison);
  // The unique indexes, most recently added first (TTableIndex::NextUnique).
  TTableIndex* FirstUniqueIndex() const { return UniqueHead; }
  int32_t IndexCount() const { return static_cast<int32_t>(Indexes.size()); }
  TTableIndex& IndexAt(int32_t i) const { return *Indexes[static_cast<size_t>(i)]; }

  // The times of a stored record.
  static TTimeStamp BegTime(const unsigned char* record);
  static TTimeStamp EndTime(const unsigned char* record);
  // Sets a time of a stored record and marks it present.
  void SetBegTime(unsigned char* record, TTimeStamp value) const;
  void SetEndTime(unsigned char* record, TTimeStamp value) const;

 private:
  void Recover();
  // `comparison` over declared fields mapped onto the stored fields.
  Ref<TRecordCompFunc> MapToStored(const TRecordCompFunc& comparison) const;
  // A new index of the stored versions, not yet in the lists.
  Ref<TTableIndex> BuildIndex(Ref<TRecordCompFunc> storedComparison);
  // Makes sure the index file can take the page splits of one insertion
  // into each of `trees` B-trees; false when it is full.
  bool ReserveIndexPages(int32_t trees);
  // The record buffer must hold the version at `address`.
  void RewriteRecord(int32_t address);
  void RemoveRecord(int32_t address);

  Ref<TBlockFile> Blocks;
  std::vector<Ref<TTableIndex>> Indexes;  // in order of creation
  Ref<TTransactionMgr> Manager;
  std::unique_ptr<unsigned char[]> RecordBuffer;
  TTableIndex* UniqueHead = nullptr;
  Ref<TRecordType> StoredType;
  Ref<TRecordType> DeclaredType;
  int32_t StoreIdentity = 0;
};

}  // namespace kor
