#include "engine/server/server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/socket.h"

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"

#include "engine/streams/buffered_stream.h"
#include "engine/streams/text_stream_reader.h"

#include "engine/storage/file.h"

#include "engine/server/engine_lock.h"

#include "tests/support/database_fixture.h"
#include "tests/support/page_hog.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wire_client.h"

namespace kor {
namespace {

using namespace std::chrono_literals;
using test::TWireClient;

// How long a test waits for an event before it calls it lost. Generous: it
// only keeps a broken build from hanging, it measures nothing.
constexpr auto kWakeBound = 20s;

// Wire values of the requests these tests send.
constexpr int32_t kCloseSession = 1;
constexpr int32_t kNoOperation = 26;
constexpr int32_t kBeginTransaction = 3;
constexpr int32_t kBeginNestedTransaction = 4;
constexpr int32_t kCommitTransaction = 5;
constexpr int32_t kOpenTable = 7;
constexpr int32_t kSetTablePosition = 10;
constexpr int32_t kCloseTable = 8;
constexpr int32_t kInsertRecord = 14;
constexpr int32_t kInsertRecords = 28;
constexpr int32_t kMoveBy = 16;
constexpr int32_t kFetchForward = 17;
constexpr int32_t kGoBeforeFirst = 2;
constexpr int32_t kFailed = 8;

// ITEMS (ID INTEGER 8, NAME STRING 20), unique on ID. A view of both fields
// has records of 8 + 20 bytes and a one-byte null bitmap (1: present).
constexpr int32_t kItemRecordSize = 8 + 20 + 1;

std::string ItemsStructure(const test::TTempDir& dir) {
  return "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
         "TABLE ITEMS FILENAME '" +
         dir.File("ITEMS.TBL") +
         "'\n"
         "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 20 END\n"
         "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
         "ENDTABLE\n"
         "END\n";
}

std::array<unsigned char, kItemRecordSize> ItemRecord(int64_t id, const std::string& name) {
  std::array<unsigned char, kItemRecordSize> record{};
  EncodeInt64(record.data(), id);
  memcpy(record.data() + 8, name.data(), std::min<size_t>(name.size(), 20));
  record[28] = 0x03;
  return record;
}

// The requests of a session on ITEMS, each followed by a flush.
int32_t BeginTransaction(TWireClient& client) {
  client.Request(kBeginTransaction);
  EXPECT_EQ(client.In().ReadInteger(), 0);
  return client.In().ReadInteger();
}

void Commit(TWireClient& client, int32_t transaction) {
  client.Out().WriteInteger(kCommitTransaction);
  client.Out().WriteInteger(transaction);
  client.Request(kNoOperation);
  EXPECT_EQ(client.In().ReadInteger(), 0);
}

// Opens ITEMS with both fields, ordered by ID, and returns the view.
int32_t OpenItems(TWireClient& client, int32_t transaction) {
  TBinStreamWriter& out = client.Out();
  out.WriteInteger(kOpenTable);
  out.WriteInteger(1);  // table number
  out.WriteInteger(2);  // fields ID, NAME
  out.WriteInteger(1);
  out.WriteInteger(2);
  out.WriteInteger(transaction);
  out.WriteInteger(1);  // key: ID by comparator 1
  out.WriteInteger(1);
  out.WriteInteger(1);
  client.Request(kNoOperation);
  EXPECT_EQ(client.In().ReadInteger(), 0);
  return client.In().ReadInteger();
}

int32_t Insert(TWireClient& client, int32_t view, int64_t id, const std::string& name) {
  auto record = ItemRecord(id, name);
  client.Out().WriteInteger(kInsertRecord);
  client.Out().WriteInteger(view);
  client.Out().WriteBytes(record.data(), kItemRecordSize);
  client.Request(kNoOperation);
  return client.In().ReadInteger();
}

// The IDs of every record the view sees, in order.
std::vector<int64_t> FetchAllIds(TWireClient& client, int32_t view) {
  TBinStreamWriter& out = client.Out();
  out.WriteInteger(kSetTablePosition);
  out.WriteInteger(view);
  out.WriteInteger(kGoBeforeFirst);
  out.WriteInteger(kMoveBy);  // by 1: onto the first record
  out.WriteInteger(view);
  out.WriteInteger(1);
  client.Request(kNoOperation);
  EXPECT_EQ(client.In().ReadInteger(), kGoBeforeFirst);
  int32_t status = client.In().ReadInteger();
  client.In().ReadInteger();  // the number of steps
  std::vector<int64_t> ids;
  if (status != 0) return ids;
  out.WriteInteger(kFetchForward);
  out.WriteInteger(view);
  out.WriteInteger(1000);
  client.Request(kNoOperation);
  while (client.In().ReadInteger() == 0) {
    std::array<unsigned char, kItemRecordSize> record;
    client.In().ReadBytes(record.data(), kItemRecordSize);
    ids.push_back(DecodeInt64(record.data()));
  }
  return ids;
}

// Ends the session in order: command 1, its open-objects mask, then the
// server's close.
int32_t CloseSession(TWireClient& client) {
  client.Request(kCloseSession);
  int32_t mask = client.In().ReadInteger();
  EXPECT_TRUE(client.ServerClosed());
  return mask;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    LiveAtStart = TZObject::LiveObjectCount();
  }
  void TearDown() override {
    Server.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
  }

