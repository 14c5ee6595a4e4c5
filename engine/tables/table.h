#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/transaction.h"
#include "engine/tables/raw_table.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_copier.h"
#include "engine/tables/record_type.h"
#include "engine/tables/table_index.h"

// A table view: what a client session opens on a raw table. It shows a
// chosen list of the table's fields (then the result fields of its lookups)
// in one record, the view record, ordered by one table index, moving only
// over the versions its transaction sees, and it inserts, updates and
// deletes through the raw table within that transaction.
//
// View record (exchanged with the client as it is):
//   the opened fields at their declared widths, in the order opened,
//   then the result fields of each lookup in order,
//   then the null bitmap of all of them.
//
// Position. The view stands either nowhere (no position), before the first
// record, after the last record, or on a record: a version of the index
// that its transaction sees, whose address is CurrentAddress(). Several
// views of one transaction see each other's changes at once; a view whose
// record is ended through another view of its transaction loses its
// position, and one whose index entry is removed (a version purged, or
// removed by a nested commit) has none either.
//
// The operations that need a position refuse with false when the view has
// none (a client may ask for them in any state); nothing moves then.

namespace kor {

class TLookup;

class TTable final : public TRCObject {
 public:
  // Status() bits; they are on the wire (the data replies) and never change.
  static constexpr int32_t kNoPosition = 1;
  static constexpr int32_t kBeforeFirst = 2;
  static constexpr int32_t kAfterLast = 4;

  // Opens a view of `rawTable` (reference taken over) inside `transaction`
  // (reference taken over; the view counts as one of its open views). The
  // view's own fields are the declared fields `fieldList` (numbers 1..n of
  // the declared record type, repeats allowed) in that order; its order is
  // `comparison` (over the raw table's declared record type, borrowed); the
  // lookups (references taken over) add their result fields after them.
  // Raises EReaderSyntaxError, with nothing built, when a field number is
  // out of range, the order uses a field the view does not open, a lookup's
  // field part names no field filled before it or one of another width
  // than its key field, the view would have no field or be too large, or
  // the index's keys would not fit the index file's pages (EKeyTooLargeError,
  // one of them); EFileFullError when the index file is full.
  TTable(Ref<TRawTable> rawTable, std::span<const int32_t> fieldList, Ref<TTransaction> transaction,
         const TRecordCompFunc& comparison, std::vector<Ref<TLookup>> lookups);
  // A view without lookups.
  TTable(Ref<TRawTable> rawTable, std::span<const int32_t> fieldList, Ref<TTransaction> transaction,
         const TRecordCompFunc& comparison);
  ~TTable() override;

  bool IsDetached() const;
  bool IsBOF() const;
  bool IsEOF() const;
  // kNoPosition, kBeforeFirst or kAfterLast, or 0 on a record.
  int32_t Status() const;
  bool IsOnRecord() const { return Status() == 0; }
  // The address of the current version; -1 when not on a record.
  int32_t CurrentAddress() const { return Current; }

  void Unposition();
  void GoBeforeFirst();
  void GoAfterLast();
  // Move to the next (previous) version the transaction sees, or after the
  // last (before the first) record. From before the first record Next gives
  // the first one; from after the last, Prior gives the last one. False,
  // with nothing moved, when the view has no position.
  bool Next();
  bool Prior();
  // Calls Next n times (Prior -n times) or until the view stands after the
  // last (before the first) record; returns the number of calls, negative
  // backward. The call that runs off the end counts. 0 without a position.
  int32_t MoveBy(int32_t n);

  // Positions the view by the key fields of the view record: forward on the
  // first visible record whose first `fieldCount` key fields are >= the
  // view record's, backward on the last one <=, else after the last /
  // before the first record. False, with nothing moved, unless
  // 0 <= fieldCount <= KeyFieldCount().
  bool SeekKey(int32_t fieldCount, bool forward);
  // SeekKey forward, then whether the view stands on a record whose first
  // `fieldCount` key fields equal the view record's.
  bool FindKey(int32_t fieldCount);
  // Whether the view stands on a record whose first `fieldCount` key fields
  // equal those of `keyRecord` (KeyRecordType() layout, e.g. SearchKey()).
  bool MatchesKey(const unsigned char* keyRecord, int32_t fieldCount) const;
  // The key built by the last SeekKey or FindKey.
  const unsigned char* SearchKey() const { return KeyBuffer.get(); }

  // Fills the view record from the current record and the lookups. False,
  // with the view record unchanged, when not on a record.
  bool ReadCurrent();
  // Stores the view record as a new record (fields not opened are null) and
  // stands on it. False, with nothing changed or moved, when a unique index
  // refuses its key or the table is full.
  bool Insert();
  // Replaces the current record by the view record (fields not opened
  // become null) and stands on the new version. False when not on a
  // record, when the record was already ended by any transaction, or when a
  // unique index refuses the new key; nothing changes or moves then, except
  // in the rare case where the new version cannot be stored after the old
  // one was ended (a full table file): the old one stays ended and the view
  // loses its position.
  bool Update();
  // Ends the current record and moves to the next visible record (or after
  // the last). False, standing on the record still, when it was already
  // ended by any transaction; false without a position.
  bool Delete();

  // The view record and its layout.
  unsigned char* ViewBuffer() const { return View.get(); }
  int32_t ViewRecordSize() const { return ViewSize; }
  const TRecordType& ViewRecordType() const { return *ViewType; }
  int32_t OwnFieldCount() const { return OwnFields; }
  // The number of fields of the view's order (the seekable key fields).
  int32_t KeyFieldCount() const { return ComparisonFields; }
  const TRecordType& KeyRecordType() const { return Index->KeyRecordType(); }

  TRawTable& RawTable() const { return *Raw; }
  TTransaction& Transaction() const { return *Owner; }
  TTableIndex& TableIndex() const { return *Index; }
  int32_t LookupCount() const { return static_cast<int32_t>(Lookups.size()); }

 private:
  friend class TTableIndexPtr;
  friend class TLookup;

  // The entry under the cursor got new times (RewriteEntry).
  void EntryRewritten();
  // Steps the cursor until it stands on a visible version or runs off the
  // end; sets Current.
  void Step(bool forward);
  // Seeks `key` on `fieldCount` parts and settles on a visible version.
  void PositionByKey(const unsigned char* key, int32_t fieldCount, bool forward);
  // Stands on the version at `address`, which the stored buffer holds.
  void PositionOnVersion(int32_t address);

  int32_t Current = -1;
  Ref<TRawTable> Raw;
  Ref<TTransaction> Owner;
  Ref<TRecordType> ViewType;
  Ref<TRecordCopier> StoredToView;
  Ref<TRecordCopier> ViewToStored;
  Ref<TRecordCopier> ViewToKey;
  Ref<TTableIndex> Index;
  Ref<TTableIndexPtr> Cursor;
  std::unique_ptr<unsigned char[]> Stored;
  std::vector<Ref<TLookup>> Lookups;
  int32_t OwnFields = 0;
  std::unique_ptr<unsigned char[]> KeyBuffer;
  std::unique_ptr<unsigned char[]> View;
  int32_t ViewSize = 0;
  int32_t ComparisonFields = 0;
};

}  // namespace kor
