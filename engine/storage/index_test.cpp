#include "engine/storage/index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/ref.h"

#include "engine/storage/index_file.h"
#include "engine/storage/index_ptr.h"
#include "engine/storage/page.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"

#include "tests/support/temp_dir.h"

// Structural cases of the B-tree: degrees, the shape after known
// insertions, seeks and walks at the edges, page bookkeeping, cursors that
// follow or lose their entries, and the I/O of the buffer pool. Rule
// numbers refer to index.cpp.

namespace kor {
namespace {

// Keys of two INTEGER 4 fields A and B ordered by A then B, then an
// optional STRING field of `padSize` bytes that takes no part in the order.
class TTestKeys {
 public:
  TTestKeys(int32_t padSize, bool withBitmap) {
    Type = MakeRef<TRecordType>();
    Type->AddField("A", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    Type->AddField("B", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    if (padSize > 0) Type->AddField("PAD", MakeRef<TStringType>(kStringTypeClass, padSize));
    Type->Freeze(withBitmap);
    Comp = MakeRef<TRecordCompFunc>(Type);
    Comp->AddPart(1, MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass));
    Comp->AddPart(2, MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass));
    PadSize = padSize;
  }
  int32_t Size() const { return Type->RecordSize(); }
  Ref<TIndex> NewIndex(Ref<TIndexFile> file) const {
    return MakeRef<TIndex>(std::move(file), Type, Comp);
  }
  std::vector<unsigned char> Key(int32_t a, int32_t b = 0, unsigned char pad = 0) const {
    std::vector<unsigned char> key(static_cast<size_t>(Size()));
    unsigned char bytes[4];
    EncodeInt32(bytes, a);
    Type->SetField(key.data(), 1, bytes);
    EncodeInt32(bytes, b);
    Type->SetField(key.data(), 2, bytes);
    if (PadSize > 0) {
      std::vector<unsigned char> padding(static_cast<size_t>(PadSize), pad);
      Type->SetField(key.data(), 3, padding.data());
    }
    return key;
  }
  int32_t A(const unsigned char* key) const { return DecodeInt32(Type->FieldPtr(key, 1)); }

  Ref<TRecordType> Type;
  Ref<TRecordCompFunc> Comp;
  int32_t PadSize;
};

class IndexTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogFile(Dir.File("KORLIB.OUT")); }

  Ref<TIndexFile> NewFile(int32_t pageShift, int32_t minBuffers = 16) {
    return MakeRef<TIndexFile>(Dir.File("INDEX.TMP" + std::to_string(++Files)), pageShift,
                               minBuffers);
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
  // The A fields of a page's keys.
  std::vector<int32_t> KeysOf(TPage& page, const TTestKeys& keys) {
    std::vector<int32_t> values;
    page.Pin();
    for (int32_t i = 0; i < page.Count(); ++i) values.push_back(keys.A(page.Key(i)));
    page.Unpin();
    return values;
  }
  // The A fields met walking the whole tree forward (or backward).
  std::vector<int32_t> Walk(TIndex& index, const TTestKeys& keys, bool forward) {
    auto cursor = MakeRef<TIndexPtr>(Ref<TIndex>::Share(index));
    std::vector<int32_t> values;
    if (forward) {
      cursor->GoBeforeFirst();
    } else {
      cursor->GoAfterLast();
    }
    for (;;) {
      if (forward) {
        cursor->Next();
      } else {
        cursor->Prior();
      }
      if (!cursor->IsOnEntry()) break;
      values.push_back(EntryA(*cursor, keys));
    }
    EXPECT_TRUE(forward ? cursor->IsEOF() : cursor->IsBOF());
    return values;
  }
  static int32_t EntryA(TIndexPtr& cursor, const TTestKeys& keys) {
    cursor.Lock();
    int32_t a = keys.A(cursor.Entry());
    cursor.Unlock();
    return a;
  }
  static void InsertAll(TIndex& index, const TTestKeys& keys, const std::vector<int32_t>& values) {
    auto cursor = MakeRef<TIndexPtr>(Ref<TIndex>::Share(index));
    for (int32_t a : values) cursor->Insert(keys.Key(a).data());
  }

  test::TTempDir Dir;
  int Files = 0;
  int FatalRuns = 0;
};

TEST_F(IndexTest, DegreeIsTheLargestThatFitsTwoTMinusOneKeys) {
  struct TCase {
    int32_t PageSize;
    int32_t KeySize;
    int32_t Degree;
  };
  const TCase cases[] = {
      {64, 24, 1}, {64, 12, 2},     {64, 8, 2},           {64, 56, 0},
      {128, 8, 5}, {4096, 16, 102}, {1 << 20, 1, 104857}, {64, 2147483647, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.PageSize) + "/" + std::to_string(c.KeySize));
    int32_t t = TIndex::DegreeFor(c.PageSize, c.KeySize);
    EXPECT_EQ(t, c.Degree);
    // 2t-1 keys fit and 2t+1 would not.
    EXPECT_LE(8 + int64_t{2 * t - 1} * (int64_t{c.KeySize} + 4), c.PageSize);
    EXPECT_GT(8 + int64_t{2 * t + 1} * (int64_t{c.KeySize} + 4), c.PageSize);
  }
}

