#include "engine/protocol/protocol_executor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/base/exceptions.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/stream_buffer.h"

#include "engine/protocol/protocol_codes.h"

#include "tests/support/database_fixture.h"
#include "tests/support/page_hog.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wire.h"

// The protocol byte for byte: each scenario is a list of requests with the
// exact reply each one gets, run on a fresh engine through an executor over
// in-memory pipes, as the in-process session builds it.

namespace kor {
namespace {

using test::Int;
using test::Int64;
using test::Ints;
using test::Record;
using test::Str;

// Two tables: ITEMS (ID INTEGER 4 unique, NAME STRING 6, PRICE DOUBLE) and
// ORDERS (ITEM INTEGER 4, QTY INTEGER 2); comparators 1 BYNUMBER and
// 2 BYNAME; counters 1 BATCH (at 10) and 2 ITEMS (made for the ID field).
constexpr char kShop[] =
    "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
    "COMPFUNC BYNAME STRINGCOMPFUNC 'aAbBcC'\n"
    "TABLE ITEMS FILENAME 'ITEMS.TBL'\n"
    "  RECORDTYPE FIELD ID INTEGER 4 FIELD NAME STRING 6 FIELD PRICE DOUBLE END\n"
    "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
    "ENDTABLE\n"
    "TABLE ORDERS FILENAME 'ORDERS.TBL'\n"
    "  RECORDTYPE FIELD ITEM INTEGER 4 FIELD QTY INTEGER 2 END\n"
    "  UNIQUEINDEXES END\n"
    "ENDTABLE\n"
    "END\n";
constexpr char kCounters[] = "TIME $1\r\nBATCH $A\r\n";

const std::string kOk = Int(0);

// ---- Requests ----

std::string Begin() { return Int(3); }
std::string BeginNested(int32_t parent) { return Ints({4, parent}); }
std::string Commit(int32_t tx) { return Ints({5, tx}); }
std::string Rollback(int32_t tx) { return Ints({6, tx}); }
// A view of ITEMS showing ID and NAME, in ID order.
std::string OpenItems(int32_t tx) { return Ints({7, 1, 2, 1, 2, tx, 1, 1, 1}); }
std::string CloseView(int32_t view) { return Ints({8, view}); }
std::string Status(int32_t view) { return Ints({9, view}); }
std::string Position(int32_t view, int32_t mode) { return Ints({10, view, mode}); }
std::string MoveBy(int32_t view, int32_t n) { return Ints({16, view, n}); }
std::string FetchForward(int32_t view, int32_t n) { return Ints({17, view, n}); }
std::string FetchBackward(int32_t view, int32_t n) { return Ints({18, view, n}); }
std::string FetchCurrent(int32_t view) { return Ints({19, view}); }

// An ITEMS view record (ID, NAME).
std::string Item(int32_t id, const std::string& name) { return Record().Int(id, 4).Str(name, 6); }
std::string Insert(int32_t view, const std::string& record) { return Ints({14, view}) + record; }
std::string Update(int32_t view, const std::string& record) { return Ints({15, view}) + record; }
std::string SeekForward(int32_t view, const std::string& record, int32_t k) {
  return Ints({11, view}) + record + Int(k);
}
std::string SeekBackward(int32_t view, const std::string& record, int32_t k) {
  return Ints({12, view}) + record + Int(k);
}

// A fetched record in a reply: status 0, then the record.
std::string Fetched(const std::string& record) { return Int(0) + record; }

struct TExchange {
  std::string Request;
  std::string Reply;
  // The request ends the session (a reader error): no reply is expected
  // beyond Reply, and Step returns false.
  bool EndsSession = false;
};

struct TScenario {
  const char* Name;
  std::vector<TExchange> Exchanges;
};

TExchange Ends(std::string request) { return {std::move(request), "", true}; }

// Items 10 tea, 20 rice and 30 salt committed; then transaction 1 and, on
// it, view 1 of ITEMS, not positioned.
std::vector<TExchange> ThreeItems() {
  return {
      {Begin(), kOk + Int(1)},
      {OpenItems(1), kOk + Int(1)},
      {Ints({28, 1, 3}) + Item(10, "tea") + Item(20, "rice") + Item(30, "salt"), Int(0)},
      {CloseView(1), kOk},
      {Commit(1), kOk},
      {Begin(), kOk + Int(1)},
      {OpenItems(1), kOk + Int(1)},
  };
}

std::string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
    hex += ' ';
  }
  return hex;
}

