#include "engine/tables/raw_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/numeric.h"

#include "engine/tables/table_index.h"

#include "tests/support/temp_dir.h"
#include "tests/support/version_fixture.h"

namespace kor {
namespace {

using test::GetInt;
using test::SetInt;

// Declared record: ID INTEGER 4, AGE INTEGER 4. Stored: !BEGTIME,
// !ENDTIME, ID, AGE and a bitmap byte: 8 + 8 + 4 + 4 + 1 = 25 bytes.
constexpr int32_t kStoredSize = 25;
constexpr int32_t kBlockSize = kStoredSize + 4;
constexpr int32_t kId = 3;  // stored field numbers
constexpr int32_t kAge = 4;

const TTimeStamp kLast = 10;  // the time counter at start

// One block of a table file as its bytes say.
struct TBlock {
  int32_t Number;
  int64_t Beg;
  int64_t End;
  int64_t Id;
};

class RawTableTest : public test::TLeakCheckedTest {
 protected:
  void SetUp() override {
    TLeakCheckedTest::SetUp();
    Storage.emplace(kLast);
    Storage->Open();
    Declared = test::MakeRecordType({{"ID", 'I', 4}, {"AGE", 'I', 4}});
    IntOrder = MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass);
  }
  void TearDown() override {
    Table.Reset();
    Storage.reset();
    Declared.Reset();
    IntOrder.Reset();
    ExpectNoLeak();
  }

  std::string FileName() const { return Storage->File("PEOPLE.DAT"); }
  void OpenTable(bool uniqueId = true) {
    Table = MakeRef<TRawTable>(FileName(), Storage->MgrRef(), Declared);
    if (uniqueId) Table->AddUniqueIndex(*test::MakeOrder(*Declared, {1}, *IntOrder));
  }
  void Restart(bool uniqueId = true) {
    Table.Reset();
    Storage->Restart();
    OpenTable(uniqueId);
  }

  // A stored record with these field values (times left 0).
  std::vector<unsigned char> Record(int64_t id, int64_t age = 0) const {
    const TRecordType& stored = Table->StoredRecordType();
    std::vector<unsigned char> record(static_cast<size_t>(stored.RecordSize()));
    SetInt(stored, record.data(), kId, id);
    SetInt(stored, record.data(), kAge, age);
    return record;
  }
  int32_t Insert(TTransaction& t, int64_t id, int64_t age = 0) {
    auto record = Record(id, age);
    return Table->InsertVersion(t, record.data());
  }
  int32_t Update(TTransaction& t, int32_t address, int64_t id, int64_t age = 0) {
    auto record = Record(id, age);
    return Table->UpdateVersion(t, address, record.data());
  }

  // The in-use blocks of the table file, read from its bytes.
  std::vector<TBlock> UsedBlocks() const {
    const std::string bytes = test::ReadWholeFile(FileName());
    std::vector<TBlock> blocks;
    for (size_t n = 1; (n + 1) * kBlockSize <= bytes.size(); ++n) {
      const auto* block = reinterpret_cast<const unsigned char*>(bytes.data()) + n * kBlockSize;
      if (DecodeInt32(block) != 1) continue;
      blocks.push_back({static_cast<int32_t>(n), DecodeInt64(block + 4), DecodeInt64(block + 12),
                        DecodeInt32(block + 20)});
    }
    return blocks;
  }
  std::vector<int64_t> UsedIds() const {
    std::vector<int64_t> ids;
    for (const TBlock& block : UsedBlocks()) ids.push_back(block.Id);
    return ids;
  }
  bool Sees(const TTransaction& t, int32_t address) {
    std::vector<unsigned char> record(kStoredSize);
    Table->ReadRecord(address, record.data());
    return t.IsRecordVisible(TRawTable::BegTime(record.data()), TRawTable::EndTime(record.data()));
  }