TEST_F(IndexTest, KeyTooLargeForThePageIsAConfigurationError) {
  try {
    CheckKeyFitsPage(24, 6);
    FAIL() << "a 24-byte key was accepted for 64-byte pages";
  } catch (const EReaderSyntaxError& e) {
    EXPECT_STREQ(e.ClassName(), "EKeyTooLargeError");
    EXPECT_STREQ(e.what(), "EKeyTooLargeError  LastError: 0");
    EXPECT_EQ(e.InputPosition(), "key of 24 bytes does not fit three to a page of 64 bytes");
  }
  // Three keys of k bytes need 8 + 3(k + 4) bytes, and t = 2 asks a little
  // more: 3k <= page size - 20.
  EXPECT_NO_THROW(CheckKeyFitsPage(14, 6));
  EXPECT_THROW(CheckKeyFitsPage(15, 6), EKeyTooLargeError);
  EXPECT_NO_THROW(CheckKeyFitsPage(349518, 20));
  EXPECT_THROW(CheckKeyFitsPage(349519, 20), EKeyTooLargeError);
  EXPECT_THROW(CheckKeyFitsPage(2147483647, 12), EKeyTooLargeError);
}

TEST_F(IndexTest, DegreeBelowTwoIsFatalWhenTheIndexIsCreated) {
  TTestKeys wide(16, false);  // 24 bytes
  ASSERT_EQ(wide.Size(), 24);
  auto file = NewFile(6);
  std::string log = FatalLogOf([&] { wide.NewIndex(file); });
  EXPECT_NE(log.find("ErrB"), std::string::npos) << log;
  EXPECT_NE(log.find("index.cpp"), std::string::npos) << log;
}

TEST_F(IndexTest, TwelveByteKeysGiveDegreeTwoOnSixtyFourBytePages) {
  TTestKeys keys(4, false);
  ASSERT_EQ(keys.Size(), 12);
  auto index = keys.NewIndex(NewFile(6));
  EXPECT_EQ(index->Degree(), 2);
  EXPECT_EQ(index->MaxKeys(), 3);
  EXPECT_EQ(index->CheckInvariants(), "");
}

TEST_F(IndexTest, FourthKeySplitsTheRootLeaf) {
  TTestKeys keys(0, false);
  auto index = keys.NewIndex(NewFile(6));
  ASSERT_EQ(index->Degree(), 2);
  InsertAll(*index, keys, {1, 2, 3});
  EXPECT_TRUE(index->Root().IsLeaf());
  EXPECT_EQ(KeysOf(index->Root(), keys), (std::vector<int32_t>{1, 2, 3}));
  InsertAll(*index, keys, {4});
  TPage& root = index->Root();
  ASSERT_FALSE(root.IsLeaf());
  EXPECT_EQ(KeysOf(root, keys), (std::vector<int32_t>{2}));
  EXPECT_EQ(KeysOf(root.Child(0), keys), (std::vector<int32_t>{1}));
  EXPECT_EQ(KeysOf(root.Child(1), keys), (std::vector<int32_t>{3, 4}));
  EXPECT_TRUE(root.Child(0).IsLeaf());
  // The new root took a fresh page; the old root leaf stays child 0.
  EXPECT_EQ(root.Child(0).PageNumber(), 0);
  EXPECT_EQ(root.PageNumber(), 1);
  EXPECT_EQ(root.Child(1).PageNumber(), 2);
  EXPECT_EQ(index->CheckInvariants(), "");
}

