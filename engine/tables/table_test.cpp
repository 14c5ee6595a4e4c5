#include "engine/tables/table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/exceptions.h"

#include "tests/support/version_fixture.h"

namespace kor {
namespace {

using test::GetInt;
using test::SetInt;

// Declared record: ID INTEGER 4 (unique), AGE INTEGER 4, NAME STRING 8.
constexpr int32_t kId = 1;
constexpr int32_t kAge = 2;
constexpr int32_t kName = 3;

class TableTest : public test::TLeakCheckedTest {
 protected:
  void SetUp() override {
    TLeakCheckedTest::SetUp();
    Storage.emplace(10);
    Storage->Open();
    Declared = test::MakeRecordType({{"ID", 'I', 4}, {"AGE", 'I', 4}, {"NAME", 'S', 8}});
    IntOrder = MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass);
    ById = test::MakeOrder(*Declared, {kId}, *IntOrder);
    ByAgeId = test::MakeOrder(*Declared, {kAge, kId}, *IntOrder);
    Raw = MakeRef<TRawTable>(Storage->File("PEOPLE.DAT"), Storage->MgrRef(), Declared);
    Raw->AddUniqueIndex(*ById);
  }
  void TearDown() override {
    Raw.Reset();
    Storage.reset();
    ById.Reset();
    ByAgeId.Reset();
    Declared.Reset();
    IntOrder.Reset();
    ExpectNoLeak();
  }

  // A view of all fields (ID, AGE, NAME) unless told otherwise.
  Ref<TTable> View(TTransaction& t, const TRecordCompFunc& order,
                   std::vector<int32_t> fields = {kId, kAge, kName}) {
    return MakeRef<TTable>(Raw, fields, Ref<TTransaction>::Share(t), order);
  }
  static void Put(TTable& view, int64_t id, int64_t age) {
    SetInt(view.ViewRecordType(), view.ViewBuffer(), 1, id);
    SetInt(view.ViewRecordType(), view.ViewBuffer(), 2, age);
    test::SetText(view.ViewRecordType(), view.ViewBuffer(), 3, "n" + std::to_string(id));
  }
  // The ID of the current record, read through ReadCurrent; nullopt when
  // the view is not on a record.
  static std::optional<int64_t> CurrentId(TTable& view) {
    if (!view.ReadCurrent()) return std::nullopt;
    return GetInt(view.ViewRecordType(), view.ViewBuffer(), 1);
  }
  // Commits the records (id, age = 100 - id) in one transaction.
  void Commit(const std::vector<int64_t>& ids) {
    auto t = Storage->Begin();
    {
      Ref<TTable> view = View(*t, *ById);
      for (int64_t id : ids) {
        Put(*view, id, 100 - id);
        ASSERT_TRUE(view->Insert());
      }
    }
    TTransaction::Finish(std::move(t), true);
  }
  std::vector<int64_t> Walk(TTable& view) {
    std::vector<int64_t> ids;
    view.GoBeforeFirst();
    while (view.Next() && view.IsOnRecord()) ids.push_back(*CurrentId(view));
    return ids;
  }

  std::optional<test::TVersionStorage> Storage;
  Ref<TRecordType> Declared;
  Ref<TIntegerCompFunc> IntOrder;
  Ref<TRecordCompFunc> ById;
  Ref<TRecordCompFunc> ByAgeId;
  Ref<TRawTable> Raw;
};

TEST_F(TableTest, ViewRecordHoldsTheOpenedFieldsInOrder) {
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ById, {kName, kId});
  const TRecordType& type = view->ViewRecordType();
  ASSERT_EQ(type.FieldCount(), 2);
  EXPECT_EQ(type.FieldName(1), "NAME");
  EXPECT_EQ(type.FieldName(2), "ID");
  EXPECT_EQ(view->ViewRecordSize(), 8 + 4 + 1);
  EXPECT_EQ(view->OwnFieldCount(), 2);
  EXPECT_EQ(view->KeyFieldCount(), 1);
  EXPECT_EQ(t->OpenViews(), 1);
  EXPECT_EQ(&view->TableIndex(), Raw->FirstUniqueIndex());
  view.ReleaseLast();
  EXPECT_EQ(t->OpenViews(), 0);
  TTransaction::Finish(std::move(t), false);
}