  std::optional<test::TVersionStorage> Storage;
  Ref<TRecordType> Declared;
  Ref<TIntegerCompFunc> IntOrder;
  Ref<TRawTable> Table;
};

TEST_F(RawTableTest, StoredRecordPutsTheTimesInFront) {
  OpenTable();
  const TRecordType& stored = Table->StoredRecordType();
  ASSERT_EQ(stored.FieldCount(), 4);
  EXPECT_EQ(stored.FieldName(1), "!BEGTIME");
  EXPECT_EQ(stored.FieldName(2), "!ENDTIME");
  EXPECT_EQ(stored.FieldName(3), "ID");
  EXPECT_EQ(stored.FieldOffset(3), 16);
  EXPECT_EQ(stored.RecordSize(), kStoredSize);
  EXPECT_EQ(&Table->DeclaredRecordType(), Declared.Get());
  EXPECT_GE(Table->Identity(), 1);
}

// The start-up recovery of crafted files: each case is one block written
// before the table is opened, with the counter at kLast.
TEST_F(RawTableTest, RecoveryKeepsExactlyTheCommittedCurrentVersions) {
  struct TCase {
    const char* Name;
    int64_t Beg;
    int64_t End;
    bool TimesPresent;
    bool Kept;
  };
  const TCase cases[] = {
      {"uncommitted insertion", MakeWriteStamp(1, 0), 0, true, false},
      {"nested uncommitted insertion", MakeWriteStamp(3, 2), 0, true, false},
      {"zero begin", 0, 0, true, false},
      {"begin from a commit that never took effect", kLast + 1, 0, true, false},
      {"committed, open", 5, 0, true, true},
      {"committed at the last commit", kLast, 0, true, true},
      {"ended by an uncommitted transaction", 5, MakeWriteStamp(2, 0), true, true},
      {"ended by a committed transaction", 5, 7, true, false},
      {"ended at the last commit", 5, kLast, true, false},
      {"ended by a commit that never took effect", 5, kLast + 5, true, true},
      {"times marked null", 5, 0, false, true},
      {"ended, times marked null", 5, MakeWriteStamp(1, 1), false, true},
  };
  // Header with a head of -1 (not closed cleanly), then one block per case
  // with ID = case number.
  std::string bytes(kBlockSize, '\0');
  EncodeInt32(reinterpret_cast<unsigned char*>(bytes.data()), -1);
  Ref<TRecordType> stored = test::MakeRecordType(
      {{"!BEGTIME", 'I', 8}, {"!ENDTIME", 'I', 8}, {"ID", 'I', 4}, {"AGE", 'I', 4}});
  ASSERT_EQ(stored->RecordSize(), kStoredSize);
  int64_t id = 0;
  for (const TCase& c : cases) {
    std::vector<unsigned char> block(kBlockSize);
    EncodeInt32(block.data(), 1);
    unsigned char* record = block.data() + 4;
    SetInt(*stored, record, 1, c.Beg);
    SetInt(*stored, record, 2, c.End);
    if (!c.TimesPresent) {
      stored->SetNull(record, 1);
      stored->SetNull(record, 2);
    }
    SetInt(*stored, record, kId, ++id);
    SetInt(*stored, record, kAge, 40);
    bytes.append(reinterpret_cast<const char*>(block.data()), block.size());
  }
  test::WriteWholeFile(FileName(), bytes);

  OpenTable();
  std::vector<TBlock> blocks = UsedBlocks();
  size_t next = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].Name);
    const bool kept = next < blocks.size() && blocks[next].Id == static_cast<int64_t>(i + 1);
    EXPECT_EQ(kept, cases[i].Kept);
    if (!kept) continue;
    EXPECT_EQ(blocks[next].Number, static_cast<int32_t>(i + 1));
    EXPECT_EQ(blocks[next].Beg, cases[i].Beg);
    EXPECT_EQ(blocks[next].End, 0);
    std::vector<unsigned char> record(kStoredSize);
    Table->ReadRecord(blocks[next].Number, record.data());
    EXPECT_FALSE(Table->StoredRecordType().IsNull(record.data(), 1));
    EXPECT_FALSE(Table->StoredRecordType().IsNull(record.data(), 2));
    ++next;
  }
  EXPECT_EQ(next, blocks.size());

  // The survivors are what a new transaction sees, and the unique index
  // holds them.
  auto t = Storage->Begin();
  for (const TBlock& block : blocks) EXPECT_TRUE(Sees(*t, block.Number));
  EXPECT_EQ(Insert(*t, 5), -1);  // "committed, open" holds ID 5
  TTransaction::Finish(std::move(t), false);
}

