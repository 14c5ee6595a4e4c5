#include "engine/storage/index_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/platform/os_file.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/ref.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

// A bare page object: the pool's part of a B-tree page and nothing else.
class TTestPage final : public TCachedPage {
 public:
  explicit TTestPage(TREManager& manager) : TCachedPage(manager) {}
  void SetNumber(int32_t number) { SetPageNumber(number); }
};

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    Manager->Activate();
  }
  void TearDown() override {
    // Pages still cached or in use are freed so that the file's own
    // teardown checks hold.
    for (auto& page : Pages) {
      if (page->IsPinned()) File->UnpinPage(*page);
      if (page->PageNumber() >= 0 && !Freed(*page)) File->FreePage(*page);
    }
    Pages.clear();
    File.Reset();
    Manager->Deactivate();
  }
  Ref<TIndexFile> Open(int32_t pageShift, int32_t minBuffers) {
    return MakeRef<TIndexFile>(Dir.File("INDEX.TMP"), pageShift, minBuffers);
  }
  TTestPage& NewPage() {
    Pages.push_back(std::make_unique<TTestPage>(*Manager));
    File->NewPage(*Pages.back());
    return *Pages.back();
  }
  bool Freed(const TTestPage& page) const {
    return std::find(FreedPages.begin(), FreedPages.end(), &page) != FreedPages.end();
  }
  void Free(TTestPage& page) {
    File->FreePage(page);
    FreedPages.push_back(&page);
  }
  std::string FatalLogOf(const std::function<void()>& body) {
    std::string log = Dir.File("fatal" + std::to_string(++FatalRuns) + ".OUT");
    EXPECT_EXIT(
        {
          SetLogFile(log);
          body();
        },
        ::testing::ExitedWithCode(kFatalExitCode), "Err");
    return test::ReadWholeFile(log);
  }

  test::TTempDir Dir;
  Ref<TREManager> Manager = MakeRef<TREManager>();
  Ref<TIndexFile> File;
  std::vector<std::unique_ptr<TTestPage>> Pages;
  std::vector<const TTestPage*> FreedPages;
  int FatalRuns = 0;
};

