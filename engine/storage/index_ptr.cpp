#include "engine/storage/index_ptr.h"

#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

// Cursor movement and the changes made through a cursor. Rule numbers refer
// to index.cpp.

namespace kor {

TIndexPtr::TIndexPtr(Ref<TIndex> index) : Tree(std::move(index)) { FailIf(!Tree); }

TIndexPtr::~TIndexPtr() { Detach(); }

void TIndexPtr::Leave() {
  if (CurrentPage != nullptr) CurrentPage->UnlinkCursor(*this);
}

void TIndexPtr::AttachAt(TPage& page, int32_t slot) {
  page.LinkCursor(*this, slot);
  Detached = false;
  Bof = false;
  Eof = false;
}

void TIndexPtr::SetEOF() {
  Leave();
  Detached = false;
  Bof = false;
  Eof = true;
}

void TIndexPtr::SetBOF() {
  Leave();
  Detached = false;
  Eof = false;
  Bof = true;
}

void TIndexPtr::Detach() {
  Leave();
  Bof = false;
  Eof = false;
  Detached = true;
}

void TIndexPtr::GoBeforeFirst() { SetBOF(); }

void TIndexPtr::GoAfterLast() { SetEOF(); }

TPage* TIndexPtr::Descend(const unsigned char* key, int32_t fieldCount, bool lowerBound,
                          int32_t& slot, int32_t* levels) const {
  TPage* page = &Tree->Root();
  int32_t depth = 1;
  for (;;) {
    slot = page->Search(key, fieldCount, lowerBound);
    if (page->IsLeaf()) break;
    page = &page->Child(slot);
    ++depth;
  }
  if (levels != nullptr) *levels = depth;
  return page;
}

void TIndexPtr::NextFromLeaf(TPage* page, int32_t slot) {
  ++slot;
  while (slot == page->Count() && page->Parent() != nullptr) {
    slot = page->ParentSlot();
    page = page->Parent();
  }
  if (slot == page->Count()) {
    SetEOF();
  } else {
    AttachAt(*page, slot);
  }
}

void TIndexPtr::PriorFromLeaf(TPage* page, int32_t slot) {
  --slot;
  while (slot == -1 && page->Parent() != nullptr) {
    slot = page->ParentSlot() - 1;
    page = page->Parent();
  }
  if (slot == -1) {
    SetBOF();
  } else {
    AttachAt(*page, slot);
  }
}

void TIndexPtr::GoToFirstIn(TPage* page) {
  while (!page->IsLeaf()) page = &page->Child(0);
  AttachAt(*page, 0);
}

void TIndexPtr::GoToLastIn(TPage* page) {
  while (!page->IsLeaf()) page = &page->Child(page->Count());
  AttachAt(*page, page->Count() - 1);
}

void TIndexPtr::Seek(const unsigned char* key, int32_t fieldCount, bool forward) {
  Detach();
  int32_t slot;
  TPage* leaf = Descend(key, fieldCount, forward, slot);
  Detached = false;
  if (forward) {
    // slot: the first key >= key in the leaf; past its end, the next entry
    // is the dividing key of an ancestor, or there is none.
    if (slot == leaf->Count()) {
      NextFromLeaf(leaf, slot - 1);
    } else {
      AttachAt(*leaf, slot);
    }
  } else {
    // slot: the first key > key; the one before it is the last <= key.
    if (slot == 0) {
      PriorFromLeaf(leaf, 0);
    } else {
      AttachAt(*leaf, slot - 1);
    }
  }
}

void TIndexPtr::Next() {
  FailIf(Detached);
  if (Eof) return;
  if (Bof) {
    TPage* root = &Tree->Root();
    Bof = false;
    if (root->IsLeaf()) {
      NextFromLeaf(root, -1);
    } else {
      GoToFirstIn(&root->Child(0));
    }
    return;
  }
  TPage* page = CurrentPage;
  int32_t slot = CurrentSlot;
  if (page->IsLeaf()) {
    // The common step stays in the leaf and in its cursor list.
    if (slot + 1 < page->Count()) {
      CurrentSlot = slot + 1;
      return;
    }
    Leave();
    NextFromLeaf(page, slot);
    return;
  }
  Leave();
  GoToFirstIn(&page->Child(slot + 1));
}

void TIndexPtr::Prior() {
  FailIf(Detached);
  if (Bof) return;
  if (Eof) {
    TPage* root = &Tree->Root();
    Eof = false;
    if (root->IsLeaf()) {
      PriorFromLeaf(root, root->Count());
    } else {
      GoToLastIn(&root->Child(root->Count()));
    }
    return;
  }
  TPage* page = CurrentPage;
  int32_t slot = CurrentSlot;
  if (page->IsLeaf()) {
    if (slot > 0) {
      CurrentSlot = slot - 1;
      return;
    }
    Leave();
    PriorFromLeaf(page, slot);
    return;
  }
  Leave();
  GoToLastIn(&page->Child(slot));
}

// Keys often come in ascending order (the addresses of a write set, the IDs
// of new records): a key above the last one is appended along the right
// edge at the cost of one comparison; any other is searched for.
void TIndexPtr::Insert(const unsigned char* key) {
  Detach();
  int32_t levels;
  TPage& last = RightmostLeaf(levels);
  if (IsAboveLastKey(last, key)) return InsertInLeaf(last, last.Count(), levels, key);
  int32_t a;
  TPage* leaf = Descend(key, -1, true, a, &levels);
  InsertInLeaf(*leaf, a, levels, key);
}

void TIndexPtr::Append(const unsigned char* key) {
  Detach();
  int32_t levels;
  TPage& leaf = RightmostLeaf(levels);
  FailIf(leaf.Count() > 0 && !IsAboveLastKey(leaf, key));
  InsertInLeaf(leaf, leaf.Count(), levels, key);
}

// The last key of the tree is the last key of its rightmost leaf (rule 3),
// and a search for a larger key takes the last child at every level: so
// the right edge is the path a search would find for it.
TPage& TIndexPtr::RightmostLeaf(int32_t& levels) const {
  TPage* leaf = &Tree->Root();
  levels = 1;
  for (; !leaf->IsLeaf(); ++levels) leaf = &leaf->Child(leaf->Count());
  return *leaf;
}

bool TIndexPtr::IsAboveLastKey(TPage& leaf, const unsigned char* key) const {
  if (leaf.Count() == 0) return false;
  leaf.Pin();
  const int order = Tree->Compare(key, leaf.Key(leaf.Count() - 1), -1);
  leaf.Unpin();
  return order > 0;
}

void TIndexPtr::InsertInLeaf(TPage& page, int32_t a, int32_t levels, const unsigned char* key) {
  TPage* leaf = &page;
  // A split of every level adds a page per level and a new root: reserved
  // now, so that a full file raises before the tree changes.
  Tree->IndexFile().ReservePages(levels + 1);
  // The cursor goes to the successor of the new key (or after the last
  // entry); entries carry their cursors through the insertion and its
  // splits (rule 9), so one step back is the new key.
  if (a == leaf->Count()) {
    NextFromLeaf(leaf, a - 1);
  } else {
    AttachAt(*leaf, a);
  }
  leaf->InsertAt(a, key);
  Prior();
}

void TIndexPtr::Delete() {
  FailIf(CurrentPage == nullptr);
  TPage& page = *CurrentPage;
  int32_t a = CurrentSlot;
  Detach();
  // Every other cursor on the entry loses it (rule 9).
  TIndexPtr* cursor = page.Cursors;
  while (cursor != nullptr) {
    TIndexPtr* next = cursor->NextCursor;
    if (cursor->CurrentSlot == a) cursor->Detach();
    cursor = next;
  }
  if (page.IsLeaf()) {
    page.Pin();
    page.RemoveAt(a);
    return;
  }
  // A key of an internal page is replaced by its predecessor, the last key
  // of the rightmost leaf under child a, which is then removed from there.
  TPage* leaf = &page.Child(a);
  while (!leaf->IsLeaf()) leaf = &leaf->Child(leaf->Count());
  int32_t last = leaf->Count() - 1;
  page.Pin();
  leaf->Pin();
  CopyBytes(leaf->Key(last), page.Key(a), static_cast<size_t>(Tree->KeySize()));
  leaf->MoveCursors(last, last, page, a);
  page.Store();
  leaf->RemoveAt(last);
}

void TIndexPtr::Replace(const unsigned char* key) {
  FailIf(CurrentPage == nullptr);
  TPage& page = *CurrentPage;
  int32_t slot = CurrentSlot;
  page.Pin();
  FailIf(Tree->Compare(key, page.Key(slot), -1) != 0);
  CopyBytes(key, page.Key(slot), static_cast<size_t>(Tree->KeySize()));
  page.Store();
  // After the Store, so that EntryChanged may lock the page to read the
  // entry. A cursor may detach itself: the next one is taken first.
  TIndexPtr* cursor = page.Cursors;
  while (cursor != nullptr) {
    TIndexPtr* next = cursor->NextCursor;
    if (cursor->CurrentSlot == slot) cursor->EntryChanged();
    cursor = next;
  }
}

void TIndexPtr::Lock() {
  FailIf(CurrentPage == nullptr);
  CurrentPage->Pin();
}

void TIndexPtr::Unlock() {
  FailIf(CurrentPage == nullptr);
  CurrentPage->Unpin();
}

const unsigned char* TIndexPtr::Entry() const {
  FailIf(CurrentPage == nullptr);
  return CurrentPage->Key(CurrentSlot);
}

int TIndexPtr::CompareEntry(const unsigned char* key, int32_t fieldCount) const {
  FailIf(CurrentPage == nullptr);
  CurrentPage->Pin();
  int c = Tree->Compare(key, CurrentPage->Key(CurrentSlot), fieldCount);
  CurrentPage->Unpin();
  return c;
}

}  // namespace kor
