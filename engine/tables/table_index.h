#pragma once

#include <cstdint>
#include <memory>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/index.h"
#include "engine/storage/index_ptr.h"
#include "engine/storage/transaction.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_copier.h"
#include "engine/tables/record_type.h"

// A table index: one ordering of a raw table's versions, a B-tree in the
// engine's index file. Its keys carry the version's times, the fields of
// the index's comparison and the record address:
//
//   KEY FIELD  NAME       SIZE  SOURCE
//   1          !BEGTIME   8     stored field 1
//   2          !ENDTIME   8     stored field 2
//   3          !ADR       4     the record address
//   4, 5, ...  as stored  as    the comparison's fields, in its order
//   then the null bitmap
//
// The key order is the comparison's fields (each at its key position, with
// the same comparator) followed by !ADR. Keys are therefore unique, equal
// field values are ordered by address, and the times take no part in the
// order, so they are rewritten in place (RewriteEntry) when a version is
// ended, committed or restored.

namespace kor {

class TRawTable;
class TTable;

class TTableIndex final : public TRCObject {
 public:
  // Key fields and their byte offsets; the times and the address lead every
  // key, so they are read and written without the bitmap.
  static constexpr int32_t kBegTimeField = 1;
  static constexpr int32_t kEndTimeField = 2;
  static constexpr int32_t kAddressField = 3;
  static constexpr int32_t kFirstKeyField = 4;
  static constexpr int32_t kBegTimeOffset = 0;
  static constexpr int32_t kEndTimeOffset = 8;
  static constexpr int32_t kAddressOffset = 16;

  // Raises EKeyTooLargeError (a syntax error) when the keys of an index of
  // `comparison` (over a stored record type) would not fit three to a page
  // of `indexFile`.
  static void CheckKeyFits(const TRecordCompFunc& comparison, const TIndexFile& indexFile);

  // Builds an empty index of `rawTable` ordered by `comparison`, which is
  // over the raw table's stored record type (reference taken over). The raw
  // table links and fills it. REQUIRES: the key fits the index file's pages
  // (CheckKeyFits; the raw table checks before building).
  TTableIndex(TRawTable& rawTable, Ref<TRecordCompFunc> comparison);
  ~TTableIndex() override;

  TRawTable& RawTable() const { return *Owner; }
  // The next unique index of the raw table (most recently added first);
  // null after the last.
  TTableIndex* NextUnique() const { return NextUniqueIndex; }
  bool IsUnique() const { return Unique; }

  // The table comparison, over stored fields.
  const TRecordCompFunc& Comparison() const { return *StoredOrder; }
  int32_t ComparisonFieldCount() const { return StoredOrder->PartCount(); }
  TRecordType& KeyRecordType() const { return *KeyType; }
  // Stored record -> key: 1 -> 1, 2 -> 2, comparison field i -> key field i + 3.
  const TRecordCopier& Copier() const { return *KeyCopier; }
  // The B-tree; a view keeps a cursor of its own on it.
  TIndex& Index() const { return *Tree; }

  // Index maintenance for the version `record` (stored layout) at `address`.
  // Adds its key.
  void InsertEntry(int32_t address, const unsigned char* record);
  // Removes its key. REQUIRES: the key is in the index.
  void DeleteEntry(int32_t address, const unsigned char* record);
  // Writes the record's times into its key. REQUIRES: the key is in the
  // index.
  void RewriteEntry(int32_t address, const unsigned char* record);
  // For an index build: the key of `record` at `address` into `key`
  // (KeyRecordType().RecordSize() bytes), the bytes InsertEntry would add;
  // InsertKey adds such a key, `last` when it is greater than every key of
  // the index (TIndexPtr::Append); KeyComparison orders keys as the tree
  // does.
  void MakeKey(int32_t address, const unsigned char* record, unsigned char* key);
  void InsertKey(const unsigned char* key, bool last);
  const TRecordCompFunc& KeyComparison() const { return *KeyOrder; }
  // On a unique index: whether `transaction` may insert `record` (stored
  // layout). False while the index holds a version with the same key whose
  // end the transaction does not see: a live version, even one it cannot
  // see yet, or one ended by another transaction not yet committed or after
  // the transaction's snapshot.
  bool CheckUnique(const TTransaction& transaction, const unsigned char* record);

  // Copies the last key of the index into `key` (KeyRecordType() layout);
  // false when the index is empty.
  bool ReadLastKey(unsigned char* key);

  // The times and address of a key.
  static TTimeStamp KeyBegTime(const unsigned char* key);
  static TTimeStamp KeyEndTime(const unsigned char* key);
  static int32_t KeyAddress(const unsigned char* key);

 private:
  friend class TRawTable;

  // WorkKey := the key of `record` at `address`.
  void BuildKey(int32_t address, const unsigned char* record);
  // Puts the work cursor on the entry equal to WorkKey on all fields.
  void SeekWorkKey();

  TRawTable* Owner;
  TTableIndex* NextUniqueIndex = nullptr;
  bool Unique = false;
  Ref<TRecordCompFunc> StoredOrder;
  std::unique_ptr<unsigned char[]> WorkKey;
  Ref<TRecordType> KeyType;
  Ref<TRecordCompFunc> KeyOrder;
  Ref<TIndex> Tree;
  Ref<TIndexPtr> Cursor;
  Ref<TRecordCopier> KeyCopier;
};

// The cursor of a table view (TTable) on its table index. When the entry
// under it gets new times it lets the view check whether the version is
// still current for the view's transaction.
class TTableIndexPtr final : public TIndexPtr {
 public:
  // Takes over the reference to the tree; borrows the view, which owns the
  // cursor.
  TTableIndexPtr(Ref<TIndex> index, TTable& table);

 protected:
  void EntryChanged() override;

 private:
  TTable* Table;
};

}  // namespace kor
