#include "engine/storage/transaction.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/containers.h"

#include "engine/storage/version_store.h"
#include "engine/tables/raw_table.h"
#include "engine/tables/table.h"

#include "tests/support/version_fixture.h"

namespace kor {
namespace {

using test::GetInt;
using test::SetInt;

constexpr TTimeStamp kLast = 10;

// A version store that records what the transactions ask of it and answers
// as scripted.
class TRecordingStore final : public TVersionStore {
 public:
  struct TCall {
    char Op;  // 'C' commit, 'R' rollback, 'P' purge
    int32_t Address;
    int64_t Time;
    bool operator==(const TCall&) const = default;
  };

  TCommitResult CommitRecord(TTransaction& /*transaction*/, int32_t address,
                             int64_t commitTime) override {
    Calls.push_back({'C', address, commitTime});
    auto result = CommitResults.find(address);
    return result == CommitResults.end() ? kInsertCommitted : result->second;
  }
  void RollbackRecord(TTransaction& /*transaction*/, int32_t address) override {
    Calls.push_back({'R', address, 0});
  }
  bool PurgeIfExpired(int32_t address) override {
    Calls.push_back({'P', address, 0});
    return StillNeeded.count(address) != 0;
  }

  std::vector<TCall> Calls;
  std::map<int32_t, TCommitResult> CommitResults;
  std::map<int32_t, bool> StillNeeded;
};

class TransactionTest : public test::TLeakCheckedTest {
 protected:
  void SetUp() override {
    TLeakCheckedTest::SetUp();
    Storage.emplace(kLast);
    Storage->Open();
    Store = Storage->Mgr().RegisterStore(Recorder);
  }
  void TearDown() override {
    Storage->Mgr().UnregisterStore(Store);
    Storage.reset();
    ExpectNoLeak();
  }

