// Server load benchmark: a korserver engine in this process on 127.0.0.1,
// and 1, 8 and 64 concurrent clients, each on its own connection and thread,
// running a seeded mix of reads and writes over the wire protocol for a
// bounded time. Prints one line per client count, from the median of three
// runs: requests per second and the latency of one request (send, then wait
// for the whole reply) at the 50th and 99th percentiles. Ends with the shut-down of the server and
// the proof that no engine object is left.
//
//   server_load [SECONDS_PER_RUN [SEED]]      (defaults: 1 second, seed 42)
//
// Table ITEMS (ID INTEGER 8, NAME STRING 20), unique on ID, preloaded with
// IDs 0..kPreloaded-1 in one transaction. Each client opens its own
// transaction and view, then repeats, choosing with its own generator
// (seed + client number):
//   read  (80%)  seek forward to a random preloaded ID (11), fetch the
//                current record (19); one round trip; the record must be
//                the one sought.
//   write (20%)  insert a record with an ID never used before (drawn from
//                one counter that every client shares) (14), close the view
//                (8), commit (5), begin (3) and open (7) again; one round
//                trip; the insert must succeed.
// Every round trip ends with a flush (2). Any other reply counts as an
// error, and the run reports it.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/protocol/engine.h"

#include "engine/server/server.h"

#include "tests/support/database_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wire_client.h"

namespace kor {
namespace {

using TClock = std::chrono::steady_clock;

constexpr int32_t kPreloaded = 10000;
constexpr int32_t kRecordSize = 8 + 20 + 1;  // ID, NAME, null bitmap
constexpr int32_t kReadPercent = 80;
constexpr int kRuns = 3;
constexpr int64_t kFirstWrittenId = 1000000;

// Wire values of the commands the clients send.
enum : int32_t {
  kFlush = 2,
  kBegin = 3,
  kCommit = 5,
  kOpen = 7,
  kClose = 8,
  kSeekForward = 11,
  kInsert = 14,
  kFetchCurrent = 19,
  kInsertRecords = 28,
};

struct TRecord {
  unsigned char Bytes[kRecordSize] = {};
};

TRecord MakeRecord(int64_t id) {
  TRecord record;
  EncodeInt64(record.Bytes, id);
  std::string name = "item " + std::to_string(id);
  memcpy(record.Bytes + 8, name.data(), std::min<size_t>(name.size(), 20));
  record.Bytes[28] = 0x03;  // both fields present
  return record;
}

// A session on ITEMS: its transaction and its view of both fields by ID.
class TItemsSession {
 public:
  explicit TItemsSession(int32_t port) : Client(port) {
    if (!Client.ReadGreeting()) throw std::runtime_error("no greeting");
    WriteBeginAndOpen();
    Client.Out().WriteInteger(kFlush);
    Client.Send();
    if (!ReadBeginAndOpen()) throw std::runtime_error("begin and open failed");
  }

  // Inserts `count` records from ID `first` in one request, and commits.
  bool Load(int64_t first, int32_t count) {
    TBinStreamWriter& out = Client.Out();
    out.WriteInteger(kInsertRecords);
    out.WriteInteger(View);
    out.WriteInteger(count);
    for (int32_t i = 0; i < count; ++i) out.WriteBytes(MakeRecord(first + i).Bytes, kRecordSize);
    WriteCommitAndReopen();
    Client.Send();
    bool ok = Expect(0);
    return ReadCommitAndReopen() && ok;
  }

  bool Read(int64_t id) {
    TBinStreamWriter& out = Client.Out();
    out.WriteInteger(kSeekForward);
    out.WriteInteger(View);
    out.WriteBytes(MakeRecord(id).Bytes, kRecordSize);
    out.WriteInteger(1);  // on the first key field
    out.WriteInteger(kFetchCurrent);
    out.WriteInteger(View);
    out.WriteInteger(kFlush);
    Client.Send();
    bool ok = Expect(0);           // the seek stands on a record
    if (!Expect(0)) return false;  // the fetch failed: no record follows
    TRecord record;
    Client.In().ReadBytes(record.Bytes, kRecordSize);
    return ok && DecodeInt64(record.Bytes) == id;
  }