TEST_F(IndexTest, SeeksAndWalksOfAnEmptyTree) {
  TTestKeys keys(0, false);
  auto index = keys.NewIndex(NewFile(6));
  auto cursor = MakeRef<TIndexPtr>(index);
  EXPECT_TRUE(cursor->IsDetached());
  for (int32_t fieldCount : {-1, 0, 1, 2}) {
    cursor->Seek(keys.Key(5).data(), fieldCount, true);
    EXPECT_TRUE(cursor->IsEOF());
    EXPECT_FALSE(cursor->IsDetached());
    cursor->Seek(keys.Key(5).data(), fieldCount, false);
    EXPECT_TRUE(cursor->IsBOF());
  }
  cursor->GoBeforeFirst();
  cursor->Next();
  EXPECT_TRUE(cursor->IsEOF());
  cursor->Next();
  EXPECT_TRUE(cursor->IsEOF());
  cursor->Prior();
  EXPECT_TRUE(cursor->IsBOF());
  cursor->Prior();
  EXPECT_TRUE(cursor->IsBOF());
  EXPECT_EQ(Walk(*index, keys, true), std::vector<int32_t>{});
}

TEST_F(IndexTest, SeeksBeyondTheEndsAndOnPartialKeys) {
  TTestKeys keys(0, false);
  auto index = keys.NewIndex(NewFile(6));
  auto cursor = MakeRef<TIndexPtr>(index);
  for (int32_t a = 10; a <= 200; a += 10) {
    for (int32_t b = 0; b < 3; ++b) cursor->Insert(keys.Key(a, b).data());
  }
  ASSERT_EQ(index->CheckInvariants(), "");
  struct TCase {
    int32_t A, B, FieldCount;
    bool Forward;
    int32_t ExpectA, ExpectB;  // -1/-1: after the last, -2/-2: before the first
  };
  const TCase cases[] = {
      {201, 0, -1, true, -1, -1},  {5, 0, -1, false, -2, -2}, {5, 0, -1, true, 10, 0},
      {201, 0, -1, false, 200, 2}, {50, 1, -1, true, 50, 1},  {50, 1, -1, false, 50, 1},
      {50, 7, -1, true, 60, 0},    {50, 7, -1, false, 50, 2}, {50, 9, 1, true, 50, 0},
      {50, -9, 1, false, 50, 2},   {55, 0, 1, true, 60, 0},   {55, 0, 1, false, 50, 2},
      {99, 9, 0, true, 10, 0},     {99, 9, 0, false, 200, 2}, {200, 5, 1, true, 200, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.A) + "," + std::to_string(c.B) + " fields " +
                 std::to_string(c.FieldCount) + (c.Forward ? " forward" : " backward"));
    cursor->Seek(keys.Key(c.A, c.B).data(), c.FieldCount, c.Forward);
    if (c.ExpectA == -1) {
      EXPECT_TRUE(cursor->IsEOF());
    } else if (c.ExpectA == -2) {
      EXPECT_TRUE(cursor->IsBOF());
    } else {
      ASSERT_TRUE(cursor->IsOnEntry());
      EXPECT_EQ(cursor->CompareEntry(keys.Key(c.ExpectA, c.ExpectB).data(), -1), 0);
    }
  }
}