// INDEXFILEMINBUFFER may be any integer: a count above the pages the file
// can ever have is capped there instead of asking the system for terabytes
// (which ended the process), and the pool takes only what it uses.
TEST_F(IndexFileTest, AHugeBufferCountIsCappedAtThePagesTheFileCanHold) {
  for (int32_t pageShift : {12, 20}) {
    File = Open(pageShift, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(File->BufferCount(), File->PageLimit()) << pageShift;
    EXPECT_EQ(File->FreeBufferCount(), File->PageLimit());
    TTestPage& page = NewPage();
    page.Buffer()[0] = 7;
    File->UnpinPage(page);
    File->FreePage(page);
    FreedPages.push_back(&page);
    File.Reset();
  }
}

TEST_F(IndexFileTest, CreatesAnEmptyFileWhoseNameIsGoneOnceOpen) {
  test::WriteWholeFile(Dir.File("INDEX.TMP"), "left over from an earlier run");
  File = Open(12, 3);
  EXPECT_FALSE(OsFileExists(Dir.File("INDEX.TMP")));
  EXPECT_EQ(File->PageSize(), 4096);
  EXPECT_EQ(File->PageCount(), 0);
  EXPECT_EQ(File->FreePageCount(), 0);
  EXPECT_EQ(File->BufferCount(), 3);
  EXPECT_EQ(File->FreeBufferCount(), 3);
}

TEST_F(IndexFileTest, PageShiftLimitsAndBufferCounts) {
  struct TCase {
    int32_t Shift;
    int32_t MinBuffers;
    int32_t Buffers;
  };
  for (TCase c : {TCase{6, 1, 1}, TCase{20, 2, 2}, TCase{9, 0, 0}, TCase{9, -5, 0}}) {
    SCOPED_TRACE(c.Shift);
    auto file = Open(c.Shift, c.MinBuffers);
    EXPECT_EQ(file->PageSize(), 1 << c.Shift);
    EXPECT_EQ(file->BufferCount(), c.Buffers);
  }
  for (int32_t shift : {5, 21, 0, -1}) {
    SCOPED_TRACE(shift);
    std::string log = FatalLogOf([&] { Open(shift, 1); });
    EXPECT_NE(log.find("index_file.cpp"), std::string::npos) << log;
  }
}

TEST_F(IndexFileTest, UncreatableFileRaisesIndexFileError) {
  try {
    MakeRef<TIndexFile>(Dir.File("missing/INDEX.TMP"), 12, 1);
    FAIL() << "created a file in a missing directory";
  } catch (const EIndexFileError& e) {
    EXPECT_STREQ(e.what(), "EIndexFileError  LastError: 2");
  }
}

TEST_F(IndexFileTest, FileGrowsBy256PagesHandedOutInAscendingOrder) {
  File = Open(6, 4);
  for (int32_t expected = 0; expected < 256; ++expected) {
    TTestPage& page = NewPage();
    EXPECT_EQ(page.PageNumber(), expected);
    EXPECT_TRUE(page.IsPinned());
    EXPECT_FALSE(page.IsDirty());
    EXPECT_EQ(page.UseCount(), 1);  // its own, for its buffer
    File->UnpinPage(page);
  }
  EXPECT_EQ(File->PageCount(), 256);
  EXPECT_EQ(File->FreePageCount(), 0);
  EXPECT_EQ(NewPage().PageNumber(), 256);
  EXPECT_EQ(File->PageCount(), 512);
  EXPECT_EQ(File->FreePageCount(), 255);
}

TEST_F(IndexFileTest, FreedPagesAreReusedLastFreedFirst) {
  File = Open(6, 4);
  TTestPage& a = NewPage();
  TTestPage& b = NewPage();
  TTestPage& c = NewPage();
  for (TTestPage* page : {&a, &b, &c}) File->UnpinPage(*page);
  Free(b);
  Free(a);
  EXPECT_EQ(a.UseCount(), 0);
  EXPECT_FALSE(a.IsCached());
  EXPECT_EQ(File->FreeBufferCount(), 3);
  EXPECT_EQ(NewPage().PageNumber(), 0);
  EXPECT_EQ(NewPage().PageNumber(), 1);
  EXPECT_EQ(NewPage().PageNumber(), 3);
}

TEST_F(IndexFileTest, PoolGrowsOnlyWhenEveryCachedPageIsPinned) {
  File = Open(6, 2);
  NewPage();
  NewPage();
  EXPECT_EQ(File->BufferCount(), 2);
  NewPage();  // two pinned, none to evict
  EXPECT_EQ(File->BufferCount(), 3);
  for (auto& page : Pages) File->UnpinPage(*page);
  EXPECT_EQ(File->LruCount(), 3);
  NewPage();  // evicts instead
  EXPECT_EQ(File->BufferCount(), 3);
  EXPECT_FALSE(Pages[0]->IsCached());
  EXPECT_EQ(Pages[0]->UseCount(), 0);
  EXPECT_EQ(File->PageWrites(), 0);  // it was clean
}

TEST_F(IndexFileTest, EvictionTakesTheLeastRecentlyUnpinnedPage) {
  File = Open(6, 3);
  TTestPage& a = NewPage();
  TTestPage& b = NewPage();
  TTestPage& c = NewPage();
  File->UnpinPage(b);
  File->UnpinPage(a);
  File->UnpinPage(c);
  EXPECT_EQ(File->LruHead(), &b);
  EXPECT_EQ(File->LruTail(), &c);
  File->PinPage(b);  // a hit: out of the list, no read
  File->UnpinPage(b);
  EXPECT_EQ(File->LruHead(), &a);
  EXPECT_EQ(File->PageReads(), 0);
  NewPage();
  EXPECT_FALSE(a.IsCached());
  EXPECT_TRUE(b.IsCached());
  EXPECT_TRUE(c.IsCached());
}

TEST_F(IndexFileTest, ReadsOnlyOnMissesAndWritesOnlyOnDirtyEvictions) {
  File = Open(6, 1);
  TTestPage& a = NewPage();
  memset(a.Buffer(), 'a', 64);
  a.MarkDirty();
  File->UnpinPage(a);
  TTestPage& b = NewPage();  // evicts a, which is dirty
  EXPECT_EQ(File->PageWrites(), 1);
  EXPECT_FALSE(a.IsDirty());
  memset(b.Buffer(), 'b', 64);
  File->UnpinPage(b);  // b is clean: its bytes never reach the file
  File->PinPage(a);    // a miss: evicts clean b, reads a
  EXPECT_EQ(File->PageReads(), 1);
  EXPECT_EQ(File->PageWrites(), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(a.Buffer()), 64), std::string(64, 'a'));
  EXPECT_EQ(a.UseCount(), 1);
  EXPECT_EQ(b.UseCount(), 0);
  File->UnpinPage(a);
  for (int i = 0; i < 3; ++i) {  // hits cost nothing
    File->PinPage(a);
    File->UnpinPage(a);
  }
  EXPECT_EQ(File->PageReads(), 1);
  File->PinPage(b);
  EXPECT_EQ(File->PageReads(), 2);
  EXPECT_EQ(File->PageWrites(), 1);
  EXPECT_EQ(File->BufferCount(), 1);
}

TEST_F(IndexFileTest, FreeingACachedDirtyPageWritesNothing) {
  File = Open(6, 1);
  TTestPage& a = NewPage();
  a.MarkDirty();
  File->UnpinPage(a);
  Free(a);
  EXPECT_EQ(File->PageWrites(), 0);
  EXPECT_EQ(File->FreeBufferCount(), 1);
  EXPECT_EQ(File->LruCount(), 0);
}