TEST_F(TableTest, OperationsWithoutARecordRefuse) {
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ById);
  EXPECT_EQ(view->Status(), TTable::kNoPosition);
  EXPECT_FALSE(view->Next());
  EXPECT_FALSE(view->Prior());
  EXPECT_EQ(view->MoveBy(5), 0);
  EXPECT_FALSE(view->ReadCurrent());
  EXPECT_FALSE(view->Update());
  EXPECT_FALSE(view->Delete());
  EXPECT_EQ(view->Status(), TTable::kNoPosition);

  // An empty table: from before the first record straight to after the last.
  view->GoBeforeFirst();
  EXPECT_EQ(view->Status(), TTable::kBeforeFirst);
  EXPECT_TRUE(view->Next());
  EXPECT_EQ(view->Status(), TTable::kAfterLast);
  EXPECT_EQ(view->CurrentAddress(), -1);
  EXPECT_FALSE(view->ReadCurrent());
  EXPECT_FALSE(view->Update());
  EXPECT_FALSE(view->Delete());
  EXPECT_TRUE(view->Prior());
  EXPECT_EQ(view->Status(), TTable::kBeforeFirst);
  EXPECT_FALSE(view->SeekKey(2, true));  // one key field only
  EXPECT_FALSE(view->SeekKey(-1, true));
  EXPECT_EQ(view->Status(), TTable::kBeforeFirst);
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
}

TEST_F(TableTest, MoveByCountsTheStepThatRunsOffTheEnd) {
  Commit({1, 2, 3});
  struct TCase {
    const char* Start;  // "bof", "eof", "first", "last", "none"
    int32_t N;
    int32_t Steps;
    int32_t Status;
    std::optional<int64_t> Id;
  };
  const TCase cases[] = {
      {"bof", 10, 4, TTable::kAfterLast, std::nullopt},
      {"bof", 2, 2, 0, 2},
      {"last", 3, 1, TTable::kAfterLast, std::nullopt},
      {"last", 0, 0, 0, 3},
      {"eof", 1, 0, TTable::kAfterLast, std::nullopt},
      {"eof", -10, -4, TTable::kBeforeFirst, std::nullopt},
      {"eof", -1, -1, 0, 3},
      {"first", -1, -1, TTable::kBeforeFirst, std::nullopt},
      {"first", 2, 2, 0, 3},
      {"none", 3, 0, TTable::kNoPosition, std::nullopt},
  };
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ById);
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Start) + " " + std::to_string(c.N));
    const std::string start = c.Start;
    if (start == "bof" || start == "first") view->GoBeforeFirst();
    if (start == "eof" || start == "last") view->GoAfterLast();
    if (start == "first") view->Next();
    if (start == "last") view->Prior();
    if (start == "none") view->Unposition();
    EXPECT_EQ(view->MoveBy(c.N), c.Steps);
    EXPECT_EQ(view->Status(), c.Status);
    EXPECT_EQ(CurrentId(*view), c.Id);
  }
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
}