TEST_F(IndexTest, WalksVisitInternalKeysInBothDirections) {
  TTestKeys keys(0, false);
  auto index = keys.NewIndex(NewFile(6));
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 200; ++i) values.push_back((i * 37) % 200);
  InsertAll(*index, keys, values);
  TIndexShape shape;
  ASSERT_EQ(index->CheckInvariants(&shape), "");
  EXPECT_GE(shape.Height, 4);
  std::vector<int32_t> ascending;
  for (int32_t i = 0; i < 200; ++i) ascending.push_back(i);
  EXPECT_EQ(Walk(*index, keys, true), ascending);
  std::vector<int32_t> descending(ascending.rbegin(), ascending.rend());
  EXPECT_EQ(Walk(*index, keys, false), descending);
}

TEST_F(IndexTest, InsertLeavesTheCursorOnTheNewKeyThroughRootSplits) {
  TTestKeys keys(0, false);
  auto index = keys.NewIndex(NewFile(6));
  auto cursor = MakeRef<TIndexPtr>(index);
  TIndexShape shape;
  int32_t rootSplits = 0;
  int32_t height = 1;
  // Descending, ascending and middle insertions split at every level.
  for (int32_t i = 0; i < 300; ++i) {
    int32_t a = i < 100 ? 1000 - i : i < 200 ? 2000 + i : 1500 + (i % 2 == 0 ? i : -i);
    cursor->Insert(keys.Key(a).data());
    ASSERT_TRUE(cursor->IsOnEntry());
    ASSERT_EQ(EntryA(*cursor, keys), a);
    ASSERT_EQ(index->CheckInvariants(&shape), "");
    if (shape.Height > height) ++rootSplits;
    height = shape.Height;
  }
  EXPECT_GE(rootSplits, 4);
}

// Append takes the path Insert would take for a key above every other:
// the two trees grow alike, page for page, also when the right edge has to
// be read back from a pool of two buffers.
TEST_F(IndexTest, AppendGrowsTheTreeAsInsertWouldAlongTheRightEdge) {
  TTestKeys keys(0, false);
  auto inserted = keys.NewIndex(NewFile(6, 2));
  auto appended = keys.NewIndex(NewFile(6, 2));
  auto inserter = MakeRef<TIndexPtr>(inserted);
  auto appender = MakeRef<TIndexPtr>(appended);
  for (int32_t a = 1; a <= 300; ++a) {
    inserter->Insert(keys.Key(3 * a).data());
    appender->Append(keys.Key(3 * a).data());
    ASSERT_TRUE(appender->IsOnEntry());
    ASSERT_EQ(EntryA(*appender, keys), 3 * a);
    TIndexShape insertedShape;
    TIndexShape appendedShape;
    ASSERT_EQ(inserted->CheckInvariants(&insertedShape), "");
    ASSERT_EQ(appended->CheckInvariants(&appendedShape), "");
    ASSERT_EQ(appendedShape.Pages, insertedShape.Pages);
    ASSERT_EQ(appendedShape.Height, insertedShape.Height);
  }
  EXPECT_EQ(Walk(*appended, keys, true), Walk(*inserted, keys, true));
  appender->Insert(keys.Key(451).data());  // Insert still finds any place
  std::string log = FatalLogOf([&] { appender->Append(keys.Key(900).data()); });
  EXPECT_NE(log.find("ErrB"), std::string::npos) << log;
  EXPECT_EQ(appended->CheckInvariants(), "");
}

// Destroying a tree reads its internal pages only: a leaf is freed by the
// number its parent holds.
TEST_F(IndexTest, DestroyingATreeReadsNoLeaf) {
  TTestKeys keys(0, false);
  auto file = NewFile(6, 4);
  auto index = keys.NewIndex(file);
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 400; ++i) values.push_back((i * 7) % 400);
  InsertAll(*index, keys, values);
  TIndexShape shape;
  ASSERT_EQ(index->CheckInvariants(&shape), "");
  ASSERT_GE(shape.Height, 3);
  index->ReleaseIdlePages();
  const int64_t reads = file->PageReads();
  const int32_t leaves = (shape.Pages + 1) / 2;  // at least half the pages of a tree of degree 2
  index.Reset();
  EXPECT_LE(file->PageReads() - reads, shape.Pages - leaves);
  EXPECT_EQ(file->FreePageCount(), file->PageCount());
}