  bool Write(int64_t id) {
    Client.Out().WriteInteger(kInsert);
    Client.Out().WriteInteger(View);
    Client.Out().WriteBytes(MakeRecord(id).Bytes, kRecordSize);
    WriteCommitAndReopen();
    Client.Send();
    bool ok = Expect(0);
    return ReadCommitAndReopen() && ok;
  }

  // Closes the view, commits, ends the session.
  bool End() {
    Client.Out().WriteInteger(kClose);
    Client.Out().WriteInteger(View);
    Client.Out().WriteInteger(kCommit);
    Client.Out().WriteInteger(Transaction);
    Client.Out().WriteInteger(1);  // close session
    Client.Send();
    bool ok = Expect(0);
    ok &= Expect(0);
    ok &= Expect(0);  // the open-objects mask: nothing left open
    return Client.ServerClosed() && ok;
  }

 private:
  void WriteBeginAndOpen() {
    TBinStreamWriter& out = Client.Out();
    out.WriteInteger(kBegin);
    out.WriteInteger(kOpen);
    out.WriteInteger(1);  // table ITEMS
    out.WriteInteger(2);  // fields ID, NAME
    out.WriteInteger(1);
    out.WriteInteger(2);
    out.WriteInteger(Transaction);
    out.WriteInteger(1);  // key: ID by comparator 1
    out.WriteInteger(1);
    out.WriteInteger(1);
  }
  bool ReadBeginAndOpen() {
    bool ok = Expect(0);
    ok &= Expect(Transaction);
    ok &= Expect(0);
    ok &= Expect(View);
    return ok;
  }
  void WriteCommitAndReopen() {
    TBinStreamWriter& out = Client.Out();
    out.WriteInteger(kClose);
    out.WriteInteger(View);
    out.WriteInteger(kCommit);
    out.WriteInteger(Transaction);
    WriteBeginAndOpen();
    out.WriteInteger(kFlush);
  }
  bool ReadCommitAndReopen() {
    bool ok = Expect(0);
    ok &= Expect(0);
    ok &= ReadBeginAndOpen();
    return ok;
  }

  // Reads one integer of the reply; false when it is not `value`.
  bool Expect(int32_t value) { return Client.In().ReadInteger() == value; }

