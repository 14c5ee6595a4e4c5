#pragma once

#include <cstdint>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/index.h"
#include "engine/storage/page.h"

namespace kor {

// A cursor on a B-tree (TIndex). It is in one of four states:
//   detached        no position (after creation, Detach, Delete, or the
//                   deletion of its entry through another cursor)
//   before first    IsBOF(): Next goes to the first entry
//   after last      IsEOF(): Prior goes to the last entry
//   on an entry     a page and a slot; the cursor is linked into that
//                   page's cursor list and holds a use on the page
// Entries carry their cursors: when a split, merge or redistribution moves
// a key, the cursors on it move with it, so a cursor keeps its entry until
// that entry is deleted.
//
// Transitions:
//   any state     -- Detach -->                            detached
//   any state     -- GoBeforeFirst / GoAfterLast -->        before first / after last
//   any state     -- Seek -->                               on an entry, before first or after last
//   any state     -- Insert -->                             on the new entry
//   not detached  -- Next / Prior -->                       on an entry, after last / before first
//   on an entry   -- Delete -->                             detached (and every cursor on it)
class TIndexPtr : public TRCObject {
 public:
  // A detached cursor; takes over the reference to the index.
  explicit TIndexPtr(Ref<TIndex> index);
  ~TIndexPtr() override;

  TIndex& Index() const { return *Tree; }
  bool IsDetached() const { return Detached; }
  bool IsBOF() const { return Bof; }
  bool IsEOF() const { return Eof; }
  bool IsOnEntry() const { return CurrentPage != nullptr; }
  // The page and slot of the entry; null and -1 when not on an entry.
  const TPage* Page() const { return CurrentPage; }
  int32_t Slot() const { return CurrentSlot; }
  // The next cursor in the same page's list (checks walk the lists).
  const TIndexPtr* NextOnPage() const { return NextCursor; }

  void Detach();
  void GoBeforeFirst();
  void GoAfterLast();
  // Forward: the first entry >= key, else after the last entry. Backward:
  // the last entry <= key, else before the first. Both judged on the first
  // `fieldCount` parts (-1: all; 0 matches every key).
  void Seek(const unsigned char* key, int32_t fieldCount, bool forward);
  // One entry on; nothing after the last. REQUIRES: !IsDetached().
  void Next();
  // One entry back; nothing before the first. REQUIRES: !IsDetached().
  void Prior();
  // Adds `key` (KeySize() bytes), which must differ on all parts from every
  // key of the tree; the cursor ends on it. Raises EFileFullError, before
  // anything changes, when the index file cannot grow for the pages a
  // split may need.
  void Insert(const unsigned char* key);
  // Insert of a key greater on all parts than every key of the tree (as a
  // build in key order adds them), found along the right edge without a
  // search. A key that is not greater is a caller's bug (fatal).
  void Append(const unsigned char* key);
  // Removes the entry; this cursor and every other one on the entry end
  // detached. REQUIRES: IsOnEntry().
  void Delete();
  // Overwrites the entry with `key`, which must compare equal to it on all
  // parts (bytes outside the compared parts change), then calls
  // EntryChanged on every cursor on the entry, this one included.
  // REQUIRES: IsOnEntry(), not locked.
  void Replace(const unsigned char* key);

  // Pin the entry's page so that Entry() may be read. The cursor must not
  // move or change the tree between Lock and Unlock. REQUIRES: IsOnEntry().
  void Lock();
  void Unlock();
  // The entry's bytes, valid until Unlock. REQUIRES: locked.
  const unsigned char* Entry() const;
  // key against the entry on `fieldCount` parts: negative, 0 or positive.
  // REQUIRES: IsOnEntry(), not locked.
  int CompareEntry(const unsigned char* key, int32_t fieldCount) const;

 protected:
  // The entry under the cursor was rewritten in place by Replace (through
  // this cursor or another). Runs with the page unpinned, so it may Lock and
  // read the entry, and it may detach this cursor; it must not move other
  // cursors or change the tree.
  virtual void EntryChanged() {}

 private:
  friend class TPage;

  // Leaves the current entry (unlinks from the page list) without
  // changing the flags.
  void Leave();
  void AttachAt(TPage& page, int32_t slot);
  void SetEOF();
  void SetBOF();
  // The position after key `slot` of a leaf (slot may be -1), climbing to
  // the ancestors when the leaf is exhausted.
  void NextFromLeaf(TPage* page, int32_t slot);
  // The rightmost leaf and its depth (`levels`, 1 for a root leaf).
  TPage& RightmostLeaf(int32_t& levels) const;
  // Whether `key` sorts after the last key of `leaf` (false for an empty
  // leaf).
  bool IsAboveLastKey(TPage& leaf, const unsigned char* key) const;
  // The second half of Insert: `key` into `leaf` at slot a, the leaf
  // `levels` deep; the cursor ends on it.
  void InsertInLeaf(TPage& leaf, int32_t a, int32_t levels, const unsigned char* key);
  // The position before key `slot` of a leaf (slot may be Count()).
  void PriorFromLeaf(TPage* page, int32_t slot);
  // The first (last) entry of the subtree under `page`.
  void GoToFirstIn(TPage* page);
  void GoToLastIn(TPage* page);
  // The leaf where `key` belongs and the slot Search gives there.
  TPage* Descend(const unsigned char* key, int32_t fieldCount, bool lowerBound, int32_t& slot,
                 int32_t* levels = nullptr) const;

  TPage* CurrentPage = nullptr;
  int32_t CurrentSlot = -1;
  TIndexPtr* NextCursor = nullptr;
  TIndexPtr* PreviousCursor = nullptr;
  bool Eof = false;
  bool Bof = false;
  bool Detached = true;
  Ref<TIndex> Tree;
};

}  // namespace kor
