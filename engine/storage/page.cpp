#include "engine/storage/page.h"

#include <cstring>

#include "engine/base/fatal.h"

#include "engine/storage/index.h"
#include "engine/storage/index_ptr.h"

// The page primitives of the B-tree. Rule numbers refer to index.cpp.

namespace kor {

TPage::TPage(TIndex& index, bool isLeaf)
    : TCachedPage(index), Owner(&index), Unit(index.KeySize() + 4), Leaf(isLeaf) {
  index.IndexFile().NewPage(*this);
  if (isLeaf) {
    SetPointer(0, kLeafMark);
  } else {
    SetPointer(0, kUnlinkedMark);
    Children = std::make_unique<TChild[]>(static_cast<size_t>(2 * index.Degree()));
    for (int32_t i = 0; i < 2 * index.Degree(); ++i) Children[i] = {nullptr, kUnlinkedMark};
  }
  Store();
}

TPage::TPage(TIndex& index, TPage& parent, int32_t slot)
    : TCachedPage(index),
      Owner(&index),
      ParentPage(&parent),
      SlotInParent(slot),
      Unit(index.KeySize() + 4),
      Leaf(false) {
  TChild& link = parent.Children[slot];
  link.Object = this;
  parent.AddUse();
  SetPageNumber(link.Number);
  Pin();
  KeyCount = DecodeInt32(Buffer());
  Leaf = DecodeInt32(Buffer() + PointerOffset(0)) == kLeafMark;
  // The file is this process's own, written only by Store: a count out of
  // range is a broken invariant, not bad input.
  FailIf(KeyCount < 1 || KeyCount > index.MaxKeys());
  if (!Leaf) {
    Children = std::make_unique<TChild[]>(static_cast<size_t>(2 * index.Degree()));
    for (int32_t i = 0; i < 2 * index.Degree(); ++i) {
      Children[i] = {nullptr, i <= KeyCount ? Pointer(i) : kUnlinkedMark};
    }
  }
  Unpin();
}

TPage::~TPage() {
  FailIf(IsCached() || Cursors != nullptr);
  if (Children != nullptr) {
    for (int32_t i = 0; i <= KeyCount; ++i) FailIf(Children[i].Object != nullptr);
  }
  if (ParentPage != nullptr) {
    ParentPage->Children[SlotInParent].Object = nullptr;
    ParentPage->DropUse();
  }
}

const TPage::TChild& TPage::ChildLink(int32_t i) const {
  FailIf(Leaf || i < 0 || i > KeyCount);
  return Children[i];
}

void TPage::Pin() { Owner->IndexFile().PinPage(*this); }

void TPage::Unpin() { Owner->IndexFile().UnpinPage(*this); }

TPage& TPage::Child(int32_t i) {
  FailIf(Leaf || i < 0 || i > KeyCount);
  if (Children[i].Object != nullptr) return *Children[i].Object;
  return *new TPage(*Owner, *this, i);
}

int32_t TPage::Search(const unsigned char* key, int32_t fieldCount, bool lowerBound) {
  Pin();
  int32_t lo = 0;
  int32_t hi = KeyCount - 1;
  while (lo <= hi) {
    int32_t mid = (lo + hi) >> 1;
    int c = Owner->Compare(key, Buffer() + KeyOffset(mid), fieldCount);
    if (c < 0 || (c == 0 && lowerBound)) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  Unpin();
  return lo;
}

void TPage::Store() {
  FailIf(!IsPinned());
  EncodeInt32(Buffer(), KeyCount);
  // Moves of units may carry a meaningless pointer into slot 0 of a leaf;
  // -1 there is what marks the page as a leaf (rule 4).
  if (Leaf) SetPointer(0, kLeafMark);
  MarkDirty();
  Unpin();
}

void TPage::LinkChild(int32_t i, TPage& page) {
  AddUse();
  Children[i] = {&page, page.PageNumber()};
  page.ParentPage = this;
  page.SlotInParent = i;
  Pin();
  SetPointer(i, page.PageNumber());
  Store();
}

void TPage::InsertAt(int32_t a, const unsigned char* key) {
  FailIf(!Leaf || a < 0 || a > KeyCount);
  if (KeyCount == Owner->MaxKeys()) {
    TPage& right = Split();
    // This page kept keys 0 .. t-2 and the median went up; a key after the
    // median belongs to the new right sibling.
    int32_t t = Owner->Degree();
    if (a > t - 1) {
      right.InsertAt(a - t, key);
      return;
    }
  }
  Pin();
  MoveBytes(KeyOffset(a), static_cast<size_t>(KeyCount - a) * Unit, *this, KeyOffset(a + 1));
  ShiftCursors(a, KeyCount - 1, 1);
  CopyBytes(key, Buffer() + KeyOffset(a), static_cast<size_t>(Owner->KeySize()));
  ++KeyCount;
  Store();
}

// Split of a full page P (2t-1 keys) with parent F (made when P is the
// root), P being child s of F:
//   F: ... key s-1 | P | key s ...   becomes
//   F: ... key s-1 | P | median | Q | key s ...
// P keeps keys 0 .. t-2 and children 0 .. t-1; the median (key t-1) moves
// up; the new page Q takes keys t .. 2t-2 and children t .. 2t-1.
TPage& TPage::Split() {
  int32_t t = Owner->Degree();
  FailIf(KeyCount != 2 * t - 1);
  if (ParentPage == nullptr) {
    TPage* root = new TPage(*Owner, false);
    root->LinkChild(0, *this);
    root->AddUse();  // the index's use moves to the new root (rule 6)
    Owner->RootPage = root;
    DropUse();
  } else if (ParentPage->KeyCount == 2 * t - 1) {
    // The parent must take one more key; splitting it may move this page
    // to the parent's new sibling, which ParentPage and SlotInParent follow.
    ParentPage->Split();
  }
  TPage& parent = *ParentPage;
  int32_t s = SlotInParent;
  Pin();
  parent.Pin();
  int32_t moved = parent.KeyCount - s;
  parent.MoveBytes(parent.KeyOffset(s), static_cast<size_t>(moved) * Unit, parent,
                   parent.KeyOffset(s + 1));
  parent.ShiftCursors(s, parent.KeyCount - 1, 1);
  parent.MoveChildren(s + 1, moved, parent, s + 2);
  MoveBytes(KeyOffset(t - 1), static_cast<size_t>(Owner->KeySize()), parent, parent.KeyOffset(s));
  MoveCursors(t - 1, t - 1, parent, s);
  ++parent.KeyCount;
  parent.Store();

  TPage* right = new TPage(*Owner, Leaf);
  parent.LinkChild(s + 1, *right);
  right->Pin();
  MoveBytes(PointerOffset(t), static_cast<size_t>(t - 1) * Unit + 4, *right,
            right->PointerOffset(0));
  MoveCursors(t, 2 * t - 2, *right, 0);
  if (!Leaf) MoveChildren(t, t, *right, 0);
  KeyCount = t - 1;
  right->KeyCount = t - 1;
  Store();
  right->Store();
  return *right;
}

void TPage::RemoveAt(int32_t i) {
  FailIf(!IsPinned() || i < 0 || i >= KeyCount);
  MoveBytes(KeyOffset(i + 1), static_cast<size_t>(KeyCount - 1 - i) * Unit, *this, KeyOffset(i));
  if (!Leaf) {
    FailIf(Children[i + 1].Object != nullptr);
    MoveChildren(i + 2, KeyCount - 1 - i, *this, i + 1);
  }
  for (TIndexPtr* cursor = Cursors; cursor != nullptr; cursor = cursor->NextCursor) {
    FailIf(cursor->CurrentSlot == i);
    if (cursor->CurrentSlot > i) --cursor->CurrentSlot;
  }
  --KeyCount;
  Store();

  int32_t t = Owner->Degree();
  if (KeyCount < t - 1 && ParentPage != nullptr) {
    TPage& parent = *ParentPage;
    int32_t s = SlotInParent;
    TPage& left = s == parent.KeyCount ? parent.Child(s - 1) : *this;
    TPage& right = s == parent.KeyCount ? *this : parent.Child(s + 1);
    // Either call may free this page: nothing of it is touched after.
    if (left.KeyCount + right.KeyCount < 2 * t - 1) {
      left.Merge(right);
    } else {
      left.Redistribute(right);
    }
    return;
  }
  if (KeyCount == 0 && !Leaf) CollapseRoot();
}

// The root lost its last key: its only child becomes the root and the tree
// is one level lower.
void TPage::CollapseRoot() {
  FailIf(ParentPage != nullptr || Owner->RootPage != this);
  TPage& child = Child(0);
  child.AddUse();  // the index's use (rule 6)
  Owner->RootPage = &child;
  child.ParentPage = nullptr;
  child.SlotInParent = -1;
  Children[0] = {nullptr, kUnlinkedMark};
  DropUse();  // the child's use on its parent
  Free();
}

void TPage::Free() {
  FailIf(IsPinned() || Cursors != nullptr);
  Owner->IndexFile().FreePage(*this);
  if (ParentPage != nullptr) {
    ParentPage->Children[SlotInParent] = {nullptr, kUnlinkedMark};
    ParentPage->DropUse();
    ParentPage = nullptr;
  } else {
    // The root, or a root just replaced by its child (CollapseRoot): the
    // index's use goes with it.
    if (Owner->RootPage == this) Owner->RootPage = nullptr;
    DropUse();
  }
  delete this;
}

void TPage::FreeLeafChildren() {
  FailIf(Leaf);
  for (int32_t i = 0; i <= KeyCount; ++i) {
    if (Children[i].Object != nullptr) {
      FailIf(!Children[i].Object->IsLeaf());
      Children[i].Object->Free();
    } else {
      Owner->IndexFile().FreePageNumber(Children[i].Number);
      Children[i] = {nullptr, kUnlinkedMark};
    }
  }
}

// Merge of this page L with its right sibling R, around dividing key j of
// their parent F (L is child j, R child j+1), when both fit one page:
//   L: keys of L, key j of F, keys of R   (children of L, then of R)
// R is freed and F loses key j with pointer j+1, which may cascade upwards.
void TPage::Merge(TPage& right) {
  TPage& parent = *ParentPage;
  int32_t j = SlotInParent;
  int32_t nl = KeyCount;
  int32_t nr = right.KeyCount;
  FailIf(right.ParentPage != &parent || right.SlotInParent != j + 1);
  FailIf(nl + nr + 1 > Owner->MaxKeys());
  Pin();
  parent.Pin();
  right.Pin();
  parent.MoveBytes(parent.KeyOffset(j), static_cast<size_t>(Owner->KeySize()), *this,
                   KeyOffset(nl));
  parent.MoveCursors(j, j, *this, nl);
  right.MoveBytes(right.PointerOffset(0), static_cast<size_t>(nr) * Unit + 4, *this,
                  PointerOffset(nl + 1));
  right.MoveCursors(0, nr - 1, *this, nl + 1);
  if (!Leaf) right.MoveChildren(0, nr + 1, *this, nl + 1);
  KeyCount = nl + nr + 1;
  right.KeyCount = 0;
  right.Unpin();
  right.Free();
  Store();
  parent.RemoveAt(j);
}

// Redistribution between this page L (nl keys) and its right sibling R (nr
// keys) around dividing key j of their parent, when they cannot merge: L
// ends with c = (nl + nr) div 2 keys and R with the rest. Keys rotate through
// the parent: the dividing key comes down into the poorer page and the key
// next to it in the richer page goes up in its place.
void TPage::Redistribute(TPage& right) {
  TPage& parent = *ParentPage;
  int32_t j = SlotInParent;
  int32_t nl = KeyCount;
  int32_t nr = right.KeyCount;
  int32_t c = (nl + nr) >> 1;
  int32_t d = nl + nr - c;
  size_t keySize = static_cast<size_t>(Owner->KeySize());
  FailIf(right.ParentPage != &parent || right.SlotInParent != j + 1);
  Pin();
  parent.Pin();
  right.Pin();
  if (c > nl) {
    // m keys pass from R to L: key j of F, then R's keys 0 .. m-2 (with R's
    // pointers 0 .. m-1); R's key m-1 goes up.
    int32_t m = c - nl;
    parent.MoveBytes(parent.KeyOffset(j), keySize, *this, KeyOffset(nl));
    parent.MoveCursors(j, j, *this, nl);
    right.MoveBytes(right.PointerOffset(0), static_cast<size_t>(m - 1) * Unit + 4, *this,
                    PointerOffset(nl + 1));
    right.MoveCursors(0, m - 2, *this, nl + 1);
    if (!Leaf) right.MoveChildren(0, m, *this, nl + 1);
    right.MoveBytes(right.KeyOffset(m - 1), keySize, parent, parent.KeyOffset(j));
    right.MoveCursors(m - 1, m - 1, parent, j);
    right.MoveBytes(right.PointerOffset(m), static_cast<size_t>(nr - m) * Unit + 4, right,
                    right.PointerOffset(0));
    right.ShiftCursors(m, nr - 1, -m);
    if (!Leaf) right.MoveChildren(m, nr - m + 1, right, 0);
  } else if (d > nr) {
    // m keys pass from L to R: L's keys c+1 .. nl-1 (with L's pointers
    // c+1 .. nl), then key j of F; L's key c goes up.
    int32_t m = nl - c;
    right.MoveBytes(right.PointerOffset(0), static_cast<size_t>(nr) * Unit + 4, right,
                    right.PointerOffset(m));
    right.ShiftCursors(0, nr - 1, m);
    if (!Leaf) right.MoveChildren(0, nr + 1, right, m);
    parent.MoveBytes(parent.KeyOffset(j), keySize, right, right.KeyOffset(m - 1));
    parent.MoveCursors(j, j, right, m - 1);
    MoveBytes(PointerOffset(c + 1), static_cast<size_t>(m - 1) * Unit + 4, right,
              right.PointerOffset(0));
    MoveCursors(c + 1, nl - 1, right, 0);
    if (!Leaf) MoveChildren(c + 1, m, right, 0);
    MoveBytes(KeyOffset(c), keySize, parent, parent.KeyOffset(j));
    MoveCursors(c, c, parent, j);
  }
  KeyCount = c;
  right.KeyCount = d;
  Store();
  right.Store();
  parent.Store();
}

void TPage::LinkCursor(TIndexPtr& cursor, int32_t slot) {
  FailIf(slot < 0 || slot >= KeyCount);
  AddUse();
  cursor.CurrentPage = this;
  cursor.CurrentSlot = slot;
  cursor.PreviousCursor = nullptr;
  cursor.NextCursor = Cursors;
  if (Cursors != nullptr) Cursors->PreviousCursor = &cursor;
  Cursors = &cursor;
}

void TPage::UnlinkCursor(TIndexPtr& cursor) {
  FailIf(cursor.CurrentPage != this);
  if (cursor.PreviousCursor != nullptr) {
    cursor.PreviousCursor->NextCursor = cursor.NextCursor;
  } else {
    Cursors = cursor.NextCursor;
  }
  if (cursor.NextCursor != nullptr) cursor.NextCursor->PreviousCursor = cursor.PreviousCursor;
  cursor.CurrentPage = nullptr;
  cursor.CurrentSlot = -1;
  cursor.NextCursor = nullptr;
  cursor.PreviousCursor = nullptr;
  DropUse();
}

void TPage::ShiftCursors(int32_t first, int32_t last, int32_t delta) {
  for (TIndexPtr* cursor = Cursors; cursor != nullptr; cursor = cursor->NextCursor) {
    if (cursor->CurrentSlot >= first && cursor->CurrentSlot <= last) cursor->CurrentSlot += delta;
  }
}

void TPage::MoveCursors(int32_t first, int32_t last, TPage& target, int32_t to) {
  TIndexPtr* cursor = Cursors;
  while (cursor != nullptr) {
    TIndexPtr* next = cursor->NextCursor;
    int32_t slot = cursor->CurrentSlot;
    if (slot >= first && slot <= last) {
      UnlinkCursor(*cursor);
      // Linked without the range check: the target's count is set after
      // the move.
      target.AddUse();
      cursor->CurrentPage = &target;
      cursor->CurrentSlot = slot - first + to;
      cursor->PreviousCursor = nullptr;
      cursor->NextCursor = target.Cursors;
      if (target.Cursors != nullptr) target.Cursors->PreviousCursor = cursor;
      target.Cursors = cursor;
    }
    cursor = next;
  }
}

void TPage::MoveChildren(int32_t from, int32_t count, TPage& target, int32_t to) {
  if (count <= 0) return;
  // TChild is a plain pair: memmove handles the overlap of a shift.
  memmove(&target.Children[to], &Children[from], static_cast<size_t>(count) * sizeof(TChild));
  for (int32_t i = to; i < to + count; ++i) {
    TPage* child = target.Children[i].Object;
    if (child == nullptr) continue;
    child->SlotInParent = i;
    if (&target != this) {
      target.AddUse();
      DropUse();
      child->ParentPage = &target;
    }
  }
  for (int32_t i = from; i < from + count; ++i) {
    if (&target != this || i < to || i >= to + count) Children[i] = {nullptr, kUnlinkedMark};
  }
}

}  // namespace kor
