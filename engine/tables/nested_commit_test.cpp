// A nested commit over an index file that is (nearly) full. The commit
// moves the child's pairs into the parent's write set, which may need new
// pages; it must happen whole or not at all. Each case commits a child
// into its parent at every number of free pages from none to enough, with
// the file held at its page limit: the commit either succeeds, or raises
// EFileFullError with the table file, both write sets and the indexes as
// they were, and then succeeds once pages are given back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/numeric.h"

#include "engine/storage/transaction.h"
#include "engine/tables/raw_table.h"
#include "engine/tables/table_index.h"

#include "tests/support/page_hog.h"
#include "tests/support/temp_dir.h"
#include "tests/support/version_fixture.h"

namespace kor {
namespace {

using test::SetInt;

// Declared record: ID INTEGER 4. Stored: !BEGTIME, !ENDTIME, ID and a
// bitmap byte: 8 + 8 + 4 + 1 = 21 bytes.
constexpr int32_t kStoredSize = 21;
constexpr int32_t kBlockSize = kStoredSize + 4;
constexpr int32_t kId = 3;
// 128-byte pages: write-set pages of 4 to 9 keys, table-index pages of 1 to
// 3, so a few dozen records make trees of several levels.
constexpr int32_t kPageShift = 7;
constexpr int32_t kSetUpPages = 2 * TIndexFile::kGrowPages;

// One in-use block of the table file, as its bytes say.
struct TBlock {
  int32_t Number;
  int64_t Beg;
  int64_t End;
  int64_t Id;
  bool operator==(const TBlock&) const = default;
};

void PrintTo(const TBlock& block, std::ostream* out) {
  *out << "{block " << block.Number << ", " << block.Beg << ".." << block.End << ", ID " << block.Id
       << "}";
}

struct TCase {
  const char* Name;
  int32_t ParentInserts;         // pairs of the parent before the child starts
  int32_t ChildInserts;          // move into the parent (result 1)
  int32_t ChildEndsOfParent;     // versions the parent created: removed (result 0)
  int32_t ChildEndsOfCommitted;  // move into the parent (result 2)
};

class NestedCommitTest : public test::TLeakCheckedTest {
 protected:
  void SetUp() override {
    TLeakCheckedTest::SetUp();
    Declared = test::MakeRecordType({{"ID", 'I', 4}});
    IntOrder = MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass);
  }
  void TearDown() override {
    Declared.Reset();
    IntOrder.Reset();
    ExpectNoLeak();
  }

  int32_t Insert(TRawTable& table, TTransaction& t, int64_t id) {
    std::vector<unsigned char> record(kStoredSize);
    SetInt(table.StoredRecordType(), record.data(), kId, id);
    return table.InsertVersion(t, record.data());
  }

  // The in-use blocks of the table file, read from its bytes.
  static std::vector<TBlock> UsedBlocks(const std::string& fileName) {
    const std::string bytes = test::ReadWholeFile(fileName);
    std::vector<TBlock> blocks;
    for (size_t n = 1; (n + 1) * kBlockSize <= bytes.size(); ++n) {
      const auto* block = reinterpret_cast<const unsigned char*>(bytes.data()) + n * kBlockSize;
      if (DecodeInt32(block) != 1) continue;
      blocks.push_back({static_cast<int32_t>(n), DecodeInt64(block + 4), DecodeInt64(block + 12),
                        DecodeInt32(block + 20)});
    }
    return blocks;
  }

  // Rules 1 to 9 of each tree of the table. Rule 10 (every page of the file
  // in some tree or free) cannot hold here: the write sets and the hog hold
  // pages no table index knows of.
  static void ExpectTreesSound(TRawTable& table) {
    for (int32_t i = 0; i < table.IndexCount(); ++i) {
      std::string failure = table.IndexAt(i).Index().CheckInvariants();
      if (failure.rfind("rule 10:", 0) == 0) continue;
      EXPECT_EQ(failure, "") << "index " << i;
    }
  }