  std::optional<test::TVersionStorage> Storage;
  TRecordingStore Recorder;
  int32_t Store = 0;
};

// Rules 1 to 3 of visibility, for the transactions A (number 1, started
// at 10), its nested N and N's nested NN, and B (number 2).
TEST_F(TransactionTest, VisibilityOfStamps) {
  auto a = Storage->Begin();
  auto b = Storage->Begin();
  auto n = TTransaction::Nested(a);
  auto nn = TTransaction::Nested(n);
  struct TCase {
    const char* Who;
    TTransaction* T;
    TTimeStamp Stamp;
    bool Visible;
  };
  const TCase cases[] = {
      {"A", a.Get(), 0, false},
      {"A", a.Get(), 1, true},
      {"A", a.Get(), kLast, true},
      {"A", a.Get(), kLast + 1, false},
      {"A", a.Get(), MakeWriteStamp(1, 0), true},
      {"A", a.Get(), MakeWriteStamp(1, 1), false},
      {"A", a.Get(), MakeWriteStamp(2, 0), false},
      {"N", n.Get(), MakeWriteStamp(1, 0), true},
      {"N", n.Get(), MakeWriteStamp(1, 1), true},
      {"N", n.Get(), MakeWriteStamp(1, 2), false},
      {"N", n.Get(), kLast, true},
      {"N", n.Get(), kLast + 1, false},
      {"NN", nn.Get(), MakeWriteStamp(1, 2), true},
      {"NN", nn.Get(), MakeWriteStamp(2, 0), false},
      {"B", b.Get(), MakeWriteStamp(2, 0), true},
      {"B", b.Get(), MakeWriteStamp(1, 0), false},
      {"B", b.Get(), 0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Who) + " " + std::to_string(c.Stamp));
    EXPECT_EQ(c.T->IsVisible(c.Stamp), c.Visible);
  }
  EXPECT_TRUE(a->IsRecordVisible(5, 0));
  EXPECT_TRUE(a->IsRecordVisible(5, kLast + 1));
  EXPECT_FALSE(a->IsRecordVisible(5, MakeWriteStamp(1, 0)));
  EXPECT_TRUE(b->IsRecordVisible(5, MakeWriteStamp(1, 0)));
  EXPECT_FALSE(b->IsRecordVisible(MakeWriteStamp(1, 0), 0));
  EXPECT_EQ(nn->WriteStamp(), MakeWriteStamp(1, 2));
  EXPECT_EQ(nn->StartTime(), kLast);
  EXPECT_TRUE(n->HasActiveChild());
  TTransaction::Finish(std::move(nn), false);
  EXPECT_FALSE(n->HasActiveChild());
  TTransaction::Finish(std::move(n), false);
  TTransaction::Finish(std::move(b), false);
  TTransaction::Finish(std::move(a), false);
}

// Session handles (a TObjectHolder) and transaction numbers are both
// reused most recently freed first.
TEST_F(TransactionTest, HandlesAndNumbersAreReused) {
  auto holder = MakeRef<TObjectHolder>();
  auto begin = [&] { return holder->Add(Storage->Begin()); };
  auto finish = [&](int32_t handle) {
    Ref<TTransaction> t = holder->GetAs<TTransaction>(handle);
    holder->Remove(handle);
    TTransaction::Finish(std::move(t), true);
  };
  auto number = [&](int32_t handle) {
    return -StampHigh(holder->GetAs<TTransaction>(handle)->WriteStamp());
  };
  const int32_t a = begin();
  const int32_t b = begin();
  const int32_t c = begin();
  EXPECT_EQ((std::vector<int32_t>{a, b, c}), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ((std::vector<int32_t>{number(a), number(b), number(c)}),
            (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(Storage->Mgr().LiveTransactionCount(), 3);
  finish(a);
  finish(c);
  const int32_t d = begin();
  EXPECT_EQ(d, 3);
  EXPECT_EQ(number(d), 3);
  const int32_t e = begin();
  EXPECT_EQ(e, 1);
  EXPECT_EQ(number(e), 1);
  const int32_t f = begin();
  EXPECT_EQ(f, 4);
  EXPECT_EQ(number(f), 4);
  for (int32_t handle : {b, d, e, f}) finish(handle);
  EXPECT_EQ(Storage->Mgr().LiveTransactionCount(), 0);
  holder.ReleaseLast();
}

TEST_F(TransactionTest, CommitWithoutChangesTakesNoTime) {
  auto a = Storage->Begin();
  TTransaction::Finish(std::move(a), true);
  auto b = Storage->Begin();
  b->AddToWriteSet(Store, 4);
  b->RemoveFromWriteSet(Store, 4);
  TTransaction::Finish(std::move(b), true);
  EXPECT_EQ(Storage->Mgr().LastCommitted(), kLast);
  EXPECT_EQ(Storage->CounterInFile(), kLast);
  EXPECT_TRUE(Recorder.Calls.empty());
}

TEST_F(TransactionTest, CommitStampsInKeyOrderAndQueuesEndingsForPurge) {
  auto reader = Storage->Begin();  // holds the snapshot at 10
  auto writer = Storage->Begin();
  for (int32_t address : {9, 2, 5}) writer->AddToWriteSet(Store, address);
  EXPECT_EQ(writer->WriteSetSize(), 3);
  Recorder.CommitResults[5] = TVersionStore::kEndCommitted;
  Recorder.CommitResults[9] = TVersionStore::kEndCommitted;
  // The writer's end purges in commit order and stops at the first version
  // the reader still needs.
  Recorder.StillNeeded[5] = true;
  TTransaction::Finish(std::move(writer), true);
  using TCall = TRecordingStore::TCall;
  EXPECT_EQ(Recorder.Calls,
            (std::vector<TCall>{
                {'C', 2, kLast + 1}, {'C', 5, kLast + 1}, {'C', 9, kLast + 1}, {'P', 5, 0}}));
  EXPECT_EQ(Storage->Mgr().LastCommitted(), kLast + 1);
  EXPECT_EQ(Storage->CounterInFile(), kLast + 1);
  EXPECT_EQ(Storage->Mgr().OldestSnapshot(), kLast);
  EXPECT_EQ(Storage->Mgr().PurgeQueueLength(), 2);

  auto later = Storage->Begin();
  EXPECT_EQ(later->StartTime(), kLast + 1);
  Recorder.Calls.clear();
  Recorder.StillNeeded.clear();
  TTransaction::Finish(std::move(reader), false);
  EXPECT_EQ(Recorder.Calls, (std::vector<TCall>{{'P', 5, 0}, {'P', 9, 0}}));
  EXPECT_EQ(Storage->Mgr().OldestSnapshot(), kLast + 1);
  EXPECT_EQ(Storage->Mgr().PurgeQueueLength(), 0);
  TTransaction::Finish(std::move(later), false);
}

TEST_F(TransactionTest, NestedCommitMovesPairsIntoTheParent) {
  auto parent = Storage->Begin();
  parent->AddToWriteSet(Store, 7);  // the parent's own insertion
  auto nested = TTransaction::Nested(parent);
  for (int32_t address : {3, 4, 7}) nested->AddToWriteSet(Store, address);
  Recorder.CommitResults[4] = TVersionStore::kEndCommitted;
  Recorder.CommitResults[7] = TVersionStore::kVersionRemoved;
  const TTimeStamp parentStamp = parent->WriteStamp();
  TTransaction::Finish(std::move(nested), true);
  using TCall = TRecordingStore::TCall;
  EXPECT_EQ(
      Recorder.Calls,
      (std::vector<TCall>{{'C', 3, parentStamp}, {'C', 4, parentStamp}, {'C', 7, parentStamp}}));
  EXPECT_EQ(parent->WriteSetSize(), 2);
  EXPECT_EQ(Storage->Mgr().LastCommitted(), kLast);
  EXPECT_EQ(Storage->Mgr().PurgeQueueLength(), 0);

  Recorder.Calls.clear();
  TTransaction::Finish(std::move(parent), false);
  EXPECT_EQ(Recorder.Calls, (std::vector<TCall>{{'R', 3, 0}, {'R', 4, 0}}));
  EXPECT_EQ(Storage->Mgr().LastCommitted(), kLast);
}

// ---- Scenarios over real tables ----
//
// Transactions are named by letters; each step opens a view of the table
// (ID INTEGER 4 with a unique index, VAL INTEGER 4, ordered by ID) on its
// transaction, does one thing and closes the view again.

enum class TOp {
  Begin,
  Nest,
  Commit,
  Rollback,
  Insert,
  Delete,
  Update,
  Sees,
  Blocks,
  WriteSet,
  Purge,
  Counter
};

struct TStep {
  TOp Op = TOp::Begin;
  char Tx = 0;
  char Parent = 0;
  int64_t Id = 0;
  int64_t NewId = 0;
  int64_t Val = 0;
  bool Ok = true;
  std::string Visible;  // Sees: "id=val,id=val" in ID order
  int64_t Count = 0;    // Blocks, WriteSet, Purge, Counter
};

TStep Step(TOp op, char tx, int64_t id = 0, int64_t newId = 0, int64_t val = 0, bool ok = true) {
  TStep step;
  step.Op = op;
  step.Tx = tx;
  step.Id = id;
  step.NewId = newId;
  step.Val = val;
  step.Ok = ok;
  return step;
}
TStep Begin(char tx) { return Step(TOp::Begin, tx); }
TStep Nest(char tx, char parent) {
  TStep step = Step(TOp::Nest, tx);
  step.Parent = parent;
  return step;
}
TStep Commit(char tx) { return Step(TOp::Commit, tx); }
TStep Rollback(char tx) { return Step(TOp::Rollback, tx); }
TStep Insert(char tx, int64_t id, int64_t val, bool ok = true) {
  return Step(TOp::Insert, tx, id, 0, val, ok);
}
TStep Delete(char tx, int64_t id, bool ok = true) { return Step(TOp::Delete, tx, id, 0, 0, ok); }
TStep Update(char tx, int64_t id, int64_t newId, int64_t val, bool ok = true) {
  return Step(TOp::Update, tx, id, newId, val, ok);
}
TStep Sees(char tx, std::string visible) {
  TStep step = Step(TOp::Sees, tx);
  step.Visible = std::move(visible);
  return step;
}
TStep Count(TOp op, int64_t count, char tx = 0) {
  TStep step = Step(op, tx);
  step.Count = count;
  return step;
}
TStep Blocks(int64_t count) { return Count(TOp::Blocks, count); }
TStep WriteSet(char tx, int64_t count) { return Count(TOp::WriteSet, count, tx); }
TStep Purge(int64_t count) { return Count(TOp::Purge, count); }
TStep Counter(int64_t value) { return Count(TOp::Counter, value); }

struct TScenario {
  const char* Name;
  std::vector<TStep> Steps;
};

// Committed before every scenario: ID 1 = 10 and ID 2 = 20 (time 11).
const TTimeStamp kSetupTime = kLast + 1;

const TScenario kScenarios[] = {
    {"a snapshot sees what was committed at its start",
     {Begin('A'), Begin('B'), Insert('B', 3, 30), Sees('A', "1=10,2=20"),
      Sees('B', "1=10,2=20,3=30"), Commit('B'), Sees('A', "1=10,2=20"), Begin('C'),
      Sees('C', "1=10,2=20,3=30"), Commit('A'), Commit('C'), Counter(kSetupTime + 1)}},
    {"deletions by others are seen only after their commit and own snapshot",
     {Begin('A'), Begin('B'), Delete('A', 1), Sees('A', "2=20"), Sees('B', "1=10,2=20"),
      Commit('A'), Sees('B', "1=10,2=20"), Begin('C'), Sees('C', "2=20"), Commit('B'),
      Commit('C')}},
    {"the first writer wins on ending",
     {Begin('A'), Begin('B'), Delete('A', 1), Delete('B', 1, false), Update('B', 1, 1, 11, false),
      Commit('A'), Delete('B', 1, false), Sees('B', "1=10,2=20"), Rollback('B'), Begin('C'),
      Delete('C', 1, false), Sees('C', "2=20"), Commit('C')}},
    {"the first writer wins on unique keys, even unseen",
     {Begin('A'), Begin('B'), Insert('A', 3, 30), Insert('B', 3, 31, false), Sees('B', "1=10,2=20"),
      Rollback('A'), Insert('B', 3, 31), Commit('B'), Begin('C'), Sees('C', "1=10,2=20,3=31"),
      Commit('C')}},
    {"a key ended by a later commit stays taken for an older snapshot",
     {Begin('A'), Begin('B'), Delete('A', 2), Commit('A'), Insert('B', 2, 22, false), Begin('C'),
      Insert('C', 2, 23), Commit('C'), Rollback('B'), Begin('D'), Sees('D', "1=10,2=23"),
      Commit('D')}},
    {"a nested commit goes into the parent",
     {Begin('A'), Nest('N', 'A'), Insert('N', 3, 30), Sees('A', "1=10,2=20"),
      Sees('N', "1=10,2=20,3=30"), Commit('N'), Sees('A', "1=10,2=20,3=30"), WriteSet('A', 1),
      Counter(kSetupTime), Begin('B'), Sees('B', "1=10,2=20"), Commit('A'), Begin('C'),
      Sees('C', "1=10,2=20,3=30"), Commit('B'), Commit('C'), Counter(kSetupTime + 1)}},
    {"a parent's rollback undoes its nested commit",
     {Begin('A'), Nest('N', 'A'), Insert('N', 3, 30), Delete('N', 1), Commit('N'),
      Sees('A', "2=20,3=30"), Rollback('A'), Begin('B'), Sees('B', "1=10,2=20"), Commit('B'),
      Blocks(2)}},
    {"a nested rollback leaves the parent as it was",
     {Begin('A'), Insert('A', 3, 30), Nest('N', 'A'), Delete('N', 3), Update('N', 2, 2, 21),
      Sees('N', "1=10,2=21"), Rollback('N'), Sees('A', "1=10,2=20,3=30"), WriteSet('A', 1),
      Commit('A'), Begin('B'), Sees('B', "1=10,2=20,3=30"), Commit('B')}},
    {"a nested delete of the parent's insertion removes it at the nested commit",
     {Begin('A'), Insert('A', 3, 30), Nest('N', 'A'), Delete('N', 3), Sees('A', "1=10,2=20,3=30"),
      Sees('N', "1=10,2=20"), Blocks(3), Commit('N'), Blocks(2), WriteSet('A', 0),
      Sees('A', "1=10,2=20"), Commit('A'), Counter(kSetupTime)}},
    {"a nested transaction cannot take a key its parent holds",
     {Begin('A'), Insert('A', 3, 30), Nest('N', 'A'), Insert('N', 3, 31, false), Delete('N', 3),
      Insert('N', 3, 32), Commit('N'), Sees('A', "1=10,2=20,3=32"), Commit('A')}},
    {"insert then delete leaves nothing",
     {Begin('A'), Insert('A', 3, 30), Blocks(3), WriteSet('A', 1), Delete('A', 3), Blocks(2),
      WriteSet('A', 0), Commit('A'), Counter(kSetupTime)}},
    {"an update keeping a unique key",
     {Begin('A'), Update('A', 1, 1, 11), Sees('A', "1=11,2=20"), Begin('B'), Sees('B', "1=10,2=20"),
      Update('B', 1, 1, 12, false), Commit('A'), Sees('B', "1=10,2=20"), Commit('B'), Begin('C'),
      Sees('C', "1=11,2=20"), Commit('C')}},
    {"an update moving a unique key, onto a held one and a free one",
     {Begin('A'), Update('A', 1, 2, 11, false), Sees('A', "1=10,2=20"), WriteSet('A', 0),
      Update('A', 1, 3, 13), Sees('A', "2=20,3=13"), Begin('B'), Insert('B', 3, 99, false),
      Insert('B', 1, 99, false), Commit('A'), Rollback('B'), Begin('C'), Insert('C', 1, 14),
      Sees('C', "1=14,2=20,3=13"), Commit('C')}},
    {"an update twice within one transaction leaves one new version",
     {Begin('A'), Update('A', 1, 1, 11), Update('A', 1, 1, 12), Blocks(3), WriteSet('A', 2),
      Commit('A'), Purge(0), Blocks(2), Begin('B'), Sees('B', "1=12,2=20"), Commit('B')}},
    {"ended versions are purged once the oldest reader ends",
     {Begin('R'), Begin('S'), Begin('A'), Delete('A', 1), Update('A', 2, 2, 21), Commit('A'),
      Blocks(3), Purge(2), Sees('R', "1=10,2=20"), Commit('R'), Purge(2), Blocks(3),
      Sees('S', "1=10,2=20"), Rollback('S'), Purge(0), Blocks(1), Begin('B'), Sees('B', "2=21"),
      Commit('B')}},
    {"three transactions, three snapshots",
     {Begin('A'), Insert('A', 3, 30), Commit('A'), Begin('B'), Delete('B', 3), Begin('C'),
      Update('C', 3, 3, 33, false), Commit('B'), Begin('D'), Sees('C', "1=10,2=20,3=30"),
      Sees('D', "1=10,2=20"), Insert('D', 3, 34), Insert('C', 4, 40), Commit('C'), Commit('D'),
      Begin('E'), Sees('E', "1=10,2=20,3=34,4=40"), Commit('E')}},
};

class TransactionScenarioTest : public test::TLeakCheckedTest {
 protected:
  void SetUp() override {
    TLeakCheckedTest::SetUp();
    Storage.emplace(kLast);
    Storage->Open();
    Declared = test::MakeRecordType({{"ID", 'I', 4}, {"VAL", 'I', 4}});
    IntOrder = MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass);
    ById = test::MakeOrder(*Declared, {1}, *IntOrder);
  }
  void TearDown() override {
    Table.Reset();
    Storage.reset();
    ById.Reset();
    Declared.Reset();
    IntOrder.Reset();
    ExpectNoLeak();
  }

  Ref<TTable> View(char tx) {
    const int32_t fields[] = {1, 2};
    return MakeRef<TTable>(Table, fields, Transactions.at(tx), *ById);
  }
  bool Find(TTable& view, int64_t id) {
    SetInt(view.ViewRecordType(), view.ViewBuffer(), 1, id);
    return view.FindKey(1);
  }
  std::string Visible(char tx) {
    Ref<TTable> view = View(tx);
    std::string seen;
    view->GoBeforeFirst();
    while (view->Next() && view->IsOnRecord()) {
      EXPECT_TRUE(view->ReadCurrent());
      const TRecordType& type = view->ViewRecordType();
      if (!seen.empty()) seen += ",";
      seen += std::to_string(*GetInt(type, view->ViewBuffer(), 1)) + "=" +
              std::to_string(*GetInt(type, view->ViewBuffer(), 2));
    }
    return seen;
  }
  // Stored versions, whatever their times: the entries of the unique index.
  int64_t UsedBlocks() {
    auto cursor = MakeRef<TIndexPtr>(Ref<TIndex>::Share(Table->FirstUniqueIndex()->Index()));
    int64_t used = 0;
    cursor->GoBeforeFirst();
    for (cursor->Next(); !cursor->IsEOF(); cursor->Next()) ++used;
    return used;
  }
  void Finish(char tx, bool commit) {
    Ref<TTransaction> t = std::move(Transactions.at(tx));
    Transactions.erase(tx);
    TTransaction::Finish(std::move(t), commit);
  }

  void Run(const TStep& step) {
    switch (step.Op) {
      case TOp::Begin:
        Transactions[step.Tx] = Storage->Begin();
        return;
      case TOp::Nest:
        Transactions[step.Tx] = TTransaction::Nested(Transactions.at(step.Parent));
        return;
      case TOp::Commit:
      case TOp::Rollback:
        Finish(step.Tx, step.Op == TOp::Commit);
        return;
      case TOp::Insert: {
        Ref<TTable> view = View(step.Tx);
        SetInt(view->ViewRecordType(), view->ViewBuffer(), 1, step.Id);
        SetInt(view->ViewRecordType(), view->ViewBuffer(), 2, step.Val);
        EXPECT_EQ(view->Insert(), step.Ok);
        return;
      }
      case TOp::Delete: {
        Ref<TTable> view = View(step.Tx);
        EXPECT_EQ(Find(*view, step.Id) && view->Delete(), step.Ok);
        return;
      }
      case TOp::Update: {
        Ref<TTable> view = View(step.Tx);
        ASSERT_TRUE(Find(*view, step.Id));
        SetInt(view->ViewRecordType(), view->ViewBuffer(), 1, step.NewId);
        SetInt(view->ViewRecordType(), view->ViewBuffer(), 2, step.Val);
        EXPECT_EQ(view->Update(), step.Ok);
        return;
      }
      case TOp::Sees:
        EXPECT_EQ(Visible(step.Tx), step.Visible);
        return;
      case TOp::Blocks:
        EXPECT_EQ(UsedBlocks(), step.Count);
        return;
      case TOp::WriteSet:
        EXPECT_EQ(Transactions.at(step.Tx)->WriteSetSize(), step.Count);
        return;
      case TOp::Purge:
        EXPECT_EQ(Storage->Mgr().PurgeQueueLength(), step.Count);
        return;
      case TOp::Counter:
        EXPECT_EQ(Storage->CounterInFile(), step.Count);
        EXPECT_EQ(Storage->Mgr().LastCommitted(), step.Count);
        return;
    }
  }

  std::optional<test::TVersionStorage> Storage;
  Ref<TRecordType> Declared;
  Ref<TIntegerCompFunc> IntOrder;
  Ref<TRecordCompFunc> ById;
  Ref<TRawTable> Table;
  std::map<char, Ref<TTransaction>> Transactions;
};

TEST_F(TransactionScenarioTest, Scenarios) {
  for (const TScenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.Name);
    Storage.emplace(kLast);
    Storage->Open();
    Table = MakeRef<TRawTable>(Storage->File("T.DAT"), Storage->MgrRef(), Declared);
    Table->AddUniqueIndex(*ById);
    for (const TStep& step : {Begin('S'), Insert('S', 1, 10), Insert('S', 2, 20), Commit('S')}) {
      Run(step);
    }
    int index = 0;
    for (const TStep& step : scenario.Steps) {
      SCOPED_TRACE("step " + std::to_string(++index));
      Run(step);
    }
    EXPECT_TRUE(Transactions.empty());
    while (!Transactions.empty()) {
      // Nested ones first: they are named after their parents' letters.
      auto nested = Transactions.begin();
      for (auto it = Transactions.begin(); it != Transactions.end(); ++it) {
        if (!it->second->HasActiveChild()) nested = it;
      }
      Finish(nested->first, false);
    }
    EXPECT_EQ(Storage->Mgr().PurgeQueueLength(), 0);
    Table.Reset();
    Storage.reset();
  }
}

}  // namespace
}  // namespace kor