// An engine built from `settings` and an executor over two in-memory
// pipes, as the in-process session builds them.
class TSessionHarness {
 public:
  explicit TSessionHarness(const TEngineSettings& settings)
      : Engine(TEngine::Build(settings)),
        Requests(MakeRef<TStreamBuffer>(4096)),
        Replies(MakeRef<TStreamBuffer>(4096)),
        Executor(MakeRef<TProtocolExecutor>(
            Engine,
            MakeRef<TBinStreamReader>(MakeRef<TStreamBufferInputStream>(Requests)),
            MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(Replies)))) {}

  std::string Reply() {
    std::string bytes(static_cast<size_t>(Replies->Available()), '\0');
    if (!bytes.empty()) Replies->Read(bytes.data(), static_cast<int32_t>(bytes.size()));
    return bytes;
  }

  // Performs the exchanges in order; each request must be read whole by
  // its own Step.
  void Run(const std::vector<TExchange>& exchanges, const std::string& scenario) {
    for (size_t i = 0; i < exchanges.size(); ++i) {
      const TExchange& exchange = exchanges[i];
      SCOPED_TRACE(scenario + ", exchange " + std::to_string(i + 1));
      Requests->Write(exchange.Request.data(), static_cast<int32_t>(exchange.Request.size()));
      ASSERT_EQ(Executor->Step(), !exchange.EndsSession);
      EXPECT_EQ(HexOf(Reply()), HexOf(exchange.Reply));
      if (exchange.EndsSession) {
        EXPECT_TRUE(Executor->Stopped());
        return;
      }
      // Close session is performed, and then the session is over.
      EXPECT_EQ(Executor->Stopped(), exchange.Request == Int(1));
      EXPECT_EQ(Requests->Available(), 0) << "request not read to its end";
    }
  }

  Ref<TEngine> Engine;
  Ref<TStreamBuffer> Requests;
  Ref<TStreamBuffer> Replies;
  Ref<TProtocolExecutor> Executor;
};

// The shop database in a temporary directory, which is the current one.
class ProtocolExecutorTest : public ::testing::Test {
 protected:
  test::TTempDir Dir;
  test::TCurrentDirScope Inside{Dir.Path()};
  TEngineSettings Settings = test::SmallDatabase(Dir, kShop, kCounters);
};

// Runs `prelude`, then the scenario, on a new shop database; returns the
// number of views left open.
int32_t RunOnNewShop(const std::vector<TExchange>& prelude, const TScenario& scenario) {
  test::TTempDir dir;
  test::TCurrentDirScope inside(dir.Path());
  TSessionHarness session(test::SmallDatabase(dir, kShop, kCounters));
  session.Run(prelude, "setup");
  session.Run(scenario.Exchanges, scenario.Name);
  return session.Executor->OpenViewCount();
}

// ---- Session, transactions, catalogue and counters ----

