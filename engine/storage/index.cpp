#include "engine/storage/index.h"

#include <cstring>
#include <vector>

#include "engine/platform/last_error.h"

#include "engine/base/fatal.h"

#include "engine/storage/index_ptr.h"
#include "engine/storage/page.h"

// The rules of the B-tree. t is the degree, k the key size; the page layout
// is in page.h. CheckInvariants checks rules 1 to 10 and names the rule
// that fails; tests refer to the numbers.
//
// Shape
//   1. Key counts: every page but the root holds t-1 .. 2t-1 keys; the root
//      holds 1 .. 2t-1, or 0 when it is a leaf (the empty tree).
//   2. Child links: an internal page with n keys has n+1 children; its
//      pointer i on the page and its children entry i name the same page,
//      and no page is in the tree twice. All leaves lie at the same depth.
//   3. Key order: keys ascend strictly within a page, and key i of a page
//      sorts after every key of child i and before every key of child i+1;
//      so the in-order walk (child 0, key 0, child 1, ... key n-1, child n)
//      ascends strictly. Callers keep keys unique on all parts.
//   4. Kind: pointer 0 of a leaf is -1; pointer 0 of an internal page is a
//      page number (-2 only between the making of a new internal page and
//      the linking of its first child, inside one operation).
//
// Page objects
//   5. A loaded child object names its parent and its slot there, and that
//      children entry names the object. Every page object of the index is
//      in its tree, reachable through loaded children from the root.
//   6. Use counts: who holds a use on what. A page object's use count is
//        1 while it has a buffer (its own use, taken by the index file)
//      + 1 for the root (the index's use)
//      + 1 for each loaded child (the child's use on its parent)
//      + 1 for each cursor on one of its entries.
//      A page object is idle (use count 0) only when it is uncached, has no
//      loaded child and no cursor, so destroying it loses nothing: its
//      page is on disk and its parent still knows the page number. An
//      object with loaded children is never idle, so children go first.
//   7. Between operations no page is pinned and an uncached page is clean
//      (dirty pages are written when evicted; freed pages never).
//
// Cursors
//   8. A cursor is detached, before the first entry, after the last entry,
//      or on an entry (page, slot) with 0 <= slot < count of the page; it is
//      in that page's cursor list exactly in the last case.
//   9. Entries carry their cursors: every primitive that moves a key moves
//      the cursors on it (shifts adjust slots, moves to another page
//      re-attach them); a cursor on a deleted entry is detached.
//
// Pages of the file
//   10. The free pages and the pages of all trees are together exactly the
//       pages of the index file.
//
// Changes (kept by construction, not checked)
//   11. Every change to a page happens between a pin and a Store.
//   12. Insert splits a full leaf before it takes a key, splitting a full
//       parent first (so the split may reach the root, which then gets a new
//       parent); Delete replaces a key of an internal page by its
//       predecessor from a leaf, and a page left with fewer than t-1 keys is
//       merged with a sibling when both fit one page, else keys are
//       redistributed through the parent. Only an emptied internal root
//       makes the tree lower.