// IDs 10, 20, 30 and 15 committed; another live transaction has inserted 25
// and deleted 15, neither of which the view's transaction sees.
TEST_F(TableTest, SeekSkipsVersionsTheTransactionDoesNotSee) {
  Commit({10, 15, 20, 30});
  auto other = Storage->Begin();
  {
    Ref<TTable> view = View(*other, *ById);
    Put(*view, 25, 0);
    ASSERT_TRUE(view->Insert());
    Put(*view, 15, 0);
    ASSERT_TRUE(view->FindKey(1));
    ASSERT_TRUE(view->Delete());
    EXPECT_EQ(Walk(*view), (std::vector<int64_t>{10, 20, 25, 30}));
  }
  struct TCase {
    int64_t Key;
    int32_t Fields;
    bool Forward;
    std::optional<int64_t> Id;
    int32_t Status;
  };
  const TCase cases[] = {
      {12, 1, true, 15, 0},
      {15, 1, true, 15, 0},
      {21, 1, true, 30, 0},  // 25 is not seen
      {31, 1, true, std::nullopt, TTable::kAfterLast},
      {26, 1, false, 20, 0},
      {30, 1, false, 30, 0},
      {9, 1, false, std::nullopt, TTable::kBeforeFirst},
      {99, 0, true, 10, 0},  // no key fields: the first record
      {0, 0, false, 30, 0},  // and backward the last
  };
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ById);
  EXPECT_EQ(Walk(*view), (std::vector<int64_t>{10, 15, 20, 30}));
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Key) + (c.Forward ? " forward" : " backward"));
    Put(*view, c.Key, 0);
    EXPECT_TRUE(view->SeekKey(c.Fields, c.Forward));
    EXPECT_EQ(view->Status(), c.Status);
    EXPECT_EQ(CurrentId(*view), c.Id);
  }
  Put(*view, 20, 0);
  EXPECT_TRUE(view->FindKey(1));
  EXPECT_TRUE(view->MatchesKey(view->SearchKey(), 1));
  EXPECT_FALSE(view->MatchesKey(view->SearchKey(), 2));
  Put(*view, 25, 0);
  EXPECT_FALSE(view->FindKey(1));
  EXPECT_EQ(CurrentId(*view), 30);
  EXPECT_FALSE(view->MatchesKey(view->SearchKey(), 1));
  EXPECT_TRUE(view->MatchesKey(view->SearchKey(), 0));
  Put(*view, 31, 0);
  EXPECT_FALSE(view->FindKey(1));
  EXPECT_TRUE(view->FindKey(0));  // no key fields: any record matches
  EXPECT_EQ(CurrentId(*view), 10);
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
  TTransaction::Finish(std::move(other), false);
}

TEST_F(TableTest, SeekOnTheLeadingFieldsOfATwoFieldOrder) {
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ByAgeId);
  for (auto [id, age] : std::vector<std::pair<int64_t, int64_t>>{{1, 30}, {2, 20}, {3, 30}}) {
    Put(*view, id, age);
    ASSERT_TRUE(view->Insert());
    EXPECT_EQ(CurrentId(*view), id);
  }
  EXPECT_EQ(Walk(*view), (std::vector<int64_t>{2, 1, 3}));
  Put(*view, 99, 30);
  EXPECT_TRUE(view->FindKey(1));
  EXPECT_EQ(CurrentId(*view), 1);
  EXPECT_TRUE(view->SeekKey(1, false));
  EXPECT_EQ(CurrentId(*view), 3);
  Put(*view, 2, 30);
  EXPECT_TRUE(view->SeekKey(2, true));
  EXPECT_EQ(CurrentId(*view), 3);
  Put(*view, 2, 30);  // ReadCurrent filled the view record
  EXPECT_FALSE(view->FindKey(2));
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
}

TEST_F(TableTest, InsertStandsOnTheNewRecordAndADuplicateKeepsThePosition) {
  Commit({1, 5});
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ById);
  Put(*view, 3, 40);
  ASSERT_TRUE(view->Insert());
  EXPECT_EQ(CurrentId(*view), 3);
  const int32_t address = view->CurrentAddress();
  EXPECT_GT(address, 0);
  Put(*view, 5, 41);
  EXPECT_FALSE(view->Insert());
  EXPECT_EQ(view->CurrentAddress(), address);
  EXPECT_EQ(CurrentId(*view), 3);
  EXPECT_EQ(GetInt(view->ViewRecordType(), view->ViewBuffer(), 2), 40);
  EXPECT_EQ(test::GetText(view->ViewRecordType(), view->ViewBuffer(), 3), "n3");
  EXPECT_TRUE(view->Next());
  EXPECT_EQ(CurrentId(*view), 5);
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
}