const TScenario kSessionScenarios[] = {
    {"close session with nothing open replies 0", {{Int(1), Int(0)}}},
    {"close session with a view and a transaction replies 3",
     {{Begin(), kOk + Int(1)}, {OpenItems(1), kOk + Int(1)}, {Int(1), Int(3)}}},
    {"close session with only a transaction replies 1", {{Begin(), kOk + Int(1)}, {Int(1), Int(1)}}},
    {"flush and no operation write nothing", {{Int(2), ""}, {Int(26), ""}}},
    {"bad command codes end the session", {Ends(Int(0))}},
    {"negative command code", {Ends(Int(-7))}},
    {"command code above 31", {Ends(Int(32))}},
    {"a freed handle is handed out first",
     {{Begin(), kOk + Int(1)},
      {Begin(), kOk + Int(2)},
      {Commit(1), kOk},
      {Begin(), kOk + Int(1)},
      {Rollback(2), kOk},
      {Rollback(1), kOk},
      {Int(1), Int(0)}}},
    {"nested transactions commit inward out",
     {{Begin(), kOk + Int(1)},
      {BeginNested(1), kOk + Int(2)},
      {BeginNested(2), kOk + Int(3)},
      {Commit(3), kOk},
      {Commit(2), kOk},
      {Commit(1), kOk}}},
    {"a second nested transaction ends the session",
     {{Begin(), kOk + Int(1)}, {BeginNested(1), kOk + Int(2)}, Ends(BeginNested(1))}},
    {"commit with an active nested transaction ends the session",
     {{Begin(), kOk + Int(1)}, {BeginNested(1), kOk + Int(2)}, Ends(Commit(1))}},
    {"commit with an open view ends the session",
     {{Begin(), kOk + Int(1)}, {OpenItems(1), kOk + Int(1)}, Ends(Commit(1))}},
    {"rollback with an open view ends the session",
     {{Begin(), kOk + Int(1)}, {OpenItems(1), kOk + Int(1)}, Ends(Rollback(1))}},
    {"a handle that names nothing ends the session", {Ends(Commit(1))}},
    {"handle 0", {{Begin(), kOk + Int(1)}, Ends(Commit(0))}},
    {"a view handle is not a transaction handle",
     {{Begin(), kOk + Int(1)}, {Begin(), kOk + Int(2)}, {OpenItems(2), kOk + Int(1)},
      {Commit(1), kOk}, Ends(CloseView(2))}},
    {"list tables", {{Int(20), kOk + Int(2) + Str("ITEMS") + Int(1) + Str("ORDERS") + Int(2)}}},
    {"list comparators",
     {{Int(21), kOk + Int(2) + Str("BYNUMBER") + Int(1) + Str("BYNAME") + Int(2)}}},
    {"list counters", {{Int(24), kOk + Int(2) + Str("BATCH") + Int(1) + Str("ITEMS") + Int(2)}}},
    {"describe table",
     {{Ints({22, 1}), kOk + Int(3) + Str("ID") + Ints({1, 4}) + Str("NAME") + Ints({2, 6}) +
                          Str("PRICE") + Int(3)},
      {Ints({22, 2}), kOk + Int(2) + Str("ITEM") + Ints({1, 4}) + Str("QTY") + Ints({1, 2})}}},
    {"describe table out of range", {Ends(Ints({22, 3}))}},
    {"describe table 0", {Ends(Ints({22, 0}))}},
    {"describe comparators",
     {{Ints({23, 1}), kOk + Int(1)}, {Ints({23, 2}), kOk + Int(2) + Str("aAbBcC")}}},
    {"describe comparator out of range", {Ends(Ints({23, 3}))}},
    {"next counter value",
     {{Ints({25, 1}), kOk + Int64(10)}, {Ints({25, 1}), kOk + Int64(11)}}},
    {"raise counter upward",
     {{Ints({31, 1}) + Int64(1000), kOk}, {Ints({25, 1}), kOk + Int64(1000)}}},
    {"raise counter below its value leaves it",
     {{Ints({31, 1}) + Int64(5), kOk}, {Ints({31, 1}) + Int64(-1), kOk},
      {Ints({25, 1}), kOk + Int64(10)}}},
    {"counter out of range", {Ends(Ints({25, 3}))}},
    {"raise counter cut short", {Ends(Ints({31, 1}) + "\x01\x02\x03")}},
};

TEST_F(ProtocolExecutorTest, SessionTransactionCatalogueAndCounterCommands) {
  for (const TScenario& scenario : kSessionScenarios) RunOnNewShop({}, scenario);
}

// ---- Views and data commands ----