  test::TWireClient Client;
  // Handles of the session: a fresh session's first ones, and since freed
  // handles are reused first, the reopened transaction and view get the
  // numbers of the ones just closed; the replies are checked against them.
  int32_t Transaction = 1;
  int32_t View = 1;
};

struct TClientResult {
  std::vector<double> LatenciesMicros;
  int64_t Reads = 0;
  int64_t Writes = 0;
  int64_t Errors = 0;
};

// The IDs that writes insert, across clients and runs.
std::atomic<int64_t> NextWrittenId{kFirstWrittenId};

void RunClient(int32_t port, int32_t client, uint32_t seed, TClock::time_point end,
               TClientResult& result) {
  try {
    TItemsSession session(port);
    std::mt19937 random(seed + static_cast<uint32_t>(client));
    std::uniform_int_distribution<int32_t> percent(1, 100);
    std::uniform_int_distribution<int64_t> preloaded(0, kPreloaded - 1);
    while (TClock::now() < end) {
      bool read = percent(random) <= kReadPercent;
      auto start = TClock::now();
      bool ok = read ? session.Read(preloaded(random)) : session.Write(NextWrittenId++);
      result.LatenciesMicros.push_back(
          std::chrono::duration<double, std::micro>(TClock::now() - start).count());
      ++(read ? result.Reads : result.Writes);
      if (!ok) ++result.Errors;
    }
    if (!session.End()) ++result.Errors;
  } catch (const std::exception& e) {
    fprintf(stderr, "client %d: %s\n", client, e.what());
    ++result.Errors;
  }
}

double Percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  size_t at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

struct TRunFigures {
  double RequestsPerSecond = 0;
  double P50 = 0;
  double P99 = 0;
  int64_t Reads = 0;
  int64_t Writes = 0;
  int64_t Errors = 0;
};

TRunFigures RunLoad(int32_t port, int32_t clients, double seconds, uint32_t seed) {
  std::vector<TClientResult> results(static_cast<size_t>(clients));
  std::vector<std::thread> threads;
  auto start = TClock::now();
  auto end =
      start + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
  for (int32_t c = 0; c < clients; ++c)
    threads.emplace_back(RunClient, port, c, seed, end, std::ref(results[static_cast<size_t>(c)]));
  for (std::thread& t : threads) t.join();
  double elapsed = std::chrono::duration<double>(TClock::now() - start).count();

  std::vector<double> latencies;
  TRunFigures figures;
  for (TClientResult& r : results) {
    latencies.insert(latencies.end(), r.LatenciesMicros.begin(), r.LatenciesMicros.end());
    figures.Reads += r.Reads;
    figures.Writes += r.Writes;
    figures.Errors += r.Errors;
  }
  figures.RequestsPerSecond = static_cast<double>(latencies.size()) / elapsed;
  figures.P50 = Percentile(latencies, 0.50);
  figures.P99 = Percentile(latencies, 0.99);
  return figures;
}

// Runs one client count kRuns times and prints the run of median
// throughput, with the smallest and largest; returns the errors of all runs.
int64_t MeasureClients(int32_t port, int32_t clients, double seconds, uint32_t seed) {
  std::vector<TRunFigures> runs;
  int64_t errors = 0;
  for (int run = 0; run < kRuns; ++run) {
    runs.push_back(RunLoad(port, clients, seconds, seed + static_cast<uint32_t>(run) * 1000));
    errors += runs.back().Errors;
  }
  std::sort(runs.begin(), runs.end(), [](const TRunFigures& a, const TRunFigures& b) {
    return a.RequestsPerSecond < b.RequestsPerSecond;
  });
  const TRunFigures& median = runs[runs.size() / 2];
  printf(
      "server load %3d clients : %7.0f req/s (min %7.0f, max %7.0f)   p50 %8.1f us   "
      "p99 %8.1f us   (%lld reads, %lld writes; %lld errors in all runs)\n",
      clients, median.RequestsPerSecond, runs.front().RequestsPerSecond,
      runs.back().RequestsPerSecond, median.P50, median.P99, static_cast<long long>(median.Reads),
      static_cast<long long>(median.Writes), static_cast<long long>(errors));
  fflush(stdout);
  return errors;
}

int Main(int argc, char** argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 1.0;
  uint32_t seed = argc > 2 ? static_cast<uint32_t>(strtoul(argv[2], nullptr, 10)) : 42;
  if (seconds <= 0) seconds = 1.0;

  test::TTempDir dir;
  SetLogFile(dir.File("KORLIB.OUT"));
  std::string structure =
      "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
      "TABLE ITEMS FILENAME '" +
      dir.File("ITEMS.TBL") +
      "'\n"
      "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 20 END\n"
      "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
      "ENDTABLE\nEND\n";
  TEngineSettings settings = test::SmallDatabase(dir, structure);
  settings.IndexFileMinBuffer = 1000;
  auto server = MakeRef<TZServer>(TEngine::Build(settings), 0, 0, "127.0.0.1");
  server->Start();
  int32_t port = server->Port();

  printf("Server:  127.0.0.1:%d, engine in this process, one session on the engine at a time\n",
         port);
  printf(
      "Table:   ITEMS, %d records preloaded; %d%% reads (seek + fetch), %d%% writes "
      "(insert + commit)\n",
      kPreloaded, kReadPercent, 100 - kReadPercent);
  printf(
      "Runs:    %d of %.1f s per client count (seeds %u, +1000, +2000); the median run "
      "(min, max)\n",
      kRuns, seconds, seed);
  printf("------------------------------------------------\n");
  int64_t errors = 0;
  {
    TItemsSession loader(port);
    if (!loader.Load(0, kPreloaded) || !loader.End()) ++errors;
  }
  for (int32_t clients : {1, 8, 64}) errors += MeasureClients(port, clients, seconds, seed);
  printf("------------------------------------------------\n");

  server.ReleaseLast();
  CheckNoLiveObjects();  // a leak ends the process through the fatal report
  printf("Shut-down: every session ended, no engine object left; %lld errors\n",
         static_cast<long long>(errors));
  return errors == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kor

int main(int argc, char** argv) { return kor::Main(argc, argv); }
