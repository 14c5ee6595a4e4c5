#pragma once

#include <cstdint>
#include <memory>

#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

#include "engine/storage/index_file.h"

// One page of a B-tree of fixed-size keys (TIndex, index.h), on disk and in
// its page buffer. k is the key size, t the degree of the tree; every
// integer is 32-bit signed little-endian.
//
//   OFFSET           SIZE   DESCRIPTION
//   0                4      n, the number of keys in the page (0 .. 2t-1)
//   4 + i*(k+4)      4      pointer i, i = 0 .. n: the page number of child
//                           i in an internal page. Pointer 0 of a leaf is -1,
//                           which tells a leaf from an internal page; its
//                           other pointers mean nothing. A new internal page
//                           has pointer 0 = -2 until its first child is
//                           linked.
//   8 + i*(k+4)      k      key i, i = 0 .. n-1, in ascending order
//   8 + n*(k+4)      rest   unused
//
// So the page is word n followed by pointer 0 and then n units of
// (key i, pointer i+1), each k+4 bytes. Moving keys with the pointers to
// their right is moving whole units; with 2t-1 keys the page needs
// 4 + 4 + (2t-1)*(k+4) bytes, which the degree is chosen to fit.
//
// Key i sorts after every key of child i and before every key of child i+1.
// The rules of the tree are numbered at the top of index.cpp.

namespace kor {

class TIndex;
class TIndexPtr;

// The in-memory companion of one page: its count and kind, its place in
// the tree (parent and slot), the loaded child objects, and the cursors
// standing on its entries. Created when the page is made or first visited;
// it lives until its page is freed (or, idle, until the index's last
// activation ends).
class TPage final : public TCachedPage {
 public:
  struct TChild {
    TPage* Object;   // null while the child page has no object
    int32_t Number;  // the child's page number; -2 for none
  };

  static constexpr int32_t kLeafMark = -1;
  static constexpr int32_t kUnlinkedMark = -2;

  // A new empty page of `index`, stored and unpinned, without parent.
  TPage(TIndex& index, bool isLeaf);
  // The object for child `slot` of `parent`, read from the file.
  TPage(TIndex& index, TPage& parent, int32_t slot);
  // Unhooks the object from its parent (rule 5). REQUIRES: not cached, no
  // cursor, no loaded child: an idle object or a freed page.
  ~TPage() override;

  TIndex& Index() const { return *Owner; }
  TPage* Parent() const { return ParentPage; }
  int32_t ParentSlot() const { return SlotInParent; }
  int32_t Count() const { return KeyCount; }
  bool IsLeaf() const { return Leaf; }
  // REQUIRES: internal page, 0 <= i <= Count().
  const TChild& ChildLink(int32_t i) const;
  const TIndexPtr* FirstCursor() const { return Cursors; }

  void Pin();
  void Unpin();
  // The bytes of key i. REQUIRES: pinned.
  unsigned char* Key(int32_t i) const {
    FailIf(!IsPinned());
    return Buffer() + KeyOffset(i);
  }
  // Pointer i as it is in the buffer. REQUIRES: pinned.
  int32_t Pointer(int32_t i) const {
    FailIf(!IsPinned());
    return DecodeInt32(Buffer() + PointerOffset(i));
  }

  // Child i, loading its page object when it has none yet.
  // REQUIRES: internal page, 0 <= i <= Count().
  TPage& Child(int32_t i);
  // The first slot whose key is >= key (lowerBound) or > key (otherwise),
  // comparing `fieldCount` parts; Count() when there is none.
  int32_t Search(const unsigned char* key, int32_t fieldCount, bool lowerBound);
  // Writes the count into the buffer, marks the page dirty and unpins it.
  // REQUIRES: pinned.
  void Store();
  // Inserts `key` at slot a of a leaf, splitting it first when it is full.
  // REQUIRES: leaf, not pinned, 0 <= a <= Count().
  void InsertAt(int32_t a, const unsigned char* key);
  // Removes key i (with pointer i+1) and rebalances. REQUIRES: pinned, no
  // cursor on key i, child i+1 of an internal page already freed.
  void RemoveAt(int32_t i);
  // Splits a full page around its median, which moves up into the parent
  // (a new root when there is none); returns the new right sibling.
  // REQUIRES: Count() == 2t-1, not pinned.
  TPage& Split();
  // Returns the page to the file and destroys this object, unhooking it
  // from its parent, or dropping the index's use when it is the root.
  // REQUIRES: not pinned, no cursor, no loaded child.
  void Free();
  // Frees every child of this page, in order, without loading those not
  // loaded: a leaf's page is all there is to free, and its number is here.
  // REQUIRES: internal, its children leaves, none pinned or with a cursor.
  void FreeLeafChildren();

  // Key i and pointer i+1 joined into units of this size.
  int32_t UnitSize() const { return Unit; }

 private:
  friend class TIndexPtr;

  size_t PointerOffset(int32_t i) const { return 4 + static_cast<size_t>(i) * Unit; }
  size_t KeyOffset(int32_t i) const { return 8 + static_cast<size_t>(i) * Unit; }
  void SetPointer(int32_t i, int32_t value) { EncodeInt32(Buffer() + PointerOffset(i), value); }

  // Makes `page` child i of this page. REQUIRES: internal, not pinned.
  void LinkChild(int32_t i, TPage& page);
  void Merge(TPage& right);
  void Redistribute(TPage& right);
  void CollapseRoot();

  // Cursor bookkeeping (rule 9).
  void LinkCursor(TIndexPtr& cursor, int32_t slot);
  void UnlinkCursor(TIndexPtr& cursor);
  // Adds `delta` to the slot of every cursor in first..last.
  void ShiftCursors(int32_t first, int32_t last, int32_t delta);
  // Re-attaches the cursors on keys first..last to `target`, key `first`
  // going to slot `to`.
  void MoveCursors(int32_t first, int32_t last, TPage& target, int32_t to);
  // Moves `count` children entries from..from+count-1 to `target` at `to`
  // (possibly this page: a shift), with the loaded children's parent, slot
  // and use on their parent; clears the vacated entries.
  void MoveChildren(int32_t from, int32_t count, TPage& target, int32_t to);
  // Copies `count` bytes at `offset` of this page's buffer to `target`'s
  // buffer at `to` (the same buffer for a shift).
  void MoveBytes(size_t offset, size_t count, TPage& target, size_t to) const {
    CopyBytes(Buffer() + offset, target.Buffer() + to, count);
  }

  TIndex* Owner;
  TPage* ParentPage = nullptr;
  int32_t SlotInParent = -1;
  TIndexPtr* Cursors = nullptr;
  int32_t KeyCount = 0;
  int32_t Unit;
  bool Leaf;
  // Internal pages: 2t entries, of which 0 .. Count() are in use.
  std::unique_ptr<TChild[]> Children;
};

}  // namespace kor