const TScenario kViewScenarios[] = {
    {"status of a view just opened", {{Status(1), Int(1)}}},
    {"fetch from before the first record is refused",
     {{Position(1, 2), Int(2)}, {FetchForward(1, 5), Int(2 + 8)}}},
    {"fetch forward after a step from before the first",
     {{Position(1, 2), Int(2)},
      {MoveBy(1, 1), Ints({0, 1})},
      {FetchForward(1, 5),
       Fetched(Item(10, "tea")) + Fetched(Item(20, "rice")) + Fetched(Item(30, "salt")) + Int(4)}}},
    {"a fetch of exactly the records left ends with status 0, then 4",
     {{Position(1, 2), Int(2)},
      {MoveBy(1, 2), Ints({0, 2})},
      {FetchForward(1, 2), Fetched(Item(20, "rice")) + Fetched(Item(30, "salt")) + Int(4)}}},
    {"a fetch that leaves records ends with status 0",
     {{Position(1, 2), Int(2)},
      {MoveBy(1, 1), Ints({0, 1})},
      {FetchForward(1, 1), Fetched(Item(10, "tea")) + Int(0)},
      {FetchCurrent(1), Fetched(Item(20, "rice"))}}},
    {"fetch with n = 0 ends the session", {{Position(1, 2), Int(2)}, Ends(FetchForward(1, 0))}},
    {"fetch with a negative n ends the session", {Ends(FetchBackward(1, -1))}},
    {"fetch without a position is refused", {{FetchForward(1, 1), Int(1 + 8)}}},
    {"move by 10 from before the first of three records",
     {{Position(1, 2), Int(2)}, {MoveBy(1, 10), Ints({4, 4})}}},
    {"move by without a position is refused", {{MoveBy(1, 1), Int(1 + 8)}}},
    {"move backward from after the last",
     {{Position(1, 4), Int(4)}, {MoveBy(1, -2), Ints({0, -2})}, {FetchCurrent(1), Fetched(Item(20, "rice"))}}},
    {"fetch backward",
     {{Position(1, 4), Int(4)},
      {FetchBackward(1, 1), Int(4 + 8)},
      {MoveBy(1, -1), Ints({0, -1})},
      {FetchBackward(1, 5),
       Fetched(Item(30, "salt")) + Fetched(Item(20, "rice")) + Fetched(Item(10, "tea")) + Int(2)}}},
    {"fetch current off a record is refused",
     {{FetchCurrent(1), Int(1 + 8)}, {Position(1, 4), Int(4)}, {FetchCurrent(1), Int(4 + 8)}}},
    {"set position with an unknown mode is refused and moves nothing",
     {{Position(1, 2), Int(2)}, {Position(1, 3), Int(2 + 8)}, {Position(1, 1), Int(1)}}},
    {"seek forward and backward",
     {{SeekForward(1, Item(15, ""), 1), Int(0)},
      {FetchCurrent(1), Fetched(Item(20, "rice"))},
      {SeekBackward(1, Item(15, ""), 1), Int(0)},
      {FetchCurrent(1), Fetched(Item(10, "tea"))},
      {SeekForward(1, Item(31, ""), 1), Int(4)},
      {SeekBackward(1, Item(9, ""), 1), Int(2)}}},
    {"seek with k = 0 stands on the first record",
     {{SeekForward(1, Item(99, ""), 0), Int(0)}, {FetchCurrent(1), Fetched(Item(10, "tea"))}}},
    {"seek with k above the key field count ends the session",
     {Ends(SeekForward(1, Item(10, ""), 2))}},
    {"seek with the record cut short ends the session",
     {Ends(Ints({11, 1}) + std::string(Item(10, "")).substr(0, 5))}},
    {"insert of a taken unique key is refused",
     {{Insert(1, Item(40, "milk")), Int(0)},
      {Insert(1, Item(20, "oats")), Int(0 + 8)},
      {FetchCurrent(1), Fetched(Item(40, "milk"))}}},
    {"update the current record",
     {{SeekForward(1, Item(20, ""), 1), Int(0)},
      {Update(1, Item(20, "bread")), Int(0)},
      {FetchCurrent(1), Fetched(Item(20, "bread"))},
      {Update(1, Item(10, "bread")), Int(0 + 8)}}},
    {"update off a record is refused", {{Update(1, Item(20, "bread")), Int(1 + 8)}}},
    {"delete the current record stands on the next",
     {{SeekForward(1, Item(20, ""), 1), Int(0)},
      {Ints({13, 1}), Int(0)},
      {FetchCurrent(1), Fetched(Item(30, "salt"))},
      {Ints({13, 1}), Int(4)},
      {Ints({13, 1}), Int(4 + 8)}}},
    {"delete all matching with k = 0 after a seek deletes every record",
     {{SeekForward(1, Item(0, ""), 0), Int(0)},
      {Ints({30, 1, 0}) + Item(0, ""), Int(4)},
      {Position(1, 2), Int(2)},
      {MoveBy(1, 10), Ints({4, 1})}}},
    {"delete all matching one key",
     {{Ints({30, 1, 1}) + Item(20, ""), Int(0)},
      {Position(1, 2), Int(2)},
      {MoveBy(1, 10), Ints({4, 3})}}},
    {"delete by keys none of which is present",
     {{Ints({29, 1, 2, 1}) + Item(11, "") + Item(12, ""), Int(0)},  // on 20, where 12 led
      {FetchCurrent(1), Fetched(Item(20, "rice"))}}},
    {"delete by keys skips the absent ones",
     {{Ints({29, 1, 3, 1}) + Item(10, "") + Item(11, "") + Item(30, ""), Int(4)},
      {Position(1, 2), Int(2)},
      {FetchForward(1, 1) + "", Int(2 + 8)},
      {MoveBy(1, 1), Ints({0, 1})},
      {FetchForward(1, 9), Fetched(Item(20, "rice")) + Int(4)}}},
    {"a refused batch insert discards the rest of the batch",
     {{Ints({28, 1, 3}) + Item(40, "milk") + Item(10, "dup") + Item(50, "lost"), Int(0 + 8)},
      {Status(1), Int(0)},
      {FetchCurrent(1), Fetched(Item(40, "milk"))},
      {SeekForward(1, Item(50, ""), 1), Int(4)}}},
    {"a batch insert of 0 or fewer records reads none",
     {{Ints({28, 1, 0}), Int(1)}, {Ints({28, 1, -5}), Int(1)}}},
    {"a batch cut short ends the session", {Ends(Ints({28, 1, 2}) + Item(40, "milk"))}},
    {"a refused delete by keys discards the rest of the batch",
     {{Begin(), kOk + Int(2)},
      {OpenItems(2), kOk + Int(2)},
      {SeekForward(2, Item(10, ""), 1), Int(0)},
      {Ints({13, 2}), Int(0)},  // transaction 2 ends record 10, uncommitted
      {Ints({29, 1, 2, 1}) + Item(10, "") + Item(20, ""), Int(0 + 8)},
      {SeekForward(1, Item(20, ""), 1), Int(0)},
      {FetchCurrent(1), Fetched(Item(20, "rice"))}}},
    {"a data command on a closed view ends the session", {{CloseView(1), kOk}, Ends(Status(1))}},
    {"a view handle that names nothing", {Ends(Status(2))}},
    {"views of one transaction see each other's changes",
     {{OpenItems(1), kOk + Int(2)},
      {Insert(1, Item(40, "milk")), Int(0)},
      {SeekForward(2, Item(40, ""), 1), Int(0)},
      {FetchCurrent(2), Fetched(Item(40, "milk"))}}},
    {"another transaction does not see uncommitted changes",
     {{Insert(1, Item(40, "milk")), Int(0)},
      {Begin(), kOk + Int(2)},
      {OpenItems(2), kOk + Int(2)},
      {SeekForward(2, Item(40, ""), 1), Int(4)}}},
    {"close session with views open",
     {{OpenItems(1), kOk + Int(2)}, {CloseView(1), kOk}, {Int(1), Int(3)}}},
};