TEST_F(TableTest, DeleteMovesToTheNextVisibleRecord) {
  Commit({1, 2, 3, 4});
  auto other = Storage->Begin();
  {
    Ref<TTable> view = View(*other, *ById);
    Put(*view, 3, 0);
    ASSERT_TRUE(view->FindKey(1));
    ASSERT_TRUE(view->Update());  // 3 ended by another transaction
  }
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ById);
  Put(*view, 2, 0);
  ASSERT_TRUE(view->FindKey(1));
  EXPECT_TRUE(view->Delete());
  EXPECT_EQ(CurrentId(*view), 3);
  EXPECT_FALSE(view->Delete());  // already ended by the other one
  EXPECT_EQ(CurrentId(*view), 3);
  EXPECT_TRUE(view->Next());
  EXPECT_TRUE(view->Delete());
  EXPECT_EQ(view->Status(), TTable::kAfterLast);
  EXPECT_EQ(Walk(*view), (std::vector<int64_t>{1, 3}));
  // The view's own insertion goes at once when deleted.
  Put(*view, 7, 0);
  ASSERT_TRUE(view->Insert());
  EXPECT_TRUE(view->Delete());
  EXPECT_EQ(view->Status(), TTable::kAfterLast);
  EXPECT_EQ(t->WriteSetSize(), 2);
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
  TTransaction::Finish(std::move(other), false);
}

TEST_F(TableTest, UpdateStandsOnTheNewVersion) {
  Commit({1, 2});
  auto t = Storage->Begin();
  Ref<TTable> view = View(*t, *ByAgeId);
  EXPECT_EQ(Walk(*view), (std::vector<int64_t>{2, 1}));  // ages 98, 99
  view->GoBeforeFirst();
  view->Next();
  Put(*view, 2, 100);
  ASSERT_TRUE(view->Update());
  EXPECT_EQ(CurrentId(*view), 2);
  EXPECT_EQ(GetInt(view->ViewRecordType(), view->ViewBuffer(), 2), 100);
  EXPECT_TRUE(view->Next());
  EXPECT_EQ(view->Status(), TTable::kAfterLast);
  EXPECT_EQ(Walk(*view), (std::vector<int64_t>{1, 2}));
  // Onto a key held by another record: refused, in place.
  view->GoBeforeFirst();
  view->Next();
  Put(*view, 2, 5);
  EXPECT_FALSE(view->Update());
  EXPECT_EQ(CurrentId(*view), 1);
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
}

TEST_F(TableTest, FieldsAViewDoesNotOpenAreNullInWhatItStores) {
  Commit({1});
  auto t = Storage->Begin();
  {
    Ref<TTable> partial = View(*t, *ById, {kId, kId});  // opened twice, no AGE or NAME
    EXPECT_EQ(partial->ViewRecordType().FieldCount(), 2);
    SetInt(partial->ViewRecordType(), partial->ViewBuffer(), 1, 2);
    SetInt(partial->ViewRecordType(), partial->ViewBuffer(), 2, 2);
    ASSERT_TRUE(partial->Insert());
    EXPECT_EQ(CurrentId(*partial), 2);
    EXPECT_EQ(GetInt(partial->ViewRecordType(), partial->ViewBuffer(), 2), 2);
    SetInt(partial->ViewRecordType(), partial->ViewBuffer(), 1, 1);
    SetInt(partial->ViewRecordType(), partial->ViewBuffer(), 2, 1);
    ASSERT_TRUE(partial->FindKey(1));
    ASSERT_TRUE(partial->Update());
  }
  Ref<TTable> view = View(*t, *ById);
  view->GoBeforeFirst();
  for (int64_t id : {1, 2}) {
    ASSERT_TRUE(view->Next());
    EXPECT_EQ(CurrentId(*view), id);
    EXPECT_EQ(GetInt(view->ViewRecordType(), view->ViewBuffer(), 2), std::nullopt);
    EXPECT_EQ(test::GetText(view->ViewRecordType(), view->ViewBuffer(), 3), std::nullopt);
  }
  view.ReleaseLast();
  TTransaction::Finish(std::move(t), false);
}

