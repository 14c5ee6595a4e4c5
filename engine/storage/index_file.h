#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/containers.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/file.h"
#include "engine/storage/re_object.h"

namespace kor {

// The part of a page object that the index file's buffer pool manages: the
// page number, the buffer while the page is cached, and the links of the
// pool's LRU list. TPage (page.h) builds the B-tree page on it.
//
// States of a page object, and what moves it:
//   uncached           no buffer, in no list, not dirty
//     -- PinPage (reads the page) or NewPage -->            pinned
//   pinned             buffer, in no list; may be changed and marked dirty
//     -- UnpinPage -->                                      cached
//   cached             buffer, in the LRU list at the position of its unpin
//     -- PinPage -->                                        pinned
//     -- eviction (writes it first when dirty) -->          uncached
//   any unpinned state -- FreePage -->                      uncached, page free
// A page holds one use on itself for as long as it has a buffer.
class TCachedPage : public TREObject {
 public:
  explicit TCachedPage(TREManager& manager) : TREObject(manager) {}

  int32_t PageNumber() const { return Number; }
  // The page's bytes; null while the page is not cached.
  unsigned char* Buffer() const { return Data; }
  bool IsCached() const { return Data != nullptr; }
  bool IsPinned() const { return Pinned; }
  bool IsDirty() const { return Dirty; }
  // REQUIRES: IsPinned(). The buffer now differs from the file.
  void MarkDirty();

 protected:
  // Which page of the file this object stands for, before its first pin.
  // REQUIRES: not cached.
  void SetPageNumber(int32_t number);

 private:
  friend class TIndexFile;

  TCachedPage* LruPrevious = nullptr;
  TCachedPage* LruNext = nullptr;
  int32_t Number = -1;
  unsigned char* Data = nullptr;
  bool Dirty = false;
  bool Pinned = false;
};

// The temporary paged file that holds every B-tree of an engine, with the
// page buffer pool the trees share.
//
// Page p lies at byte offset p << PageShift(); pages are numbered from 0.
// Nothing in the file describes it: it is created empty at every start and
// the name is removed as soon as it is open, so nothing of it survives the
// process (its contents mean something only to the page objects in memory).
//
// Pool rules:
//   1. A buffer is either on the free-buffer stack or attached to exactly
//      one page object; BufferCount() counts both.
//   2. The LRU list holds exactly the cached, unpinned pages, least recently
//      unpinned first; eviction takes its head.
//   3. A buffer is acquired from the free stack, else by evicting the LRU
//      head, else (every cached page pinned) newly allocated: the pool grows
//      only when more pages are pinned at once than there are buffers.
//   4. The file is read only when a page that is not cached is pinned, and
//      written only when a dirty page is evicted. A freed page is never
//      written back.
//   5. The file grows kGrowPages pages at a time and never shrinks; free
//      page numbers are reused last freed, first used, and a fresh growth
//      hands its pages out in ascending order.
//   6. The file never holds more than PageLimit() pages; a growth that
//      would pass the limit raises EFileFullError and changes nothing.
class TIndexFile final : public TRCObject {
 public:
  static constexpr int32_t kMinPageShift = 6;
  static constexpr int32_t kMaxPageShift = 20;
  static constexpr int32_t kGrowPages = 256;

  // Creates (or truncates) `fileName`, removed again once open, and fills
  // the pool with `minBuffers` buffers (none when minBuffers <= 0; at most
  // PageLimit()). REQUIRES: kMinPageShift <= pageShift <= kMaxPageShift (the
  // configuration reader checks the range). Raises EIndexFileError when the
  // file cannot be created or the buffers cannot be allocated.
  TIndexFile(const std::string& fileName, int32_t pageShift, int32_t minBuffers);
  // REQUIRES: every page is free and no page is cached (every index over
  // the file is gone).
  ~TIndexFile() override;

  int32_t PageShift() const { return Shift; }
  int32_t PageSize() const { return Size; }

  // Gives `page` a free page number and a buffer; the page comes back
  // pinned, clean, with its buffer's old contents. REQUIRES: not cached.
  // Raises EFileFullError when the file would outgrow TFile::kMaxFileSize
  // or past PageLimit() (ReservePages first to fail before anything
  // changes).
  void NewPage(TCachedPage& page);
  // Returns the page number for reuse; drops the buffer unwritten.
  // REQUIRES: not pinned.
  void FreePage(TCachedPage& page);
  // The same for a page that has no TCachedPage (and so no buffer): only
  // its number is returned. REQUIRES: a page of this file in use.
  void FreePageNumber(int32_t number);
  // Makes the buffer of `page` available for use and change, reading the
  // page on a miss. REQUIRES: not pinned (pins do not nest).
  void PinPage(TCachedPage& page);
  // Puts the page at the LRU tail. REQUIRES: pinned.
  void UnpinPage(TCachedPage& page);
  // Grows the file until at least `count` pages are free, so that the next
  // `count` NewPage calls cannot fail. Raises EFileFullError, with nothing
  // changed, when that would take more than PageLimit() pages.
  void ReservePages(int32_t count);

  // The most pages the file may hold: at first as many as TFile's size
  // limit allows. SetPageLimit lowers (or restores) it, so that tests can
  // fill the file with a few pages; pages already in the file stay.
  // REQUIRES: 0 <= maxPages <= the first limit.
  int32_t PageLimit() const { return MaxPages; }
  void SetPageLimit(int32_t maxPages);

  // Pages the file holds (free or in use).
  int32_t PageCount() const { return static_cast<int32_t>(File->Size() >> Shift); }
  int32_t FreePageCount() const { return FreePages->Count(); }
  int32_t BufferCount() const { return Buffers; }
  int32_t FreeBufferCount() const { return static_cast<int32_t>(FreeBuffers.size()); }
  // Cached pages waiting in the LRU list (walks it).
  int32_t LruCount() const;
  const TCachedPage* LruHead() const { return Head; }
  const TCachedPage* LruTail() const { return Tail; }
  // Page transfers since creation.
  int64_t PageReads() const { return Reads; }
  int64_t PageWrites() const { return Writes; }

 private:
  unsigned char* AcquireBuffer();
  void Grow(int32_t pages);
  void LinkAtTail(TCachedPage& page);
  void Unlink(TCachedPage& page);
  // Whether `buffer` is one of the slab's.
  bool InSlab(const unsigned char* buffer) const;
  int64_t Offset(const TCachedPage& page) const { return int64_t{page.Number} << Shift; }

  TCachedPage* Head = nullptr;
  TCachedPage* Tail = nullptr;
  Ref<TFile> File;
  int32_t Shift;
  int32_t Size;
  Ref<TIntegerStack> FreePages;
  // The buffers are addresses, which do not fit the 32-bit integer stack.
  std::vector<unsigned char*> FreeBuffers;
  int32_t Buffers = 0;
  // The first SlabBuffers buffers, made at once (the rest one by one with
  // new[] as the pool grows); freed as one block.
  unsigned char* Slab = nullptr;
  int32_t SlabBuffers = 0;
  int32_t MaxPages;
  int64_t Reads = 0;
  int64_t Writes = 0;
};

}  // namespace kor