TEST_F(IndexFileTest, ReservePagesGrowsOnlyWhenShort) {
  File = Open(6, 1);
  File->ReservePages(3);
  EXPECT_EQ(File->PageCount(), 256);
  File->ReservePages(256);
  EXPECT_EQ(File->PageCount(), 256);
  File->ReservePages(300);
  EXPECT_EQ(File->PageCount(), 512);
}

// The limit starts as what TFile's size allows (1 MiB pages: 2047 of them,
// so seven growths fit and the eighth does not) and can be lowered.
TEST_F(IndexFileTest, GrowthPastThePageLimitFailsWithNothingChanged) {
  File = Open(20, 1);
  EXPECT_EQ(File->PageLimit(), 2047);
  File->ReservePages(7 * 256);
  EXPECT_EQ(File->PageCount(), 7 * 256);
  EXPECT_THROW(File->ReservePages(7 * 256 + 1), EFileFullError);
  EXPECT_EQ(File->PageCount(), 7 * 256);
  EXPECT_EQ(File->FreePageCount(), 7 * 256);
  File.Reset();

  File = Open(6, 1);
  File->SetPageLimit(300);
  File->ReservePages(10);
  EXPECT_THROW(File->ReservePages(257), EFileFullError);
  EXPECT_EQ(File->PageCount(), 256);
  EXPECT_EQ(File->FreePageCount(), 256);
  for (int32_t i = 0; i < 256; ++i) File->UnpinPage(NewPage());
  TTestPage page(*Manager);
  EXPECT_THROW(File->NewPage(page), EFileFullError);
  EXPECT_EQ(File->PageCount(), 256);
  File->SetPageLimit(512);
  File->NewPage(page);
  EXPECT_EQ(File->PageCount(), 512);
  File->UnpinPage(page);
  File->FreePage(page);
  EXPECT_NE(FatalLogOf([&] { File->SetPageLimit(-1); }).find("index_file.cpp"), std::string::npos);
  EXPECT_NE(FatalLogOf([&] { File->SetPageLimit(1 << 25); }).find("index_file.cpp"),
            std::string::npos);
}

TEST_F(IndexFileTest, PinMisuseIsFatal) {
  File = Open(6, 1);
  TTestPage& a = NewPage();
  EXPECT_NE(FatalLogOf([&] { File->PinPage(a); }).find("index_file.cpp"), std::string::npos);
  EXPECT_NE(FatalLogOf([&] { File->FreePage(a); }).find("index_file.cpp"), std::string::npos);
  File->UnpinPage(a);
  EXPECT_NE(FatalLogOf([&] { File->UnpinPage(a); }).find("index_file.cpp"), std::string::npos);
  EXPECT_NE(FatalLogOf([&] { a.MarkDirty(); }).find("index_file.cpp"), std::string::npos);
}

TEST_F(IndexFileTest, TeardownChecksAreFatal) {
  // A page still in use when the file goes.
  std::string log = FatalLogOf([&] {
    File = Open(6, 1);
    TTestPage& a = NewPage();
    File->UnpinPage(a);
    File.Reset();
  });
  EXPECT_NE(log.find("ErrB"), std::string::npos) << log;
  EXPECT_NE(log.find("index_file.cpp"), std::string::npos) << log;
  // A page in use but no longer cached.
  log = FatalLogOf([&] {
    File = Open(6, 1);
    TTestPage& a = NewPage();
    File->UnpinPage(a);
    TTestPage& b = NewPage();
    File->UnpinPage(b);
    Free(b);
    File.Reset();
  });
  EXPECT_NE(log.find("index_file.cpp"), std::string::npos) << log;
}

TEST_F(IndexFileTest, ReadBackOfAPageObjectThatWasNeverCached) {
  File = Open(6, 1);
  TTestPage& a = NewPage();
  memset(a.Buffer(), 7, 64);
  a.MarkDirty();
  File->UnpinPage(a);
  NewPage();  // evicts and writes a
  File->UnpinPage(*Pages.back());
  // A second object for the same page, as after its first object was
  // destroyed while idle.
  Pages.push_back(std::make_unique<TTestPage>(*Manager));
  TTestPage& again = *Pages.back();
  again.SetNumber(a.PageNumber());
  File->PinPage(again);
  EXPECT_EQ(again.Buffer()[63], 7);
  File->UnpinPage(again);
  // The page is freed through the new object; the old one, uncached, is
  // left as a destroyed object would be.
  Free(again);
  FreedPages.push_back(&a);
  EXPECT_EQ(a.UseCount(), 0);
}

}  // namespace
}  // namespace kor