  // The IDs the transaction sees, in ID order.
  static std::vector<int64_t> VisibleIds(const std::string& fileName, const TTransaction& t) {
    std::vector<int64_t> ids;
    for (const TBlock& block : UsedBlocks(fileName)) {
      if (t.IsRecordVisible(block.Beg, block.End)) ids.push_back(block.Id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  // Runs `c` with `freePages` pages free at the commit. Returns whether the
  // first try of the nested commit succeeded.
  bool RunCase(const TCase& c, int32_t freePages) {
    test::TVersionStorage storage(10, kPageShift);
    storage.Open();
    TIndexFile& indexFile = storage.Mgr().IndexFile();
    indexFile.SetPageLimit(kSetUpPages);
    const std::string fileName = storage.File("T.DAT");
    auto table = MakeRef<TRawTable>(fileName, storage.MgrRef(), Declared);
    table->AddUniqueIndex(*test::MakeOrder(*Declared, {1}, *IntOrder));

    // Committed versions 1000.. for the child to end.
    std::vector<int32_t> committed;
    {
      auto t = storage.Begin();
      for (int32_t i = 0; i < c.ChildEndsOfCommitted; ++i) {
        committed.push_back(Insert(*table, *t, 1000 + i));
      }
      TTransaction::Finish(std::move(t), true);
    }
    auto parent = storage.Begin();
    std::vector<int32_t> parentOwn;
    for (int32_t i = 0; i < c.ParentInserts; ++i) parentOwn.push_back(Insert(*table, *parent, i));
    auto child = TTransaction::Nested(parent);
    std::set<int64_t> expected;
    for (int32_t i = 0; i < c.ParentInserts; ++i) expected.insert(i);
    for (int32_t i = 0; i < c.ChildEndsOfParent; ++i) {
      EXPECT_TRUE(table->EndVersion(*child, parentOwn[static_cast<size_t>(i)]));
      expected.erase(i);
    }
    for (int32_t address : committed) EXPECT_TRUE(table->EndVersion(*child, address));
    for (int32_t i = 0; i < c.ChildInserts; ++i) {
      EXPECT_GT(Insert(*table, *child, 2000 + i), 0);
      expected.insert(2000 + i);
    }
    const int32_t parentPairs = parent->WriteSetSize();
    const int32_t childPairs = child->WriteSetSize();
    EXPECT_EQ(childPairs, c.ChildEndsOfParent + c.ChildEndsOfCommitted + c.ChildInserts);

    // The file is at its limit now, with exactly `freePages` free.
    indexFile.SetPageLimit(indexFile.PageCount());
    std::optional<test::TPageHog> hog(std::in_place, indexFile);
    hog->LeaveFree(freePages);
    const std::vector<TBlock> before = UsedBlocks(fileName);

    bool firstTry = true;
    try {
      TTransaction::Finish(std::move(child), true);
    } catch (const EFileFullError&) {
      // Swallowed: the refusal is what this case looks at.
      firstTry = false;
    }
    if (!firstTry) {
      // Nothing changed, and the child is still live.
      EXPECT_TRUE(static_cast<bool>(child));
      EXPECT_EQ(UsedBlocks(fileName), before);
      EXPECT_EQ(parent->WriteSetSize(), parentPairs);
      EXPECT_EQ(child->WriteSetSize(), childPairs);
      EXPECT_TRUE(parent->HasActiveChild());
      ExpectTreesSound(*table);
      hog.reset();
      indexFile.SetPageLimit(kSetUpPages);
      TTransaction::Finish(std::move(child), true);
    }
    EXPECT_FALSE(static_cast<bool>(child));
    EXPECT_FALSE(parent->HasActiveChild());
    EXPECT_EQ(parent->WriteSetSize(),
              parentPairs - c.ChildEndsOfParent + c.ChildEndsOfCommitted + c.ChildInserts);
    EXPECT_EQ(VisibleIds(fileName, *parent),
              std::vector<int64_t>(expected.begin(), expected.end()));
    ExpectTreesSound(*table);
    hog.reset();
    indexFile.SetPageLimit(kSetUpPages);

    TTransaction::Finish(std::move(parent), true);
    auto reader = storage.Begin();
    EXPECT_EQ(VisibleIds(fileName, *reader),
              std::vector<int64_t>(expected.begin(), expected.end()));
    TTransaction::Finish(std::move(reader), false);
    table.ReleaseLast();
    return firstTry;
  }

  Ref<TRecordType> Declared;
  Ref<TIntegerCompFunc> IntOrder;
};

TEST_F(NestedCommitTest, CommitIntoTheParentIsWholeOrRefusedAtEveryFill) {
  const TCase cases[] = {
      {"into a parent without a write set", 0, 40, 0, 6},
      {"into a parent with pairs of its own", 30, 40, 12, 6},
      {"only removals from the parent", 20, 0, 20, 0},
  };
  for (const TCase& c : cases) {
    int32_t refused = 0;
    int32_t committed = 0;
    for (int32_t free = 0; free <= 64; free += 2) {
      SCOPED_TRACE(std::string(c.Name) + ", " + std::to_string(free) + " pages free");
      if (RunCase(c, free)) {
        ++committed;
      } else {
        ++refused;
      }
      if (HasFailure()) return;
    }
    // Both outcomes were met: a full file refuses, enough room commits.
    EXPECT_GT(refused, 0) << c.Name;
    EXPECT_GT(committed, 0) << c.Name;
  }
}

}  // namespace
}  // namespace kor
