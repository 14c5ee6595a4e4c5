#include "engine/storage/index_file.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

namespace kor {

void TCachedPage::MarkDirty() {
  FailIf(!Pinned);
  Dirty = true;
}

void TCachedPage::SetPageNumber(int32_t number) {
  FailIf(Data != nullptr || number < 0);
  Number = number;
}

namespace {

Ref<TFile> CreateIndexFile(const std::string& fileName) {
  try {
    return MakeRef<TFile>(fileName, TCreationDisposition::CreateAlways,
                          TFileAttributes::DeleteOnClose);
  } catch (const EFileOpenError&) {
    // Re-raised as the index file's own error; the system's error code is
    // still the thread's last error and goes into the new exception.
    throw EIndexFileError();
  }
}

}  // namespace

TIndexFile::TIndexFile(const std::string& fileName, int32_t pageShift, int32_t minBuffers)
    : Shift(pageShift), Size(0), FreePages(MakeRef<TIntegerStack>()), MaxPages(0) {
  FailIf(pageShift < kMinPageShift || pageShift > kMaxPageShift);
  Size = int32_t{1} << pageShift;
  MaxPages = static_cast<int32_t>(TFile::kMaxFileSize >> pageShift);
  File = CreateIndexFile(fileName);
  if (minBuffers <= 0) return;
  // More buffers than the file can have pages would never be used: the
  // configured count is capped there, which also bounds the block below by
  // the file's size limit.
  minBuffers = std::min(minBuffers, MaxPages);
  // The pool's first buffers are one zeroed block: calloc takes a large
  // one from fresh pages, so the pool costs no clearing at start and only
  // the memory of the pages it has used. A block the system refuses is a
  // configuration the engine cannot start with, not the end of the process.
  Slab = static_cast<unsigned char*>(
      std::calloc(static_cast<size_t>(minBuffers), static_cast<size_t>(Size)));
  if (Slab == nullptr) throw EIndexFileError();
  SlabBuffers = minBuffers;
  FreeBuffers.reserve(static_cast<size_t>(minBuffers));
  for (int32_t i = 0; i < minBuffers; ++i) {
    FreeBuffers.push_back(Slab + static_cast<size_t>(i) * static_cast<size_t>(Size));
    ++Buffers;
  }
}

TIndexFile::~TIndexFile() {
  FailIf(Head != nullptr || Tail != nullptr);
  FailIf(FreePages->Count() != PageCount());
  int32_t freed = 0;
  for (unsigned char* buffer : FreeBuffers) {
    if (!InSlab(buffer)) delete[] buffer;
    ++freed;
  }
  FailIf(freed != Buffers);
  std::free(Slab);
  FreePages.ReleaseLast();
}

bool TIndexFile::InSlab(const unsigned char* buffer) const {
  const std::less<const unsigned char*> before;
  return Slab != nullptr && !before(buffer, Slab) &&
         before(buffer, Slab + static_cast<size_t>(SlabBuffers) * static_cast<size_t>(Size));
}

void TIndexFile::LinkAtTail(TCachedPage& page) {
  page.LruPrevious = Tail;
  page.LruNext = nullptr;
  if (Tail != nullptr) {
    Tail->LruNext = &page;
  } else {
    Head = &page;
  }
  Tail = &page;
}

void TIndexFile::Unlink(TCachedPage& page) {
  if (page.LruPrevious != nullptr) {
    page.LruPrevious->LruNext = page.LruNext;
  } else {
    FailIf(Head != &page);
    Head = page.LruNext;
  }
  if (page.LruNext != nullptr) {
    page.LruNext->LruPrevious = page.LruPrevious;
  } else {
    FailIf(Tail != &page);
    Tail = page.LruPrevious;
  }
  page.LruPrevious = nullptr;
  page.LruNext = nullptr;
}

unsigned char* TIndexFile::AcquireBuffer() {
  if (!FreeBuffers.empty()) {
    unsigned char* buffer = FreeBuffers.back();
    FreeBuffers.pop_back();
    return buffer;
  }
  if (Head == nullptr) {
    ++Buffers;
    return new unsigned char[static_cast<size_t>(Size)]();
  }
  TCachedPage& victim = *Head;
  if (victim.Dirty) {
    File->Seek(Offset(victim));
    File->Write(victim.Data, Size);
    ++Writes;
    victim.Dirty = false;
  }
  unsigned char* buffer = victim.Data;
  victim.Data = nullptr;
  Unlink(victim);
  victim.DropUse();
  return buffer;
}

void TIndexFile::SetPageLimit(int32_t maxPages) {
  FailIf(maxPages < 0 || maxPages > (TFile::kMaxFileSize >> Shift));
  MaxPages = maxPages;
}

void TIndexFile::Grow(int32_t pages) {
  int64_t first = File->Size() >> Shift;
  // The first limit is exactly the pages within TFile::kMaxFileSize.
  if (first + pages > MaxPages) throw EFileFullError();
  File->SetSize((first + pages) << Shift);
  for (int64_t p = first + pages - 1; p >= first; --p) FreePages->Push(static_cast<int32_t>(p));
}

void TIndexFile::ReservePages(int32_t count) {
  while (FreePages->Count() < count) Grow(kGrowPages);
}

void TIndexFile::NewPage(TCachedPage& page) {
  FailIf(page.Data != nullptr || page.Pinned);
  if (FreePages->IsEmpty()) Grow(kGrowPages);
  page.Number = FreePages->Pop();
  page.Data = AcquireBuffer();
  page.AddUse();
  page.Dirty = false;
  page.Pinned = true;
}

void TIndexFile::FreePage(TCachedPage& page) {
  FailIf(page.Pinned || page.Number < 0);
  FreePages->Push(page.Number);
  if (page.Data != nullptr) {
    Unlink(page);
    FreeBuffers.push_back(page.Data);
    page.Data = nullptr;
    page.Dirty = false;
    page.DropUse();
  }
}

void TIndexFile::FreePageNumber(int32_t number) {
  FailIf(number < 0 || number >= PageCount());
  FreePages->Push(number);
}

void TIndexFile::PinPage(TCachedPage& page) {
  FailIf(page.Pinned);
  if (page.Data != nullptr) {
    Unlink(page);
  } else {
    FailIf(page.Dirty || page.LruPrevious != nullptr || page.LruNext != nullptr);
    FailIf(page.Number < 0);
    page.AddUse();
    page.Data = AcquireBuffer();
    File->Seek(Offset(page));
    File->Read(page.Data, Size);
    ++Reads;
  }
  page.Pinned = true;
}

void TIndexFile::UnpinPage(TCachedPage& page) {
  FailIf(!page.Pinned || page.Data == nullptr);
  LinkAtTail(page);
  page.Pinned = false;
}

int32_t TIndexFile::LruCount() const {
  int32_t count = 0;
  for (const TCachedPage* page = Head; page != nullptr; page = page->LruNext) ++count;
  return count;
}

}  // namespace kor