TEST_F(RawTableTest, GarbageTableFilesOpenAndServe) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    std::string bytes(static_cast<size_t>(random() % (40 * kBlockSize)), '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Some blocks marked in use, with times that survive now and then.
    for (size_t n = 1; (n + 1) * kBlockSize <= bytes.size(); ++n) {
      auto* block = reinterpret_cast<unsigned char*>(bytes.data()) + n * kBlockSize;
      if (random() % 2 == 0) EncodeInt32(block, 1);
      if (random() % 3 == 0) EncodeInt64(block + 4, static_cast<int64_t>(random() % 12));
      if (random() % 3 == 0) EncodeInt64(block + 12, 0);
    }
    test::WriteWholeFile(FileName(), bytes);
    OpenTable();
    auto t = Storage->Begin();
    Ref<TTableIndex> byAge = Table->FindOrCreateIndex(*test::MakeOrder(*Declared, {2}, *IntOrder));
    const int32_t address = Insert(*t, 1000 + round);
    ASSERT_GT(address, 0);
    EXPECT_TRUE(Table->EndVersion(*t, address));
    EXPECT_GT(Insert(*t, -1 - round), 0);
    byAge.Reset();
    TTransaction::Finish(std::move(t), true);
    for (const TBlock& block : UsedBlocks()) {
      EXPECT_GT(block.Beg, 0);
      EXPECT_LE(block.Beg, Storage->Mgr().LastCommitted());
      EXPECT_EQ(block.End, 0);
    }
    Table.Reset();
  }
}

TEST_F(RawTableTest, InsertThenDeleteLeavesNothing) {
  OpenTable();
  auto t = Storage->Begin();
  const int32_t address = Insert(*t, 1);
  ASSERT_GT(address, 0);
  EXPECT_EQ(t->WriteSetSize(), 1);
  EXPECT_EQ(UsedIds(), std::vector<int64_t>{1});
  EXPECT_TRUE(Table->EndVersion(*t, address));
  EXPECT_EQ(t->WriteSetSize(), 0);
  EXPECT_TRUE(UsedBlocks().empty());
  TTransaction::Finish(std::move(t), true);
  EXPECT_EQ(Storage->Mgr().LastCommitted(), kLast);
  EXPECT_EQ(Storage->CounterInFile(), kLast);
}

TEST_F(RawTableTest, UpdateLeavesTwoStampedVersionsThenPurgesTheOldOne) {
  OpenTable();
  auto writer = Storage->Begin();
  const int32_t first = Insert(*writer, 1, 30);
  TTransaction::Finish(std::move(writer), true);  // commit time 11

  auto reader = Storage->Begin();  // snapshot 11
  auto updater = Storage->Begin();
  const int32_t second = Update(*updater, first, 1, 31);
  ASSERT_GT(second, 0);
  EXPECT_NE(second, first);
  const TTimeStamp stamp = updater->WriteStamp();
  std::vector<TBlock> blocks = UsedBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].Beg, kLast + 1);
  EXPECT_EQ(blocks[0].End, stamp);
  EXPECT_EQ(blocks[1].Beg, stamp);
  EXPECT_EQ(blocks[1].End, 0);
  EXPECT_TRUE(Sees(*reader, first));
  EXPECT_FALSE(Sees(*reader, second));
  EXPECT_FALSE(Sees(*updater, first));
  EXPECT_TRUE(Sees(*updater, second));

  TTransaction::Finish(std::move(updater), true);  // commit time 12
  blocks = UsedBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].End, kLast + 2);
  EXPECT_EQ(blocks[1].Beg, kLast + 2);
  EXPECT_EQ(Storage->Mgr().PurgeQueueLength(), 1);
  EXPECT_TRUE(Sees(*reader, first));  // the older snapshot still reads it

  TTransaction::Finish(std::move(reader), true);
  EXPECT_EQ(Storage->Mgr().PurgeQueueLength(), 0);
  EXPECT_EQ(UsedIds(), std::vector<int64_t>{1});
  EXPECT_EQ(UsedBlocks()[0].Number, second);
}