TEST_F(ProtocolExecutorTest, DataCommands) {
  for (const TScenario& scenario : kViewScenarios) RunOnNewShop(ThreeItems(), scenario);
}

// ---- Opening views, with and without lookups ----

// A view of ORDERS (ITEM, QTY) in ITEM order with one lookup into view 1
// (ITEMS: ID, NAME in ID order): its key part is view field 1 (ITEM) and
// its result is NAME.
std::string OpenOrdersLookingUpNames(int32_t tx, int32_t itemsView) {
  return Ints({27, 2, 2, 1, 2, tx, 1, 1, 1}) +          // as command 7
         Ints({1, itemsView, 1, 0, 1}) + Ints({1, 2});  // lookup: key ITEM, result NAME
}
// An ORDERS view record with its looked-up NAME.
std::string Order(int32_t item, int32_t qty, const std::string& name) {
  return Record().Int(item, 4).Int(qty, 2).Str(name, 6);
}
std::string OrderWithoutName(int32_t item, int32_t qty) {
  return Record().Int(item, 4).Int(qty, 2).Null(6);
}

const TScenario kOpenScenarios[] = {
    {"an empty field list ends the session", {Ends(Ints({7, 1, 0, 1, 1, 1, 1}))}},
    {"a field number outside the record type", {Ends(Ints({7, 1, 2, 1, 4, 1, 1, 1, 1}))}},
    {"field number 0", {Ends(Ints({7, 1, 1, 0, 1, 1, 1, 1}))}},
    {"an order field the view does not open", {Ends(Ints({7, 1, 1, 2, 1, 1, 1, 1}))}},
    {"a key definition with no part", {Ends(Ints({7, 1, 1, 1, 1, 0}))}},
    {"a comparator that does not fit its field", {Ends(Ints({7, 1, 1, 1, 1, 1, 1, 2}))}},
    {"a comparator number out of range", {Ends(Ints({7, 1, 1, 1, 1, 1, 1, 3}))}},
    {"table number out of range", {Ends(Ints({7, 3, 1, 1, 1, 1, 1, 1}))}},
    {"a field list longer than the request", {Ends(Ints({7, 1, 1000000, 1, 2}))}},
    {"a lookup into a view that is not open", {Ends(OpenOrdersLookingUpNames(1, 2))}},
    {"a lookup key field of another width than the key",
     // Key part: view field 2 (QTY, 2 bytes) against ID (4 bytes).
     {Ends(Ints({27, 2, 2, 1, 2, 1, 1, 1, 1}) + Ints({1, 1, 1, 0, 2}) + Ints({1, 2}))}},
    {"a lookup with more parts than the looked-up order",
     {Ends(Ints({27, 2, 2, 1, 2, 1, 1, 1, 1}) + Ints({1, 1, 2, 0, 1, 0, 1}) + Ints({1, 2}))}},
    {"a lookup result field outside the looked-up view",
     {Ends(Ints({27, 2, 2, 1, 2, 1, 1, 1, 1}) + Ints({1, 1, 1, 0, 1}) + Ints({1, 3}))}},
    {"a lookup fills its result fields, with nulls for no match",
     {{OpenOrdersLookingUpNames(1, 1), kOk + Int(2)},
      {Insert(2, OrderWithoutName(20, 3)), Int(0)},
      {FetchCurrent(2), Fetched(Order(20, 3, "rice"))},
      {Insert(2, OrderWithoutName(99, 1)), Int(0)},
      {FetchCurrent(2), Fetched(OrderWithoutName(99, 1))},
      {Position(2, 2), Int(2)},
      {MoveBy(2, 1), Ints({0, 1})},
      {FetchForward(2, 5),
       Fetched(Order(20, 3, "rice")) + Fetched(OrderWithoutName(99, 1)) + Int(4)}}},
    {"a constant key part",
     {{Ints({27, 2, 2, 1, 2, 1, 1, 1, 1}) + Ints({1, 1, 1, 1}) + Int(30) + Ints({1, 2}),
       kOk + Int(2)},
      {Insert(2, OrderWithoutName(20, 3)), Int(0)},
      {FetchCurrent(2), Fetched(Order(20, 3, "salt"))}}},
    {"a constant takes the width of the key field it fills",
     // View 2 of ITEMS in (NAME, ID) order; the ORDERS lookup into it has an
     // ignored part of kind 7, then the 6-byte constant "salt" for NAME;
     // its result is view 2's ID.
     {{Ints({7, 1, 2, 1, 2, 1, 2, 2, 2, 1, 1}), kOk + Int(2)},
      {Ints({27, 2, 2, 1, 2, 1, 1, 1, 1}) + Ints({1, 2, 2, 7, 1}) + std::string("salt\0\0", 6) +
           Ints({1, 1}),
       kOk + Int(3)},
      {Insert(3, Record().Int(20, 4).Int(3, 2).Null(4)), Int(0)},
      {FetchCurrent(3), Fetched(Record().Int(20, 4).Int(3, 2).Int(30, 4))}}},
};