namespace kor {

int32_t TIndex::DegreeFor(int32_t pageSize, int32_t keySize) {
  FailIf(pageSize <= 0 || keySize <= 0);
  int64_t t = (int64_t{pageSize} + keySize - 4) / (2 * (int64_t{keySize} + 4));
  return static_cast<int32_t>(t);
}

void CheckKeyFitsPage(int32_t keySize, int32_t pageShift) {
  FailIf(pageShift < TIndexFile::kMinPageShift || pageShift > TIndexFile::kMaxPageShift);
  int32_t pageSize = int32_t{1} << pageShift;
  if (TIndex::DegreeFor(pageSize, keySize) >= 2) return;
  // Not a system failure: no error code of the system belongs to it.
  SetLastErrorCode(0);
  EKeyTooLargeError error;
  error.SetInputPosition("key of " + std::to_string(keySize) +
                         " bytes does not fit three to a page of " + std::to_string(pageSize) +
                         " bytes");
  throw error;
}

TIndex::TIndex(Ref<TIndexFile> indexFile, Ref<TRecordType> keyRecordType,
               Ref<TRecordCompFunc> comparison)
    : File(std::move(indexFile)),
      KeyBytes(0),
      T(0),
      KeyType(std::move(keyRecordType)),
      CompFunc(std::move(comparison)) {
  FailIf(!File || !KeyType || !CompFunc);
  FailIf(!KeyType->Frozen() || &CompFunc->RecordType() != KeyType.Get());
  KeyBytes = KeyType->RecordSize();
  T = DegreeFor(File->PageSize(), KeyBytes);
  // Callers check input with CheckKeyFitsPage first.
  FailIf(T < 2);
  // The root's page is reserved first, so that a full file raises before
  // the index is half made.
  File->ReservePages(1);
  Activate();
  RootPage = new TPage(*this, true);
  RootPage->AddUse();
}

TIndex::~TIndex() {
  // Every leaf is as deep as the leftmost one (rule 2), so the pages whose
  // children are leaves are known without reading those leaves.
  int32_t height = 0;
  for (TPage* page = RootPage; !page->IsLeaf(); page = &page->Child(0)) ++height;
  FreeTree(*RootPage, height);
  FailIf(RootPage != nullptr);
  CompFunc.Reset();
  KeyType.Reset();
  File.Reset();
  Deactivate();
}

// Depth first, children in order before their page; `levels` is the
// number of levels below `page`. Leaves are freed by number, unread.
void TIndex::FreeTree(TPage& page, int32_t levels) {
  if (levels == 1) {
    page.FreeLeafChildren();
  } else if (levels > 1) {
    for (int32_t i = 0; i <= page.Count(); ++i) FreeTree(page.Child(i), levels - 1);
  }
  page.Free();
}

void TIndex::ReleaseIdlePages() {
  FailIf(ActiveCount() != 1);
  Deactivate();
  Activate();
}

namespace {

// The walk of CheckInvariants: one pass over the tree, in order, that
// stops at the first broken rule.
class TTreeCheck {
 public:
  TTreeCheck(TIndex& index, int32_t pageCount)
      : Index(index), Seen(static_cast<size_t>(pageCount), false) {}

  std::string Walk(TPage& page, int32_t depth) {
    std::string failure = CheckPage(page, depth);
    if (!failure.empty()) return failure;
    for (int32_t i = 0; i <= page.Count(); ++i) {
      if (!page.IsLeaf()) {
        TPage& child = page.Child(i);
        if (child.Parent() != &page || child.ParentSlot() != i ||
            child.PageNumber() != page.ChildLink(i).Number) {
          return Fail(5, page, "child " + std::to_string(i) + " is not linked back");
        }
        failure = Walk(child, depth + 1);
        if (!failure.empty()) return failure;
      }
      if (i < page.Count()) {
        failure = VisitKey(page, i);
        if (!failure.empty()) return failure;
      }
    }
    return "";
  }

  TIndexShape Shape;

 private:
  std::string Fail(int rule, const TPage& page, const std::string& what) const {
    return "rule " + std::to_string(rule) + ": page " + std::to_string(page.PageNumber()) + ": " +
           what;
  }