TEST_F(IndexTest, DeletingEveryKeyReturnsAllPagesButTheRoot) {
  TTestKeys keys(0, false);
  auto file = NewFile(6);
  auto index = keys.NewIndex(file);
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 500; ++i) values.push_back((i * 7919) % 500);
  InsertAll(*index, keys, values);
  EXPECT_GT(file->PageCount() - file->FreePageCount(), 100);
  {
    auto cursor = MakeRef<TIndexPtr>(index);
    for (int32_t i = 0; i < 500; ++i) {
      int32_t a = (i * 131) % 500;
      cursor->Seek(keys.Key(a).data(), -1, true);
      ASSERT_EQ(cursor->CompareEntry(keys.Key(a).data(), -1), 0);
      cursor->Delete();
      ASSERT_TRUE(cursor->IsDetached());
      ASSERT_EQ(index->CheckInvariants(), "") << "after deleting " << a;
    }
  }
  EXPECT_TRUE(index->Root().IsLeaf());
  EXPECT_EQ(index->Root().Count(), 0);
  EXPECT_EQ(file->FreePageCount(), file->PageCount() - 1);
  EXPECT_EQ(index->ObjectCount(), 1);
  index.Reset();
  EXPECT_EQ(file->FreePageCount(), file->PageCount());
}

TEST_F(IndexTest, EveryPageIsFreeOnceNoIndexIsLeft) {
  TTestKeys keys(0, true);
  auto file = NewFile(6, 2);
  auto first = keys.NewIndex(file);
  auto second = keys.NewIndex(file);
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 300; ++i) values.push_back((i * 17) % 300);
  // Interleaved, so that the two trees' pages mix in the file.
  for (int32_t a : values) {
    InsertAll(*first, keys, {a});
    InsertAll(*second, keys, {-a});
  }
  TIndexShape shapeOfSecond;
  ASSERT_EQ(second->CheckInvariants(&shapeOfSecond, 0).substr(0, 7), "rule 10");
  TIndexShape shapeOfFirst;
  ASSERT_EQ(first->CheckInvariants(&shapeOfFirst, shapeOfSecond.Pages), "");
  EXPECT_EQ(file->PageCount() - file->FreePageCount(), shapeOfFirst.Pages + shapeOfSecond.Pages);
  first.Reset();
  EXPECT_EQ(second->CheckInvariants(), "");
  second.Reset();
  EXPECT_EQ(file->FreePageCount(), file->PageCount());
  EXPECT_EQ(file->LruCount(), 0);
  EXPECT_EQ(file->FreeBufferCount(), file->BufferCount());
  file.ReleaseLast();  // its own teardown checks pass
}

TEST_F(IndexTest, CursorOnADeletedEntryIsDetachedAndNeighboursKeepTheirs) {
  TTestKeys keys(0, false);
  auto index = keys.NewIndex(NewFile(6));
  std::vector<int32_t> values;
  for (int32_t i = 1; i <= 60; ++i) values.push_back(i);
  InsertAll(*index, keys, values);
  auto deleter = MakeRef<TIndexPtr>(index);
  auto same = MakeRef<TIndexPtr>(index);
  auto before = MakeRef<TIndexPtr>(index);
  auto after = MakeRef<TIndexPtr>(index);
  // Delete the keys of the middle, one by one, with cursors on the key and
  // on both neighbours: merges and redistributions move them around.
  for (int32_t a = 20; a <= 40; ++a) {
    deleter->Seek(keys.Key(a).data(), -1, true);
    same->Seek(keys.Key(a).data(), -1, true);
    before->Seek(keys.Key(a).data(), -1, false);
    before->Prior();
    after->Seek(keys.Key(a + 1).data(), -1, true);
    deleter->Delete();
    EXPECT_TRUE(deleter->IsDetached());
    EXPECT_TRUE(same->IsDetached());
    EXPECT_EQ(EntryA(*before, keys), 19);  // 20 .. a-1 are gone
    EXPECT_EQ(EntryA(*after, keys), a + 1);
    ASSERT_EQ(index->CheckInvariants(), "");
    // The neighbours still step to each other.
    before->Next();
    EXPECT_EQ(EntryA(*before, keys), a + 1);
  }
}