TEST_F(ProtocolExecutorTest, OpeningViews) {
  // A refused open builds nothing: view 1 of the setup is the only one.
  for (const TScenario& scenario : kOpenScenarios) {
    const int32_t views = RunOnNewShop(ThreeItems(), scenario);
    if (scenario.Exchanges.back().EndsSession) {
      EXPECT_EQ(views, 1) << scenario.Name;
    }
  }
}

// A lookup fed by an earlier lookup: ORDERS looks up the item's NAME by
// ITEM, and then, through a second ITEMS view in NAME order, the ID of
// the item of that name.
TEST_F(ProtocolExecutorTest, ALookupFedByAnEarlierLookup) {
  TSessionHarness session(Settings);
  session.Run(ThreeItems(), "setup");
  session.Run({{Ints({7, 1, 2, 2, 1, 1, 1, 2, 2}), kOk + Int(2)},
       {Ints({27, 2, 2, 1, 2, 1, 1, 1, 1}) + Ints({2}) +  // two lookups
            Ints({1, 1, 0, 1}) + Ints({1, 2}) +          // by ITEM into view 1: NAME (field 3)
            Ints({2, 1, 0, 3}) + Ints({1, 2}),           // by field 3 into view 2: ID
        kOk + Int(3)},
       {Insert(3, Record().Int(30, 4).Int(1, 2).Null(6).Null(4)), Int(0)},
       {FetchCurrent(3), Fetched(Record().Int(30, 4).Int(1, 2).Str("salt", 6).Int(30, 4))}},
      "lookup chain");
}