// Views of one transaction see each other's changes; a view whose record
// is ended through another loses its position, whatever its order.
TEST_F(TableTest, DeletingUnderOneViewUnpositionsAnotherOnTheRecord) {
  Commit({1, 2, 3});
  auto t = Storage->Begin();
  auto other = Storage->Begin();
  Ref<TTable> byId = View(*t, *ById);
  Ref<TTable> byAge = View(*t, *ByAgeId);
  Ref<TTable> onThree = View(*t, *ById);
  Ref<TTable> elsewhere = View(*other, *ById);
  Put(*byId, 2, 98);
  ASSERT_TRUE(byId->FindKey(1));
  Put(*byAge, 2, 98);
  ASSERT_TRUE(byAge->FindKey(2));
  Put(*elsewhere, 2, 0);
  ASSERT_TRUE(elsewhere->FindKey(1));
  Put(*onThree, 3, 0);
  ASSERT_TRUE(onThree->FindKey(1));
  EXPECT_EQ(CurrentId(*byAge), 2);

  EXPECT_TRUE(byId->Delete());
  EXPECT_EQ(CurrentId(*byId), 3);
  EXPECT_EQ(byAge->Status(), TTable::kNoPosition);
  EXPECT_FALSE(byAge->ReadCurrent());
  EXPECT_FALSE(byAge->Next());
  EXPECT_EQ(CurrentId(*onThree), 3);
  EXPECT_EQ(CurrentId(*elsewhere), 2);  // another transaction still sees it
  EXPECT_EQ(Walk(*byAge), (std::vector<int64_t>{3, 1}));

  // An insertion of this transaction removed through another view: the
  // entry goes, and the views on it with it.
  Put(*byId, 9, 50);
  ASSERT_TRUE(byId->Insert());
  Put(*byAge, 9, 50);
  ASSERT_TRUE(byAge->FindKey(2));
  ASSERT_TRUE(byId->Delete());
  EXPECT_EQ(byAge->Status(), TTable::kNoPosition);
  EXPECT_FALSE(byAge->Delete());
  EXPECT_FALSE(byAge->Update());

  for (Ref<TTable>* view : {&byId, &byAge, &onThree, &elsewhere}) view->ReleaseLast();
  TTransaction::Finish(std::move(t), true);
  TTransaction::Finish(std::move(other), false);
}

// Definitions that cannot be built are refused before anything is made.
TEST_F(TableTest, ViewsThatCannotBeBuiltAreRefused) {
  auto wide = test::MakeRecordType({{"ID", 'I', 4}, {"NOTE", 'S', 300}});
  auto wideRaw = MakeRef<TRawTable>(Storage->File("WIDE.DAT"), Storage->MgrRef(), wide);
  auto strings = MakeRef<TStringCompFunc>(kStringCompFuncClass, "abc");
  auto byNote = test::MakeOrder(*wide, {2}, *strings);
  auto t = Storage->Begin();
  struct TCase {
    const char* Name;
    std::vector<int32_t> Fields;
    bool Wide;
  };
  const TCase cases[] = {
      {"order by a field not opened", {kAge, kName}, false}, {"field number 0", {kId, 0}, false},
      {"field number past the last", {kId, 4}, false},       {"no fields", {}, false},
      {"keys too large for a page", {1, 2}, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const int32_t live = TZObject::LiveObjectCount();
    const int32_t indexes = Raw->IndexCount() + wideRaw->IndexCount();
    EXPECT_THROW(MakeRef<TTable>(c.Wide ? wideRaw : Raw, c.Fields, t, c.Wide ? *byNote : *ById),
                 EReaderSyntaxError);
    EXPECT_EQ(TZObject::LiveObjectCount(), live);
    EXPECT_EQ(t->OpenViews(), 0);
    EXPECT_EQ(Raw->IndexCount() + wideRaw->IndexCount(), indexes);
  }
  TTransaction::Finish(std::move(t), false);
  byNote.Reset();
  strings.Reset();
  wideRaw.Reset();
}

}  // namespace
}  // namespace kor