  std::string CheckPage(TPage& page, int32_t depth) {
    bool isRoot = &page == &Index.Root();
    int32_t n = page.Count();
    ++Shape.Pages;
    Shape.Keys += n;
    if (depth > Shape.Height) Shape.Height = depth;
    if (page.IsPinned()) return Fail(7, page, "pinned between operations");
    if (!page.IsCached() && page.IsDirty()) return Fail(7, page, "dirty but not cached");

    int32_t number = page.PageNumber();
    if (number < 0 || number >= static_cast<int32_t>(Seen.size()) || Seen[number]) {
      return Fail(2, page, "page number out of the file or in the tree twice");
    }
    Seen[number] = true;
    if (page.IsLeaf()) {
      if (LeafDepth == 0) LeafDepth = depth;
      if (depth != LeafDepth) return Fail(2, page, "leaf at another depth");
    }

    int32_t low = isRoot ? (page.IsLeaf() ? 0 : 1) : Index.MinKeys();
    if (n < low || n > Index.MaxKeys()) return Fail(1, page, std::to_string(n) + " keys");
    if (isRoot != (page.Parent() == nullptr)) return Fail(5, page, "root has a parent");

    int32_t cursors = 0;
    for (const TIndexPtr* c = page.FirstCursor(); c != nullptr; c = c->NextOnPage()) {
      if (c->Page() != &page || c->Slot() < 0 || c->Slot() >= n || c->IsDetached() || c->IsBOF() ||
          c->IsEOF()) {
        return Fail(8, page, "cursor in the list is not on an entry of the page");
      }
      ++cursors;
    }
    Shape.Cursors += cursors;

    int32_t loaded = 0;
    if (!page.IsLeaf()) {
      for (int32_t i = 0; i <= n; ++i) loaded += page.ChildLink(i).Object != nullptr ? 1 : 0;
    }
    int32_t uses = (page.IsCached() ? 1 : 0) + (isRoot ? 1 : 0) + loaded + cursors;
    if (page.UseCount() != uses) {
      return Fail(
          6, page,
          "use count " + std::to_string(page.UseCount()) + ", expected " + std::to_string(uses));
    }

    page.Pin();
    std::string failure;
    if (DecodeInt32(page.Buffer()) != n) failure = Fail(1, page, "count on the page differs");
    if (failure.empty() && page.IsLeaf() && page.Pointer(0) != TPage::kLeafMark) {
      failure = Fail(4, page, "leaf without the leaf mark");
    }
    if (failure.empty() && !page.IsLeaf()) {
      for (int32_t i = 0; i <= n; ++i) {
        if (page.Pointer(i) != page.ChildLink(i).Number || page.Pointer(i) < 0) {
          failure = Fail(i == 0 ? 4 : 2, page, "pointer " + std::to_string(i) + " differs");
          break;
        }
      }
    }
    page.Unpin();
    return failure;
  }

  std::string VisitKey(TPage& page, int32_t i) {
    page.Pin();
    const unsigned char* key = page.Key(i);
    bool ascending = Previous.empty() || Index.Compare(Previous.data(), key, -1) < 0;
    Previous.assign(key, key + Index.KeySize());
    page.Unpin();
    if (!ascending) return Fail(3, page, "key " + std::to_string(i) + " out of order");
    return "";
  }

  TIndex& Index;
  std::vector<bool> Seen;
  std::vector<unsigned char> Previous;
  int32_t LeafDepth = 0;
};

}  // namespace

std::string TIndex::CheckInvariants(TIndexShape* shape, int32_t pagesOfOtherIndexes) {
  TTreeCheck check(*this, File->PageCount());
  std::string failure = check.Walk(*RootPage, 1);
  if (failure.empty() && ObjectCount() != check.Shape.Pages) {
    failure = "rule 5: " + std::to_string(ObjectCount()) + " page objects for " +
              std::to_string(check.Shape.Pages) + " pages";
  }
  if (failure.empty() &&
      File->FreePageCount() + check.Shape.Pages + pagesOfOtherIndexes != File->PageCount()) {
    failure = "rule 10: " + std::to_string(File->FreePageCount()) + " free + " +
              std::to_string(check.Shape.Pages) + " + " + std::to_string(pagesOfOtherIndexes) +
              " pages in trees, file of " + std::to_string(File->PageCount());
  }
  if (shape != nullptr) *shape = check.Shape;
  return failure;
}

}  // namespace kor
