#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/ref.h"

#include "engine/storage/index_file.h"
#include "engine/storage/re_object.h"

namespace kor::test {

// Takes pages of an index file away from its indexes, so that a test can
// leave an exact number of them free (with TIndexFile::SetPageLimit, which
// keeps the file from growing). The pages are clean and unpinned, so the
// pool evicts them without writing; the hog gives them back when it goes.
class TPageHog {
 public:
  explicit TPageHog(TIndexFile& file) : File(file) { Manager->Activate(); }
  ~TPageHog() {
    Release();
    Manager->Deactivate();
  }
  TPageHog(const TPageHog&) = delete;
  TPageHog& operator=(const TPageHog&) = delete;

  // Takes free pages (growing the file while the limit allows) until
  // exactly `free` are left. REQUIRES: at least `free` pages are free.
  void LeaveFree(int32_t free) {
    while (File.FreePageCount() > free) {
      Pages.push_back(std::make_unique<THeldPage>(*Manager));
      File.NewPage(*Pages.back());
      File.UnpinPage(*Pages.back());
    }
  }
  // Gives every page back.
  void Release() {
    for (auto& page : Pages) File.FreePage(*page);
    Pages.clear();
  }
  int32_t HeldPages() const { return static_cast<int32_t>(Pages.size()); }

 private:
  class THeldPage final : public TCachedPage {
   public:
    explicit THeldPage(TREManager& manager) : TCachedPage(manager) {}
  };

  TIndexFile& File;
  Ref<TREManager> Manager = MakeRef<TREManager>();
  std::vector<std::unique_ptr<THeldPage>> Pages;
};

}  // namespace kor::test