// What the session leaves open is ended when the executor goes: views,
// then transactions innermost first; the engine's files come out clean.
TEST_F(ProtocolExecutorTest, TeardownRollsBackWhatTheSessionLeftOpen) {
  auto session = std::make_unique<TSessionHarness>(Settings);
  session->Run(ThreeItems(), "setup");
  session->Run({{Insert(1, Item(40, "milk")), Int(0)},
       {BeginNested(1), kOk + Int(2)},
       {OpenItems(2), kOk + Int(2)},
       {Insert(2, Item(50, "oats")), Int(0)},
       {BeginNested(2), kOk + Int(3)}},
      "open work");
  session.reset();
  EXPECT_EQ(TZObject::LiveObjectCount(), 0);

  TSessionHarness after(Settings);
  after.Run({{Begin(), kOk + Int(1)},
             {OpenItems(1), kOk + Int(1)},
             {Position(1, 2), Int(2)},
             {MoveBy(1, 10), Ints({4, 4})}},
            "after the teardown");
}

// A nested commit that finds no room in the index file for the parent's
// write set changes nothing and is not a protocol error: the exception
// passes out of Step, the session stays open and the transaction keeps its
// handle, so the client can roll it back, or commit once there is room.
TEST_F(ProtocolExecutorTest, ANestedCommitWithoutRoomInTheIndexFileKeepsItsHandle) {
  std::string batch = Ints({28, 1, 400});
  for (int32_t id = 1; id <= 400; ++id) batch += Item(id, "x");
  TSessionHarness session(Settings);
  session.Run({{Begin(), kOk + Int(1)},
               {BeginNested(1), kOk + Int(2)},
               {OpenItems(2), kOk + Int(1)},
               {batch, Int(0)},
               {CloseView(1), kOk}},
              "nested work");
  TIndexFile& indexFile = session.Engine->TransactionMgr().IndexFile();
  const int32_t limit = indexFile.PageLimit();
  indexFile.SetPageLimit(indexFile.PageCount());
  {
    test::TPageHog hog(indexFile);
    hog.LeaveFree(0);
    const std::string commit = Commit(2);
    session.Requests->Write(commit.data(), static_cast<int32_t>(commit.size()));
    EXPECT_THROW(session.Executor->Step(), EFileFullError);
    EXPECT_FALSE(session.Executor->Stopped());
    EXPECT_EQ(session.Reply(), "");
    EXPECT_EQ(session.Executor->LiveTransactionCount(), 2);
  }
  indexFile.SetPageLimit(limit);
  session.Run({{Commit(2), kOk},
               {OpenItems(1), kOk + Int(1)},
               {Position(1, 2), Int(2)},
               {MoveBy(1, 1000), Ints({4, 401})}},
              "after room was made");
}

}  // namespace
}  // namespace kor