// Counts EntryChanged calls; the test may make it read the entry and let go.
class TWatchingPtr final : public TIndexPtr {
 public:
  using TIndexPtr::TIndexPtr;
  int Changes = 0;
  unsigned char FirstPadByte = 0;
  bool DetachOnChange = false;

 protected:
  void EntryChanged() override {
    ++Changes;
    Lock();
    FirstPadByte = Entry()[8];
    Unlock();
    if (DetachOnChange) Detach();
  }
};

TEST_F(IndexTest, ReplaceCallsEntryChangedOnEveryCursorOnTheEntry) {
  TTestKeys keys(4, false);
  auto index = keys.NewIndex(NewFile(6));
  InsertAll(*index, keys, {1, 2, 3, 4, 5, 6, 7});
  auto writer = MakeRef<TWatchingPtr>(index);
  auto reader = MakeRef<TWatchingPtr>(index);
  auto leaving = MakeRef<TWatchingPtr>(index);
  auto elsewhere = MakeRef<TWatchingPtr>(index);
  leaving->DetachOnChange = true;
  for (TWatchingPtr* cursor : {writer.Get(), reader.Get(), leaving.Get()}) {
    cursor->Seek(keys.Key(4).data(), -1, true);
  }
  elsewhere->Seek(keys.Key(5).data(), -1, true);
  writer->Replace(keys.Key(4, 0, 'x').data());
  for (TWatchingPtr* cursor : {writer.Get(), reader.Get(), leaving.Get()}) {
    EXPECT_EQ(cursor->Changes, 1);
    EXPECT_EQ(cursor->FirstPadByte, 'x');
  }
  EXPECT_EQ(elsewhere->Changes, 0);
  EXPECT_TRUE(leaving->IsDetached());
  EXPECT_TRUE(reader->IsOnEntry());
  EXPECT_EQ(index->CheckInvariants(), "");
  std::string log = FatalLogOf([&] { writer->Replace(keys.Key(5).data()); });
  EXPECT_NE(log.find("index_ptr.cpp"), std::string::npos) << log;
}

TEST_F(IndexTest, CursorMisuseIsFatal) {
  TTestKeys keys(0, false);
  auto index = keys.NewIndex(NewFile(6));
  InsertAll(*index, keys, {1, 2, 3});
  auto cursor = MakeRef<TIndexPtr>(index);
  const std::function<void()> misuses[] = {
      [&] { cursor->Next(); },
      [&] { cursor->Prior(); },
      [&] { cursor->Delete(); },
      [&] { cursor->CompareEntry(keys.Key(1).data(), -1); },
      [&] { cursor->Lock(); },
      [&] {
        cursor->GoAfterLast();
        cursor->Delete();
      },
      [&] {
        cursor->Seek(keys.Key(1).data(), -1, true);
        cursor->Entry();  // not locked
      },
      [&] {
        cursor->Seek(keys.Key(1).data(), -1, true);
        cursor->Lock();
        cursor->Lock();
      },
      [&] {
        cursor->Seek(keys.Key(1).data(), -1, true);
        cursor->Seek(keys.Key(1).data(), 3, true);  // more parts than the key has
      },
  };
  for (const auto& misuse : misuses) {
    std::string log = FatalLogOf(misuse);
    EXPECT_NE(log.find("ErrB"), std::string::npos) << log;
  }
}