TEST_F(RawTableTest, EndingAnEndedVersionIsRefusedWhoeverAsks) {
  OpenTable();
  auto writer = Storage->Begin();
  const int32_t address = Insert(*writer, 1);
  TTransaction::Finish(std::move(writer), true);

  auto a = Storage->Begin();
  auto b = Storage->Begin();
  EXPECT_TRUE(Table->EndVersion(*a, address));
  EXPECT_FALSE(Table->EndVersion(*a, address));
  EXPECT_FALSE(Table->EndVersion(*b, address));
  EXPECT_EQ(Update(*b, address, 1, 5), -1);
  TTransaction::Finish(std::move(a), true);
  EXPECT_FALSE(Table->EndVersion(*b, address));  // committed now, still refused
  TTransaction::Finish(std::move(b), false);
}

// Updates against a unique index on ID, over the committed IDs 1 and 2.
TEST_F(RawTableTest, UpdateKeepingOrMovingAUniqueKey) {
  struct TCase {
    const char* Name;
    int64_t NewId;
    bool Succeeds;
  };
  const TCase cases[] = {
      {"keeps its key", 1, true},
      {"moves to a free key", 3, true},
      {"moves onto a live key", 2, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    OpenTable();
    auto writer = Storage->Begin();
    const int32_t one = Insert(*writer, 1);
    ASSERT_GT(Insert(*writer, 2), 0);
    TTransaction::Finish(std::move(writer), true);
    const size_t blocksBefore = UsedBlocks().size();

    auto t = Storage->Begin();
    const int32_t result = Update(*t, one, c.NewId, 99);
    EXPECT_EQ(result > 0, c.Succeeds);
    if (c.Succeeds) {
      EXPECT_FALSE(Sees(*t, one));
      EXPECT_TRUE(Sees(*t, result));
      EXPECT_EQ(UsedBlocks().size(), blocksBefore + 1);
    } else {
      EXPECT_TRUE(Sees(*t, one));
      EXPECT_EQ(UsedBlocks().size(), blocksBefore);
      EXPECT_EQ(t->WriteSetSize(), 0);
    }
    TTransaction::Finish(std::move(t), false);
    EXPECT_EQ(UsedBlocks().size(), blocksBefore);
    Table.Reset();
    std::remove(FileName().c_str());
  }
}

TEST_F(RawTableTest, UniqueKeyOfAnEndedVersionIsFreeOnlyOnceTheEndIsSeen) {
  OpenTable();
  auto writer = Storage->Begin();
  const int32_t address = Insert(*writer, 7);
  TTransaction::Finish(std::move(writer), true);

  auto old = Storage->Begin();  // snapshot before the deletion
  auto deleter = Storage->Begin();
  ASSERT_TRUE(Table->EndVersion(*deleter, address));
  auto other = Storage->Begin();
  EXPECT_EQ(Insert(*other, 7), -1);    // ended, but not committed
  EXPECT_GT(Insert(*deleter, 7), 0);   // its own ending is seen
  EXPECT_EQ(Insert(*deleter, 7), -1);  // and the new version holds the key
  TTransaction::Finish(std::move(deleter), false);
  EXPECT_EQ(Insert(*other, 7), -1);  // the rollback revived the original

  auto deleter2 = Storage->Begin();
  ASSERT_TRUE(Table->EndVersion(*deleter2, address));
  TTransaction::Finish(std::move(deleter2), true);
  EXPECT_EQ(Insert(*old, 7), -1);  // ended after its snapshot
  auto late = Storage->Begin();
  EXPECT_GT(Insert(*late, 7), 0);
  TTransaction::Finish(std::move(late), false);
  TTransaction::Finish(std::move(old), false);
  TTransaction::Finish(std::move(other), false);
}

TEST_F(RawTableTest, NestedChangesCommitIntoTheParent) {
  OpenTable();
  auto parent = Storage->Begin();
  const int32_t parents = Insert(*parent, 1);
  auto nested = TTransaction::Nested(parent);
  const int32_t nesteds = Insert(*nested, 2);
  EXPECT_TRUE(Sees(*nested, parents));
  EXPECT_FALSE(Sees(*parent, nesteds));
  // A nested deletion of the parent's insertion is a stamp until the nested
  // transaction commits, and then the version is gone.
  EXPECT_TRUE(Table->EndVersion(*nested, parents));
  EXPECT_EQ(UsedIds(), (std::vector<int64_t>{1, 2}));
  EXPECT_TRUE(Sees(*parent, parents));
  TTransaction::Finish(std::move(nested), true);
  EXPECT_EQ(UsedIds(), std::vector<int64_t>{2});
  EXPECT_TRUE(Sees(*parent, nesteds));
  EXPECT_EQ(UsedBlocks()[0].Beg, parent->WriteStamp());
  EXPECT_EQ(parent->WriteSetSize(), 1);
  EXPECT_EQ(Storage->Mgr().LastCommitted(), kLast);  // a nested commit takes no time

  TTransaction::Finish(std::move(parent), false);
  EXPECT_TRUE(UsedBlocks().empty());
}

TEST_F(RawTableTest, RestartUndoesUncommittedWork) {
  OpenTable();
  auto writer = Storage->Begin();
  const int32_t kept = Insert(*writer, 1);
  ASSERT_GT(Insert(*writer, 2), 0);
  TTransaction::Finish(std::move(writer), true);

  // A transaction left live at the "crash": its deletion and insertion are
  // in the file.
  auto open = Storage->Begin();
  ASSERT_TRUE(Table->EndVersion(*open, kept));
  ASSERT_GT(Insert(*open, 3), 0);
  const std::vector<TBlock> before = UsedBlocks();
  ASSERT_EQ(before.size(), 3u);
  TTransaction::Finish(std::move(open), false);
  // Put the blocks back as the live transaction had left them.
  std::string bytes = test::ReadWholeFile(FileName());
  Table.Reset();
  for (const TBlock& block : before) {
    auto* p = reinterpret_cast<unsigned char*>(bytes.data()) + block.Number * kBlockSize;
    EncodeInt32(p, 1);
    EncodeInt64(p + 4, block.Beg);
    EncodeInt64(p + 12, block.End);
    EncodeInt32(p + 20, static_cast<int32_t>(block.Id));
  }
  test::WriteWholeFile(FileName(), bytes);

  Restart();
  EXPECT_EQ(UsedIds(), (std::vector<int64_t>{1, 2}));
  for (const TBlock& block : UsedBlocks()) EXPECT_EQ(block.End, 0);
}

TEST_F(RawTableTest, IndexesAreSharedByOrderAndBuiltFromTheFile) {
  OpenTable();
  auto writer = Storage->Begin();
  for (int64_t id : {5, 3, 9}) ASSERT_GT(Insert(*writer, id, 100 - id), 0);
  TTransaction::Finish(std::move(writer), true);
  EXPECT_EQ(Table->IndexCount(), 1);
  TTableIndex* unique = Table->FirstUniqueIndex();
  ASSERT_NE(unique, nullptr);
  EXPECT_EQ(unique->NextUnique(), nullptr);

  Ref<TTableIndex> same = Table->FindOrCreateIndex(*test::MakeOrder(*Declared, {1}, *IntOrder));
  EXPECT_EQ(same.Get(), unique);
  Ref<TTableIndex> byAge = Table->FindOrCreateIndex(*test::MakeOrder(*Declared, {2}, *IntOrder));
  EXPECT_NE(byAge.Get(), unique);
  EXPECT_FALSE(byAge->IsUnique());
  EXPECT_EQ(Table->IndexCount(), 2);
  EXPECT_EQ(Table->FindOrCreateIndex(*test::MakeOrder(*Declared, {2}, *IntOrder)).Get(),
            byAge.Get());
  // Another comparator object is another order.
  auto otherCompFunc = MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass);
  Ref<TTableIndex> other =
      Table->FindOrCreateIndex(*test::MakeOrder(*Declared, {2}, *otherCompFunc));
  EXPECT_NE(other.Get(), byAge.Get());
  EXPECT_EQ(Table->IndexCount(), 3);

  // The last key of each order; ID is key field 4.
  std::vector<unsigned char> key(static_cast<size_t>(unique->KeyRecordType().RecordSize()));
  ASSERT_TRUE(unique->ReadLastKey(key.data()));
  EXPECT_EQ(unique->KeyRecordType().FieldName(4), "ID");
  EXPECT_EQ(GetInt(unique->KeyRecordType(), key.data(), 4), 9);
  ASSERT_TRUE(byAge->ReadLastKey(key.data()));
  EXPECT_EQ(GetInt(byAge->KeyRecordType(), key.data(), 4), 97);  // AGE of ID 3
  EXPECT_EQ(TTableIndex::KeyBegTime(key.data()), kLast + 1);
  EXPECT_EQ(TTableIndex::KeyEndTime(key.data()), 0);
}