  // A serving server on the loopback address and a free port, over ITEMS.
  void StartServer(int32_t inputTimeout = 0) {
    Ref<TEngine> engine = TEngine::Build(test::SmallDatabase(Dir, ItemsStructure(Dir)));
    Engine = engine.Get();
    Server = MakeRef<TZServer>(std::move(engine), inputTimeout, 0, "127.0.0.1");
    Server->Start();
  }
  int32_t Port() const { return Server->Port(); }

  // Waits until no transaction is live on the engine: the sessions that
  // held some have ended and rolled them back.
  bool NoLiveTransactionsWithin(std::chrono::seconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      {
        std::lock_guard guard(EngineLock());
        if (Engine->TransactionMgr().LiveTransactionCount() == 0) return true;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
  }

  std::string Log() const { return test::ReadWholeFile(Dir.File("KORLIB.OUT")); }

  test::TTempDir Dir;
  int32_t LiveAtStart = 0;
  Ref<TZServer> Server;
  TEngine* Engine = nullptr;  // borrowed from the server
};

TEST_F(ServerTest, ClientReceivesTheSixteenGreetingBytesOnConnect) {
  StartServer();
  TOsSocket handle = OsConnectSocket("127.0.0.1", Port());
  ASSERT_NE(handle, kNoOsSocket);
  auto connection = MakeRef<TSocket>(handle);
  char greeting[16];
  ReadFully(*connection->GetInputStream(), greeting, sizeof greeting);
  EXPECT_EQ(std::string(greeting, 16), std::string("\x03\0\0\0KOR\x05\0\0\0V 0.3", 16));
}

TEST_F(ServerTest, SessionOfRequestsIsAnsweredAtEachFlush) {
  StartServer();
  TWireClient client(Port());
  ASSERT_TRUE(client.ReadGreeting());
  // Requests that write nothing, then one whose reply waits in the server's
  // buffer until the flush that follows it.
  client.Out().WriteInteger(kNoOperation);
  client.Out().WriteInteger(kNoOperation);
  EXPECT_EQ(BeginTransaction(client), 1);
  EXPECT_EQ(BeginTransaction(client), 2);
  Commit(client, 1);
  int32_t view = OpenItems(client, 2);
  EXPECT_EQ(Insert(client, view, 7, "seven"), 0);
  EXPECT_EQ(Insert(client, view, 7, "again"), kFailed);  // the unique key refuses it
  EXPECT_EQ(Insert(client, view, 3, "three"), 0);
  EXPECT_EQ(FetchAllIds(client, view), (std::vector<int64_t>{3, 7}));
  // Still open: a table (2) and a transaction (1); the end of the session
  // closes and rolls them back.
  EXPECT_EQ(CloseSession(client), 3);
  EXPECT_TRUE(NoLiveTransactionsWithin(kWakeBound));
}

TEST_F(ServerTest, SessionsOfTwoClientsHaveTheirOwnHandles) {
  StartServer();
  TWireClient first(Port());
  TWireClient second(Port());
  ASSERT_TRUE(first.ReadGreeting());
  ASSERT_TRUE(second.ReadGreeting());
  int32_t firstTransaction = BeginTransaction(first);
  int32_t secondTransaction = BeginTransaction(second);
  EXPECT_EQ(firstTransaction, 1);
  EXPECT_EQ(secondTransaction, 1);
  int32_t firstView = OpenItems(first, firstTransaction);
  int32_t secondView = OpenItems(second, secondTransaction);
  EXPECT_EQ(Insert(first, firstView, 1, "one"), 0);
  EXPECT_EQ(Insert(second, secondView, 2, "two"), 0);
  // Neither sees the other's uncommitted record.
  EXPECT_EQ(FetchAllIds(first, firstView), std::vector<int64_t>{1});
  EXPECT_EQ(FetchAllIds(second, secondView), std::vector<int64_t>{2});
  EXPECT_EQ(CloseSession(first), 3);
  EXPECT_EQ(CloseSession(second), 3);
}

// Clients working at the same time from their own threads: their requests
// are carried out one after the other (a ThreadSanitizer build would report
// engine work of two sessions overlapping), and every change arrives.
TEST_F(ServerTest, ConcurrentClientsChangeTheOneEngineOneRequestAtATime) {
  StartServer();
  constexpr int32_t kClients = 4;
  constexpr int32_t kInsertsEach = 50;
  std::vector<std::thread> threads;
  std::vector<int32_t> failures(kClients, 0);
  for (int32_t c = 0; c < kClients; ++c) {
    threads.emplace_back([this, c, &failures] {
      TWireClient client(Port());
      if (!client.ReadGreeting()) ++failures[c];
      for (int32_t i = 0; i < kInsertsEach; ++i) {
        int32_t transaction = BeginTransaction(client);
        int32_t view = OpenItems(client, transaction);
        if (Insert(client, view, c * kInsertsEach + i, "concurrent") != 0) ++failures[c];
        client.Out().WriteInteger(kCloseTable);
        client.Out().WriteInteger(view);
        client.Request(kNoOperation);
        if (client.In().ReadInteger() != 0) ++failures[c];
        Commit(client, transaction);
      }
      if (CloseSession(client) != 0) ++failures[c];
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int32_t>(kClients, 0));

  TWireClient reader(Port());
  ASSERT_TRUE(reader.ReadGreeting());
  std::vector<int64_t> expected(kClients * kInsertsEach);
  for (int32_t i = 0; i < kClients * kInsertsEach; ++i) expected[i] = i;
  EXPECT_EQ(FetchAllIds(reader, OpenItems(reader, BeginTransaction(reader))), expected);
  EXPECT_EQ(CloseSession(reader), 3);
}

TEST_F(ServerTest, ClientAfterTheHundredthIsRefusedAndAnEndedSlotIsReused) {
  StartServer();
  std::vector<std::unique_ptr<TWireClient>> clients;
  for (int32_t i = 0; i < TZServer::kMaxClients; ++i) {
    clients.push_back(std::make_unique<TWireClient>(Port()));
    ASSERT_TRUE(clients.back()->ReadGreeting()) << i;
  }
  {
    TWireClient refused(Port());
    EXPECT_EQ(refused.In().ReadIdent(), "ERR");
    EXPECT_EQ(refused.In().ReadString(), "Too many clients");
    EXPECT_TRUE(refused.ServerClosed());
  }
  // A client that is gone before its refusal is written: the failed write
  // is ignored, and the next client is refused in order.
  {
    TOsSocket handle = OsConnectSocket("127.0.0.1", Port());
    ASSERT_NE(handle, kNoOsSocket);
    linger reset{1, 0};  // close with a reset, dropping the connection at once
    ASSERT_EQ(setsockopt(handle, SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
    close(handle);
  }
  {
    TWireClient refused(Port());
    EXPECT_EQ(refused.In().ReadIdent(), "ERR");
    EXPECT_EQ(refused.In().ReadString(), "Too many clients");
  }
  EXPECT_NE(Log().find("KORSERVER refusal not delivered"), std::string::npos) << Log();

  // One of the hundred ends its session; its slot goes to the next client.
  EXPECT_EQ(CloseSession(*clients.front()), 0);
  TWireClient next(Port());
  EXPECT_TRUE(next.ReadGreeting());
  EXPECT_EQ(CloseSession(next), 0);
}

TEST_F(ServerTest, InputTimeoutEndsAnIdleSessionAndZeroKeepsIt) {
  struct TCase {
    int32_t Timeout;
    bool Ends;
  };
  for (TCase c : {TCase{1, true}, TCase{0, false}}) {
    SCOPED_TRACE(c.Timeout);
    StartServer(c.Timeout);
    TWireClient client(Port());
    ASSERT_TRUE(client.ReadGreeting());
    auto started = std::chrono::steady_clock::now();
    if (c.Ends) {
      // Silent: the server gives up after the time-out and closes.
      EXPECT_TRUE(client.ServerClosed());
      EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms);
    } else {
      std::this_thread::sleep_for(1500ms);  // longer than the other case's time-out
      EXPECT_EQ(BeginTransaction(client), 1);
      EXPECT_EQ(CloseSession(client), 1);
    }
    client.Disconnect();
    Server.ReleaseLast();
  }
}

TEST_F(ServerTest, ClientGoneInTheMiddleOfARequestLeavesItsTransactionRolledBack) {
  StartServer();
  {
    TWireClient gone(Port());
    ASSERT_TRUE(gone.ReadGreeting());
    int32_t transaction = BeginTransaction(gone);
    int32_t view = OpenItems(gone, transaction);
    ASSERT_EQ(Insert(gone, view, 5, "uncommitted"), 0);
    // Half an insert request, then the connection ends.
    auto record = ItemRecord(6, "half");
    gone.Out().WriteInteger(kInsertRecord);
    gone.Out().WriteInteger(view);
    gone.Out().WriteBytes(record.data(), kItemRecordSize / 2);
    gone.Send();
  }
  ASSERT_TRUE(NoLiveTransactionsWithin(kWakeBound));
  EXPECT_NE(Log().find("KORSERVER session ended: EReaderEof"), std::string::npos) << Log();

  // The engine goes on: ID 5 is free again, and neither 5 nor 6 was kept.
  TWireClient next(Port());
  ASSERT_TRUE(next.ReadGreeting());
  int32_t transaction = BeginTransaction(next);
  int32_t view = OpenItems(next, transaction);
  EXPECT_EQ(FetchAllIds(next, view), std::vector<int64_t>{});
  EXPECT_EQ(Insert(next, view, 5, "committed"), 0);
  EXPECT_EQ(FetchAllIds(next, view), std::vector<int64_t>{5});
  EXPECT_EQ(CloseSession(next), 3);
}

// An engine failure that Step passes on (here a nested commit that finds
// no room in the index file) leaves its request without a reply, so the
// session cannot go on over TCP: it ends, its transactions are rolled back,
// and every other session goes on.
TEST_F(ServerTest, EngineFailureThatStepPassesOnEndsOnlyItsSession) {
  StartServer();
  TWireClient other(Port());
  ASSERT_TRUE(other.ReadGreeting());
  EXPECT_EQ(BeginTransaction(other), 1);

  TWireClient failing(Port());
  ASSERT_TRUE(failing.ReadGreeting());
  int32_t top = BeginTransaction(failing);
  failing.Out().WriteInteger(kBeginNestedTransaction);
  failing.Out().WriteInteger(top);
  failing.Request(kNoOperation);
  ASSERT_EQ(failing.In().ReadInteger(), 0);
  int32_t nested = failing.In().ReadInteger();
  int32_t view = OpenItems(failing, nested);
  // Enough records that the parent's write set needs new index pages.
  constexpr int32_t kBatch = 400;
  failing.Out().WriteInteger(kInsertRecords);
  failing.Out().WriteInteger(view);
  failing.Out().WriteInteger(kBatch);
  for (int32_t id = 1; id <= kBatch; ++id)
    failing.Out().WriteBytes(ItemRecord(id, "x").data(), kItemRecordSize);
  failing.Out().WriteInteger(kCloseTable);
  failing.Out().WriteInteger(view);
  failing.Request(kNoOperation);
  ASSERT_EQ(failing.In().ReadInteger(), 0);
  ASSERT_EQ(failing.In().ReadInteger(), 0);

  TIndexFile& indexFile = Engine->TransactionMgr().IndexFile();
  int32_t limit = 0;
  std::unique_ptr<test::TPageHog> hog;
  {
    std::lock_guard guard(EngineLock());
    limit = indexFile.PageLimit();
    indexFile.SetPageLimit(indexFile.PageCount());
    hog = std::make_unique<test::TPageHog>(indexFile);
    hog->LeaveFree(0);
  }
  failing.Out().WriteInteger(kCommitTransaction);
  failing.Out().WriteInteger(nested);
  failing.Request(kNoOperation);  // no reply: the connection ends instead
  EXPECT_TRUE(failing.ServerClosed());
  {
    std::lock_guard guard(EngineLock());
    hog.reset();
    indexFile.SetPageLimit(limit);
  }
  EXPECT_NE(Log().find("KORSERVER session ended: EFileFullError"), std::string::npos) << Log();

  // The other session goes on and sees none of the failed session's work.
  int32_t otherView = OpenItems(other, 1);
  EXPECT_EQ(FetchAllIds(other, otherView), std::vector<int64_t>{});
  EXPECT_EQ(CloseSession(other), 3);
  EXPECT_TRUE(NoLiveTransactionsWithin(kWakeBound));
}

TEST_F(ServerTest, DestroyingTheServerEndsThreeIdleSessionsAndReleasesTheEngine) {
  StartServer();
  std::vector<std::unique_ptr<TWireClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<TWireClient>(Port()));
    ASSERT_TRUE(clients.back()->ReadGreeting());
  }
  // One of them with a live transaction, which its end rolls back.
  EXPECT_EQ(BeginTransaction(*clients[1]), 1);
  Server.ReleaseLast();
  for (auto& client : clients) EXPECT_TRUE(client->ServerClosed());
  clients.clear();
  // Nothing of the server is left: no thread, no session, no engine.
  EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
}

TEST_F(ServerTest, ServerThatIsNeverStartedIsDestroyedCleanly) {
  Server = MakeRef<TZServer>(TEngine::Build(test::SmallDatabase(Dir)), 0, 0, "127.0.0.1");
  EXPECT_GT(Server->Port(), 0);
}

// The server mode of the configuration builder over "CONFIG.ZSR".
class ServerConfigurationTest : public ServerTest {
 protected:
  Ref<TZServer> Load(const std::string& config, const std::string& bindAddress) {
    std::string path = Dir.File("CONFIG.ZSR");
    test::WriteWholeFile(path, config);
    auto file = MakeRef<TFile>(path, TCreationDisposition::OpenExisting);
    return TZServer::LoadFromConfiguration(
        MakeRef<TTextStreamReader>(
            MakeRef<TBufferedInputStream>(MakeRef<TFileInputStream>(std::move(file)), 1024),
            "CONFIG.ZSR"),
        bindAddress);
  }

  std::string Config(int32_t port, int32_t timeout) {
    TEngineSettings s = test::SmallDatabase(Dir);
    return "TIMEAUTOINCID " + s.TimeAutoincId + "\nINDEXFILENAME '" + s.IndexFileName +
           "'\nINDEXFILECLUSTERSHL 12\nINDEXFILEMINBUFFER 16\nSTRUCTFILENAME '" + s.StructFileName +
           "'\nINETPORT " + std::to_string(port) + "\nAUTOINCFILENAME '" + s.AutoincFileName +
           "'\nINPUTTIMEOUT " + std::to_string(timeout) + "\n";
  }
};

TEST_F(ServerConfigurationTest, BuildsAServerForInetportAndInputtimeout) {
  int32_t port = test::FreeConfigurablePort();
  ASSERT_GT(port, 0);
  Server = Load(Config(port, 9), "127.0.0.1");
  EXPECT_EQ(Server->Port(), port);
  EXPECT_EQ(Server->Address(), "127.0.0.1");
  EXPECT_EQ(Server->InputTimeout(), 9);
  Server->Start();
  TWireClient client(port);
  EXPECT_TRUE(client.ReadGreeting());
}

TEST_F(ServerConfigurationTest, FailuresLeaveNothingAlive) {
  int32_t port = test::FreeConfigurablePort();
  ASSERT_GT(port, 0);
  auto busy = MakeRef<TSocketServer>(port, "127.0.0.1");
  struct TCase {
    std::string Config;
    std::string Address;
    std::string Message;
  };
  const TCase cases[] = {
      {Config(port, 0), "127.0.0.1", "ESocketError"},  // the port is taken
      {Config(port, 0), "no.such", "ESocketError"},    // not a dotted address
      {Config(80, 0), "", "EReaderSyntaxError"},       // INETPORT below 1024
      {"TIMEAUTOINCID TIME\n", "", "EReaderEof"},      // the settings end early
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Config);
    try {
      Load(c.Config, c.Address);
      ADD_FAILURE() << "built";
    } catch (const EZException& e) {
      EXPECT_NE(e.Describe().find(c.Message), std::string::npos) << e.Describe();
    }
  }
  busy.ReleaseLast();
}

}  // namespace
}  // namespace kor