TEST_F(IndexTest, IdlePageObjectsAreReleasedAndReadBackOnTheirNextVisit) {
  TTestKeys keys(0, false);
  auto file = NewFile(6, 1);
  auto index = keys.NewIndex(file);
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 100; ++i) values.push_back(i);
  InsertAll(*index, keys, values);
  TIndexShape shape;
  ASSERT_EQ(index->CheckInvariants(&shape), "");
  int32_t pages = index->ObjectCount();
  index->ReleaseIdlePages();
  // With one buffer nearly every page object is idle; the root and the
  // cached page (and their ancestors) remain.
  EXPECT_LT(index->ObjectCount(), pages / 2);
  int64_t reads = file->PageReads();
  EXPECT_EQ(Walk(*index, keys, true), values);
  EXPECT_GT(file->PageReads(), reads);
  EXPECT_EQ(index->ObjectCount(), pages);
  EXPECT_EQ(index->CheckInvariants(), "");
}

// Rule 4 of the index file: a page is read only when it is pinned while
// not cached, and written only when a dirty page is evicted. Each pin is
// predicted from the pool's state just before it.
TEST_F(IndexTest, PagesAreReadOnlyOnMissesAndWrittenOnlyOnDirtyEvictions) {
  TTestKeys keys(0, false);
  constexpr int32_t kBuffers = 8;
  auto file = NewFile(6, kBuffers);
  auto index = keys.NewIndex(file);
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 400; ++i) values.push_back((i * 7) % 400);
  InsertAll(*index, keys, values);
  TIndexShape shape;
  ASSERT_EQ(index->CheckInvariants(&shape), "");
  ASSERT_GT(shape.Pages, 10 * kBuffers);

  auto cursor = MakeRef<TIndexPtr>(index);
  for (int pass = 0; pass < 3; ++pass) {
    SCOPED_TRACE(pass);
    int64_t walkReads = file->PageReads();
    int64_t walkWrites = file->PageWrites();
    int32_t misses = 0;
    int32_t dirtyEvictions = 0;
    cursor->GoBeforeFirst();
    for (cursor->Next(); cursor->IsOnEntry(); cursor->Next()) {
      const TPage& page = *cursor->Page();
      bool miss = !page.IsCached();
      bool dirtyVictim = miss && file->FreeBufferCount() == 0 && file->LruHead() != nullptr &&
                         file->LruHead()->IsDirty();
      int64_t reads = file->PageReads();
      int64_t writes = file->PageWrites();
      cursor->Lock();
      ASSERT_EQ(file->PageReads() - reads, miss ? 1 : 0);
      ASSERT_EQ(file->PageWrites() - writes, dirtyVictim ? 1 : 0);
      cursor->Unlock();
      misses += miss ? 1 : 0;
      dirtyEvictions += dirtyVictim ? 1 : 0;
    }
    EXPECT_EQ(file->PageReads() - walkReads, misses);
    EXPECT_EQ(file->PageWrites() - walkWrites, dirtyEvictions);
    // Every page is visited and the pool is far smaller than the tree, so
    // every walk misses on each page at least once.
    EXPECT_GE(misses, shape.Pages - kBuffers);
    // The first walk cleaned every page.
    if (pass > 0) {
      EXPECT_EQ(dirtyEvictions, 0);
    }
    EXPECT_EQ(file->BufferCount(), kBuffers);
  }

  // Moving the cursor alone touches no page: page objects know their counts
  // and children.
  int64_t reads = file->PageReads();
  cursor->GoAfterLast();
  while (!cursor->IsBOF()) cursor->Prior();
  EXPECT_EQ(file->PageReads(), reads);
}

TEST_F(IndexTest, APoolLargerThanTheTreeReadsAndWritesNothing) {
  TTestKeys keys(0, false);
  auto file = NewFile(6, 1000);
  auto index = keys.NewIndex(file);
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 400; ++i) values.push_back((i * 7) % 400);
  InsertAll(*index, keys, values);
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<int32_t> sorted(values);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Walk(*index, keys, true), sorted);
    auto cursor = MakeRef<TIndexPtr>(index);
    for (int32_t a : values) cursor->Seek(keys.Key(a).data(), -1, pass == 0);
  }
  EXPECT_EQ(index->CheckInvariants(), "");
  EXPECT_EQ(file->PageReads(), 0);
  EXPECT_EQ(file->PageWrites(), 0);
  EXPECT_EQ(file->BufferCount(), 1000);
}

}  // namespace
}  // namespace kor