TEST_F(RawTableTest, UniqueListIsNewestFirstAndEmptyIndexHasNoLastKey) {
  OpenTable(false);
  EXPECT_EQ(Table->FirstUniqueIndex(), nullptr);
  Table->AddUniqueIndex(*test::MakeOrder(*Declared, {1}, *IntOrder));
  TTableIndex* first = Table->FirstUniqueIndex();
  Table->AddUniqueIndex(*test::MakeOrder(*Declared, {2, 1}, *IntOrder));
  TTableIndex* second = Table->FirstUniqueIndex();
  EXPECT_NE(first, second);
  EXPECT_EQ(second->NextUnique(), first);
  EXPECT_EQ(second->ComparisonFieldCount(), 2);
  std::vector<unsigned char> key(static_cast<size_t>(first->KeyRecordType().RecordSize()));
  EXPECT_FALSE(first->ReadLastKey(key.data()));
}

TEST_F(RawTableTest, OversizedKeysAndRecordsAreRefused) {
  Declared = test::MakeRecordType({{"ID", 'I', 4}, {"NOTE", 'S', 300}});
  OpenTable(false);
  auto strings = MakeRef<TStringCompFunc>(kStringCompFuncClass, "abc");
  const int32_t liveBefore = TZObject::LiveObjectCount();
  // 256-byte pages cannot hold three keys with a 300-byte field.
  EXPECT_THROW(Table->AddUniqueIndex(*test::MakeOrder(*Declared, {2}, *strings)),
               EKeyTooLargeError);
  EXPECT_THROW(Table->FindOrCreateIndex(*test::MakeOrder(*Declared, {2}, *strings)),
               EReaderSyntaxError);
  EXPECT_EQ(Table->IndexCount(), 0);
  EXPECT_EQ(TZObject::LiveObjectCount(), liveBefore);
  Table.Reset();
  strings.Reset();

  // A record that no block can hold.
  auto huge = MakeRef<TRecordType>();
  huge->AddField("BLOB", MakeRef<TStringType>(kStringTypeClass, INT32_MAX - 18));
  huge->Freeze(true);
  const int32_t live = TZObject::LiveObjectCount();
  EXPECT_THROW(MakeRef<TRawTable>(FileName(), Storage->MgrRef(), huge), EReaderSyntaxError);
  EXPECT_EQ(TZObject::LiveObjectCount(), live);
}

TEST_F(RawTableTest, CleanCloseRecordsTheFreeListHead) {
  OpenTable();
  auto t = Storage->Begin();
  const int32_t a = Insert(*t, 1);
  ASSERT_GT(Insert(*t, 2), 0);
  ASSERT_TRUE(Table->EndVersion(*t, a));  // its own: the block is freed
  TTransaction::Finish(std::move(t), true);
  EXPECT_EQ(
      DecodeInt32(reinterpret_cast<const unsigned char*>(test::ReadWholeFile(FileName()).data())),
      -1);
  Table.Reset();
  EXPECT_EQ(
      DecodeInt32(reinterpret_cast<const unsigned char*>(test::ReadWholeFile(FileName()).data())),
      a);
}

}  // namespace
}  // namespace kor
