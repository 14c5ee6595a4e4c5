// Writers killed at random moments, and what survives them. Each run forks
// a child that builds the engine from CONFIG.ZSR over two tables with
// unique indexes and runs seeded random transactions through table views:
// up to three top-level transactions at a time, nested ones inside them,
// inserts, updates and deletes that collide on unique keys, commits and
// rollbacks. Before each top-level commit the child tells the parent, over
// a pipe, the changes the transaction made (every row it inserted, and
// every row it deleted as it read it); once the commit has returned, it
// says so before it does anything else. The parent kills the child with
// SIGKILL at a random delay (some land in its start-up) or at a random
// moment within the time the first large commit it announces should take,
// so that many kills land inside a commit. In every other run a second
// child then only builds the engine and is killed during that, so that the
// start-up recovery is itself cut short. The delays only spread the kills:
// no check depends on timing.
//
// After each kill the parent builds the engine again (recovery scan and
// index rebuild) and checks:
//   1. The rows of both tables are exactly those of the confirmed commits,
//      applied in commit order to the rows before the run; a commit that
//      was announced but not confirmed is present whole or absent whole.
//      So nothing uncommitted is visible and nothing committed is lost.
//   2. Every stored version is committed and open: 0 < !BEGTIME <=
//      LastCommitted, !ENDTIME = 0, both times present.
//   3. The unique keys hold: ID in each table, CODE in ACCOUNTS, (ACCOUNT,
//      LINE) in ENTRIES.
//   4. Each table's ID counter is above every stored ID.
//   5. Every index passes CheckInvariants, holds one key per stored
//      version, and the index pages and the free pages are exactly the
//      pages of the index file; a view in ID order and one in an order
//      built on demand read the same rows; the engine comes down with no
//      object left.
// Set KOR_VERSION_CRASH_SEED to replay a seed that the test printed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"

#include "engine/storage/autoinc.h"
#include "engine/storage/index.h"
#include "engine/storage/transaction.h"
#include "engine/tables/raw_table.h"
#include "engine/tables/table.h"
#include "engine/tables/table_index.h"

#include "engine/protocol/engine.h"

#include "tests/support/config_fixture.h"
#include "tests/support/database_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/version_fixture.h"

namespace kor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 60;
// A child that is never killed stops after this many transactions.
constexpr int kTransactionsPerChild = 100'000;
// Longest delay of a random kill after the child is ready, in microseconds.
constexpr int kLateKillDelay = 40'000;
// A commit-kill run waits for at most this long for a large commit.
constexpr int kCommitWaitLimit = 2'000'000;
// Commits of at least this many changes are large: worth aiming a kill at.
constexpr size_t kLargeCommit = 15;
constexpr size_t kMaxSessions = 3;
constexpr size_t kMaxDepth = 3;  // a top-level transaction and two nested levels

// Table numbers in the structure file, and the value ranges that make the
// unique keys collide.
constexpr uint8_t kAccounts = 1;
constexpr uint8_t kEntries = 2;
constexpr int64_t kCodes = 120;       // ACCOUNTS.CODE, unique
constexpr int64_t kAccountRefs = 10;  // ENTRIES.ACCOUNT
constexpr int64_t kLines = 12;        // ENTRIES.LINE; (ACCOUNT, LINE) unique
constexpr int32_t kNoteSize = 24;

// 128-byte index pages keep the trees deep: two or three keys a page.
const char* const kStructure =
    "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
    "TABLE ACCOUNTS FILENAME '{dir}/ACCOUNTS.TBL'\n"
    "  RECORDTYPE FIELD ID INTEGER 8 FIELD CODE INTEGER 4 FIELD BALANCE INTEGER 8\n"
    "             FIELD NOTE STRING 24 END\n"
    "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END INDEX FIELD CODE BYNUMBER END END\n"
    "ENDTABLE\n"
    "TABLE ENTRIES FILENAME '{dir}/ENTRIES.TBL'\n"
    "  RECORDTYPE FIELD ID INTEGER 8 FIELD ACCOUNT INTEGER 8 FIELD LINE INTEGER 4\n"
    "             FIELD AMOUNT INTEGER 8 END\n"
    "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END\n"
    "                INDEX FIELD ACCOUNT BYNUMBER FIELD LINE BYNUMBER END END\n"
    "ENDTABLE\n"
    "END\n";
constexpr int32_t kIndexPageShift = 7;
const char* const kTableNames[] = {"", "ACCOUNTS", "ENTRIES"};
// Stored record sizes: the two times, the declared fields, a bitmap byte.
const int32_t kStoredSizes[] = {0, 8 + 8 + 8 + 4 + 8 + kNoteSize + 1, 8 + 8 + 8 + 8 + 4 + 8 + 1};

uint32_t ChooseSeed() {
  if (const char* text = std::getenv("KOR_VERSION_CRASH_SEED")) {
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
  }
  return std::random_device{}();
}

// One row of either table. ACCOUNTS: A = CODE, B = BALANCE, and NOTE is
// derived from ID and BALANCE. ENTRIES: A = ACCOUNT, B = LINE, C = AMOUNT.
struct TRow {
  int64_t Id = 0;
  int64_t A = 0;
  int64_t B = 0;
  int64_t C = 0;
  bool operator==(const TRow&) const = default;
};

std::string NoteOf(const TRow& row) {
  return "acct " + std::to_string(row.Id) + " " + std::to_string(row.B);
}

using TRowKey = std::pair<uint8_t, int64_t>;  // table, ID
using TModel = std::map<TRowKey, TRow>;

// A change as the child reports it: '+' a row inserted, '-' a row deleted
// (as the child read it). An update is a deletion and an insertion.
struct TChange {
  uint8_t Table;
  char Op;
  TRow Row;
};

// Messages from child to parent (integers little-endian):
//   'R'                                  the engine is built
//   'C' number:8 count:4 count*change    a top-level commit begins
//   'D' number:8                         that commit has returned
// A change is table:1 op:1 ID:8 A:8 B:8 C:8.
constexpr size_t kChangeSize = 1 + 1 + 4 * 8;

void AppendInt64(std::string& out, int64_t value) {
  unsigned char bytes[8];
  EncodeInt64(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

int64_t Int64At(const std::string& in, size_t at) {
  return DecodeInt64(reinterpret_cast<const unsigned char*>(in.data() + at));
}

// Applies `changes` to `model`; false (leaving `model` partly changed)
// when a deletion finds no such row or an insertion finds one.
bool Apply(TModel& model, const std::vector<TChange>& changes, std::string& why) {
  for (const TChange& change : changes) {
    TRowKey key{change.Table, change.Row.Id};
    auto at = model.find(key);
    if (change.Op == '+') {
      if (at != model.end()) {
        why = "inserted twice: ID " + std::to_string(change.Row.Id);
        return false;
      }
      model.emplace(key, change.Row);
    } else {
      if (at == model.end() || !(at->second == change.Row)) {
        why = "deleted a row that was not committed as read: ID " + std::to_string(change.Row.Id);
        return false;
      }
      model.erase(at);
    }
  }
  return true;
}

// The field numbers of the declared (and view) records.
constexpr int32_t kIdField = 1;
const std::vector<int32_t> kAllFields = {1, 2, 3, 4};

void WriteRow(uint8_t table, const TRecordType& type, unsigned char* record, const TRow& row) {
  test::SetInt(type, record, 1, row.Id);
  test::SetInt(type, record, 2, row.A);
  test::SetInt(type, record, 3, row.B);
  if (table == kAccounts) {
    test::SetText(type, record, 4, NoteOf(row));
  } else {
    test::SetInt(type, record, 4, row.C);
  }
}

// The row of a record whose fields start at `first` (1 for a view record,
// 3 for a stored one); nullopt when a field is null or the NOTE is wrong.
std::optional<TRow> ReadRow(uint8_t table, const TRecordType& type, const unsigned char* record,
                            int32_t first) {
  TRow row;
  std::optional<int64_t> id = test::GetInt(type, record, first);
  std::optional<int64_t> a = test::GetInt(type, record, first + 1);
  std::optional<int64_t> b = test::GetInt(type, record, first + 2);
  if (!id || !a || !b) return std::nullopt;
  row.Id = *id;
  row.A = *a;
  row.B = *b;
  if (table == kAccounts) {
    std::optional<std::string> note = test::GetText(type, record, first + 3);
    if (!note || *note != NoteOf(row)) return std::nullopt;
  } else {
    std::optional<int64_t> c = test::GetInt(type, record, first + 3);
    if (!c) return std::nullopt;
    row.C = *c;
  }
  return row;
}

// ---- The child -----------------------------------------------------------

class TCrashChild {
 public:
  TCrashChild(std::string configFile, int out, uint32_t seed)
      : ConfigFile(std::move(configFile)), Out(out), Random(seed) {}

  // Never returns and never runs the parent's destructors. Exit codes other
  // than 0 name what failed.
  [[noreturn]] void Run() {
    try {
      Engine = test::LoadEngineFromConfigFile(ConfigFile);
      for (uint8_t t : {kAccounts, kEntries}) {
        TTableOf& table = Tables[t];
        table.Raw = Engine->Table(t);
        table.Ids = Engine->Counters().Find(kTableNames[t]);
        if (!table.Ids) _exit(3);
        table.ById = test::MakeOrder(table.Raw->DeclaredRecordType(), {kIdField},
                                     *Engine->CompFuncs().Get(1));
      }
      OpenByBalance();
      Send("R");
      for (int n = 0; n < kTransactionsPerChild;) {
        if (Step()) ++n;
      }
    } catch (const EZException& e) {
      std::fprintf(stderr, "child: %s\n", e.Describe().c_str());
      _exit(6);
    }
    _exit(0);
  }

 private:
  struct TTableOf {
    Ref<TRawTable> Raw;
    Ref<TAutoinc> Ids;
    Ref<TRecordCompFunc> ById;
  };
  struct TLevel {
    Ref<TTransaction> Transaction;
    std::vector<TChange> Changes;
  };
  struct TSession {
    std::vector<TLevel> Levels;  // the top-level transaction first
    int32_t StepsLeft = 0;
  };

  int64_t Uniform(int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(Random);
  }
  bool Chance(int percent) { return Uniform(0, 99) < percent; }

  void Send(const std::string& message) {
    size_t done = 0;
    while (done < message.size()) {
      ssize_t n = write(Out, message.data() + done, message.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) _exit(4);
      done += static_cast<size_t>(n);
    }
  }

  // A view of ACCOUNTS ordered by BALANCE, opened once: its index is built
  // on demand and then kept in step with every change, as a client's
  // would be.
  void OpenByBalance() {
    TTableOf& accounts = Tables[kAccounts];
    auto order =
        test::MakeOrder(accounts.Raw->DeclaredRecordType(), {3}, *Engine->CompFuncs().Get(1));
    auto reader = MakeRef<TTransaction>(Ref<TTransactionMgr>::Share(Engine->TransactionMgr()));
    auto view = MakeRef<TTable>(accounts.Raw, kAllFields, reader, *order);
    view.ReleaseLast();
    TTransaction::Finish(std::move(reader), false);
  }

  // One step of a random session; true when it ended a top-level
  // transaction.
  bool Step() {
    if (Sessions.empty() || (Sessions.size() < kMaxSessions && Chance(20))) {
      TSession session;
      session.Levels.push_back(
          {MakeRef<TTransaction>(Ref<TTransactionMgr>::Share(Engine->TransactionMgr())), {}});
      // Mostly small transactions; some large ones make long commits.
      session.StepsLeft = static_cast<int32_t>(Chance(25) ? Uniform(30, 90) : Uniform(1, 20));
      Sessions.push_back(std::move(session));
    }
    size_t which = static_cast<size_t>(Uniform(0, static_cast<int64_t>(Sessions.size()) - 1));
    TSession& session = Sessions[which];
    if (session.StepsLeft > 0) {
      --session.StepsLeft;
      const size_t depth = session.Levels.size();
      if (depth < kMaxDepth && Chance(4)) {
        session.Levels.push_back({TTransaction::Nested(session.Levels.back().Transaction), {}});
      } else if (depth > 1 && Chance(5)) {
        FinishNested(session, Chance(75));
      } else {
        Change(session.Levels.back());
      }
      return false;
    }
    while (session.Levels.size() > 1) FinishNested(session, Chance(75));
    FinishTopLevel(session.Levels.back(), Chance(85));
    Sessions.erase(Sessions.begin() + static_cast<std::ptrdiff_t>(which));
    return true;
  }

  void FinishNested(TSession& session, bool commit) {
    TLevel nested = std::move(session.Levels.back());
    session.Levels.pop_back();
    TTransaction::Finish(std::move(nested.Transaction), commit);
    if (!commit) return;
    std::vector<TChange>& into = session.Levels.back().Changes;
    into.insert(into.end(), nested.Changes.begin(), nested.Changes.end());
  }

  void FinishTopLevel(TLevel& top, bool commit) {
    if (!commit) {
      TTransaction::Finish(std::move(top.Transaction), false);
      return;
    }
    const int64_t number = ++Commits;
    std::string message = "C";
    AppendInt64(message, number);
    unsigned char count[4];
    EncodeInt32(count, static_cast<int32_t>(top.Changes.size()));
    message.append(reinterpret_cast<const char*>(count), sizeof count);
    for (const TChange& change : top.Changes) {
      message += static_cast<char>(change.Table);
      message += change.Op;
      for (int64_t value : {change.Row.Id, change.Row.A, change.Row.B, change.Row.C}) {
        AppendInt64(message, value);
      }
    }
    Send(message);
    TTransaction::Finish(std::move(top.Transaction), true);
    std::string done = "D";
    AppendInt64(done, number);
    Send(done);
  }

  TRow RandomRow(uint8_t table, int64_t id) {
    if (table == kAccounts) return {id, Uniform(0, kCodes - 1), Uniform(-1000, 1000), 0};
    return {id, Uniform(1, kAccountRefs), Uniform(0, kLines - 1), Uniform(-500, 500)};
  }

  // An insertion, update or deletion in one table, through a view of the
  // level's transaction; a refused one changes nothing and is not reported.
  void Change(TLevel& level) {
    const uint8_t table = Chance(50) ? kAccounts : kEntries;
    TTableOf& of = Tables[table];
    auto view = MakeRef<TTable>(of.Raw, kAllFields, level.Transaction, *of.ById);
    const TRecordType& type = view->ViewRecordType();
    unsigned char* record = view->ViewBuffer();
    const int op = static_cast<int>(Uniform(0, 99));
    if (op < 45) {
      TRow row = RandomRow(table, of.Ids->NextValue());
      WriteRow(table, type, record, row);
      if (view->Insert()) level.Changes.push_back({table, '+', row});
      view.ReleaseLast();
      return;
    }
    test::SetInt(type, record, kIdField, Uniform(1, of.Ids->Value()));
    view->SeekKey(1, true);
    if (!view->IsOnRecord()) {
      view->GoBeforeFirst();
      view->Next();
    }
    if (view->IsOnRecord() && view->ReadCurrent()) {
      std::optional<TRow> old = ReadRow(table, type, record, 1);
      if (!old) _exit(5);
      if (op < 75) {
        if (view->Delete()) level.Changes.push_back({table, '-', *old});
      } else {
        TRow row = RandomRow(table, old->Id);
        WriteRow(table, type, record, row);
        if (view->Update()) {
          level.Changes.push_back({table, '-', *old});
          level.Changes.push_back({table, '+', row});
        }
      }
    }
    view.ReleaseLast();
  }

  std::string ConfigFile;
  int Out;
  std::mt19937 Random;
  Ref<TEngine> Engine;
  TTableOf Tables[3];
  std::vector<TSession> Sessions;
  int64_t Commits = 0;
};

// A child that only builds the engine (start-up recovery, index builds, ID
// counters), says so, and waits to be killed.
[[noreturn]] void BuildAndWait(const std::string& configFile, int out) {
  try {
    Ref<TEngine> engine = test::LoadEngineFromConfigFile(configFile);
    if (write(out, "R", 1) != 1) _exit(4);
    for (;;) pause();
  } catch (const EZException& e) {
    std::fprintf(stderr, "child: %s\n", e.Describe().c_str());
    _exit(6);
  }
}

// ---- The parent ----------------------------------------------------------

// What the parent read from one child.
struct TReport {
  bool Ready = false;
  std::vector<std::vector<TChange>> Confirmed;   // in commit order
  std::optional<std::vector<TChange>> InFlight;  // announced, not confirmed
  int Announced = 0;
};

// Parses the complete messages of `bytes` from `at` on into `report`;
// returns where the first incomplete one starts (a message cut by the kill
// stays there).
size_t ParseMessages(const std::string& bytes, size_t at, TReport& report) {
  for (;;) {
    if (at >= bytes.size()) return at;
    const char kind = bytes[at];
    if (kind == 'R') {
      report.Ready = true;
      at += 1;
    } else if (kind == 'C') {
      if (bytes.size() - at < 13) return at;
      const int32_t count =
          DecodeInt32(reinterpret_cast<const unsigned char*>(bytes.data() + at + 9));
      const size_t size = 13 + static_cast<size_t>(count) * kChangeSize;
      if (bytes.size() - at < size) return at;
      std::vector<TChange> changes;
      for (int32_t i = 0; i < count; ++i) {
        const size_t c = at + 13 + static_cast<size_t>(i) * kChangeSize;
        TChange change{static_cast<uint8_t>(bytes[c]), bytes[c + 1], {}};
        change.Row = {Int64At(bytes, c + 2), Int64At(bytes, c + 10), Int64At(bytes, c + 18),
                      Int64At(bytes, c + 26)};
        changes.push_back(change);
      }
      report.InFlight = std::move(changes);
      ++report.Announced;
      at += size;
    } else if (kind == 'D') {
      if (bytes.size() - at < 9) return at;
      if (!report.InFlight) {
        ADD_FAILURE() << "commit confirmed without announcement";
        return bytes.size();
      }
      report.Confirmed.push_back(std::move(*report.InFlight));
      report.InFlight.reset();
      at += 9;
    } else {
      ADD_FAILURE() << "unknown message " << static_cast<int>(kind);
      return bytes.size();
    }
  }
}

class VersionCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    std::string structure = kStructure;
    for (size_t at; (at = structure.find("{dir}")) != std::string::npos;) {
      structure.replace(at, 5, Dir.Path());
    }
    TEngineSettings settings = test::SmallDatabase(Dir, structure, "TIME $1\r\n");
    settings.IndexFileClusterShl = kIndexPageShift;
    settings.IndexFileMinBuffer = 8;
    test::WriteConfigFile(ConfigFile(), settings);
    LiveAtStart = TZObject::LiveObjectCount();
  }

  std::string ConfigFile() const { return Dir.File("CONFIG.ZSR"); }

  // Kills the child when `deadline` passes or, in a commit-kill run, at a
  // random moment within the time the first large commit announced should
  // take (its changes times the cost per change seen so far); reads every
  // message the child sent until the pipe ends.
  TReport Supervise(pid_t child, int in, Clock::time_point forkedAt, Clock::time_point deadline,
                    bool killInCommit, int64_t& readyMicros) {
    TReport report;
    std::string bytes;
    size_t parsed = 0;
    bool killed = false;
    bool aimed = false;
    for (;;) {
      // select, for its timeout in microseconds.
      timeval wait{};
      timeval* timeout = nullptr;
      if (!killed) {
        const int64_t left = std::max<int64_t>(0, MicrosBetween(Clock::now(), deadline));
        wait.tv_sec = static_cast<time_t>(left / 1'000'000);
        wait.tv_usec = static_cast<suseconds_t>(left % 1'000'000);
        timeout = &wait;
      }
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(in, &readable);
      if (select(in + 1, &readable, nullptr, nullptr, timeout) > 0) {
        char chunk[65536];
        ssize_t n = read(in, chunk, sizeof chunk);
        if (n == 0) break;  // the child is gone
        if (n > 0) {
          bytes.append(chunk, static_cast<size_t>(n));
          const bool wasReady = report.Ready;
          const int announced = report.Announced;
          const size_t confirmed = report.Confirmed.size();
          parsed = ParseMessages(bytes, parsed, report);
          const auto now = Clock::now();
          if (report.Ready && !wasReady) {
            readyMicros = std::max(readyMicros, MicrosBetween(forkedAt, now));
          }
          if (report.Confirmed.size() > confirmed && announced == report.Announced) {
            NoteCommitCost(report.Confirmed.back().size(), MicrosBetween(AnnouncedAt, now));
          }
          if (report.Announced > announced) AnnouncedAt = now;
          if (killInCommit && !aimed && report.InFlight &&
              report.InFlight->size() >= kLargeCommit) {
            aimed = true;
            const auto changes = static_cast<int64_t>(report.InFlight->size());
            deadline = now + std::chrono::microseconds(Uniform(0, changes * MicrosPerChange));
          }
        }
      }
      if (!killed && Clock::now() >= deadline) {
        kill(child, SIGKILL);
        killed = true;
      }
    }
    return report;
  }

  // Forks a child that runs `body` (which never returns) with the write end
  // of a pipe, kills it `delay` after the fork (or as Supervise aims it),
  // and reaps it. `readyMicros` keeps the longest time to 'R' seen.
  template <typename TBody>
  TReport RunChild(TBody&& body, std::chrono::microseconds delay, bool killInCommit,
                   int64_t& readyMicros) {
    int messages[2];
    EXPECT_EQ(pipe(messages), 0);
    std::fflush(nullptr);
    const auto forkedAt = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
      close(messages[0]);
      body(messages[1]);
    }
    close(messages[1]);
    EXPECT_GT(child, 0);
    if (child < 0) return {};
    TReport report =
        Supervise(child, messages[0], forkedAt, forkedAt + delay, killInCommit, readyMicros);
    close(messages[0]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    const bool expected = (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                          (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (!expected) {
      ADD_FAILURE() << "child status " << status << "; log:\n"
                    << test::ReadWholeFile(Dir.File("KORLIB.OUT"));
    }
    return report;
  }

  static int64_t MicrosBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
  }

  // A commit seen whole (announced and confirmed in different reads).
  void NoteCommitCost(size_t changes, int64_t micros) {
    if (changes < kLargeCommit) return;
    MicrosPerChange = std::max(MicrosPerChange, micros / static_cast<int64_t>(changes));
  }

  int64_t Uniform(int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(*Random);
  }

  // Before a restart: the versions that carry the next commit time, which
  // only a commit cut short between stamping and advancing the time counter
  // leaves behind (the counter file's first record is the time counter).
  int32_t VersionsStampedPastTheCounter() const {
    const std::string counters = test::ReadWholeFile(Dir.File("COUNTERS.ZSR"));
    const size_t at = counters.find("TIME $");
    if (at == std::string::npos) {
      ADD_FAILURE() << "no time counter";
      return 0;
    }
    const TTimeStamp next = HexToInt64(counters.substr(at + 6, 16)) + 1;
    int32_t stamped = 0;
    for (uint8_t t : {kAccounts, kEntries}) {
      const size_t blockSize = static_cast<size_t>(kStoredSizes[t]) + 4;
      const std::string bytes = test::ReadWholeFile(TableFile(t));
      for (size_t n = 1; (n + 1) * blockSize <= bytes.size(); ++n) {
        const auto* block = reinterpret_cast<const unsigned char*>(bytes.data()) + n * blockSize;
        if (DecodeInt32(block) != 1) continue;
        if (TRawTable::BegTime(block + 4) == next || TRawTable::EndTime(block + 4) == next) {
          ++stamped;
        }
      }
    }
    return stamped;
  }

  std::string TableFile(uint8_t t) const { return Dir.File(std::string(kTableNames[t]) + ".TBL"); }

  // Restarts the engine and checks rules 1 to 5 against `expected`, or
  // against `expected` with `inFlight` applied; returns the rows found.
  // `inFlightPresent` tells which of the two it was.
  TModel Restart(const TModel& expected, const std::optional<std::vector<TChange>>& inFlight,
                 bool& inFlightPresent) {
    auto start = Clock::now();
    Ref<TEngine> engine = test::LoadEngineFromConfigFile(ConfigFile());
    StartupMicros = std::max<int64_t>(
        StartupMicros,
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    const TTimeStamp last = engine->TransactionMgr().LastCommitted();
    EXPECT_GE(last, LastCommitted);
    LastCommitted = last;

    TModel found;
    std::map<uint8_t, int32_t> versions;
    for (uint8_t t : {kAccounts, kEntries}) {
      Ref<TRawTable> raw = engine->Table(t);
      ReadStoredVersions(t, *raw, last, found, versions[t]);
      ExpectViewsRead(t, *engine, found);
      // Rule 4.
      int64_t maxId = 0;
      for (const auto& [key, row] : found) {
        if (key.first == t) maxId = std::max(maxId, row.Id);
      }
      EXPECT_GT(engine->Counters().Find(kTableNames[t])->Value(), maxId) << kTableNames[t];
    }
    ExpectUniqueKeys(found);
    ExpectIndexesSound(*engine, versions);

    // Rule 1.
    inFlightPresent = false;
    if (found != expected) {
      TModel with = expected;
      std::string why;
      if (!inFlight || !Apply(with, *inFlight, why) || found != with) {
        ADD_FAILURE() << "the tables hold " << found.size() << " rows, the confirmed commits "
                      << expected.size() << (inFlight ? " (a commit was in flight)" : "") << "; "
                      << Difference(expected, found);
      }
      inFlightPresent = true;
    }
    engine.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart);
    return found;
  }

  static std::string Difference(const TModel& expected, const TModel& found) {
    std::string text;
    for (const auto& [key, row] : expected) {
      auto at = found.find(key);
      if (at == found.end()) {
        text +=
            " missing " + std::string(kTableNames[key.first]) + " " + std::to_string(key.second);
      } else if (!(at->second == row)) {
        text +=
            " changed " + std::string(kTableNames[key.first]) + " " + std::to_string(key.second);
      }
    }
    for (const auto& [key, row] : found) {
      if (expected.count(key) == 0) {
        text += " extra " + std::string(kTableNames[key.first]) + " " + std::to_string(key.second);
      }
    }
    return text.substr(0, 2000);
  }

  // Rule 2, from the bytes of the table file; adds the rows to `found`.
  void ReadStoredVersions(uint8_t t, TRawTable& raw, TTimeStamp last, TModel& found,
                          int32_t& versions) {
    const TRecordType& stored = raw.StoredRecordType();
    EXPECT_EQ(stored.RecordSize(), kStoredSizes[t]);
    const size_t blockSize = static_cast<size_t>(stored.RecordSize()) + 4;
    const std::string bytes = test::ReadWholeFile(TableFile(t));
    versions = 0;
    for (size_t n = 1; (n + 1) * blockSize <= bytes.size(); ++n) {
      const auto* block = reinterpret_cast<const unsigned char*>(bytes.data()) + n * blockSize;
      if (DecodeInt32(block) != 1) continue;
      ++versions;
      const unsigned char* record = block + 4;
      SCOPED_TRACE(std::string(kTableNames[t]) + " block " + std::to_string(n));
      const TTimeStamp begin = TRawTable::BegTime(record);
      EXPECT_TRUE(begin > 0 && begin <= last) << begin;
      EXPECT_EQ(TRawTable::EndTime(record), 0);
      EXPECT_FALSE(stored.IsNull(record, TRawTable::kBegTimeField));
      EXPECT_FALSE(stored.IsNull(record, TRawTable::kEndTimeField));
      std::optional<TRow> row = ReadRow(t, stored, record, 3);
      if (!row) {
        ADD_FAILURE() << "a version with null or wrong fields";
        continue;
      }
      EXPECT_TRUE(found.emplace(TRowKey{t, row->Id}, *row).second) << "ID twice: " << row->Id;
    }
  }

  // Rule 5: views in ID order and in BALANCE (ACCOUNTS) or AMOUNT (ENTRIES)
  // order, the latter built now from the recovered versions, read exactly
  // the stored rows.
  void ExpectViewsRead(uint8_t t, TEngine& engine, const TModel& found) {
    Ref<TRawTable> raw = engine.Table(t);
    auto reader = MakeRef<TTransaction>(Ref<TTransactionMgr>::Share(engine.TransactionMgr()));
    for (int32_t field : {kIdField, t == kAccounts ? 3 : 4}) {
      auto order = test::MakeOrder(raw->DeclaredRecordType(), {field}, *engine.CompFuncs().Get(1));
      auto view = MakeRef<TTable>(raw, kAllFields, reader, *order);
      TModel read;
      view->GoBeforeFirst();
      for (view->Next(); view->IsOnRecord(); view->Next()) {
        EXPECT_TRUE(view->ReadCurrent());
        std::optional<TRow> row = ReadRow(t, view->ViewRecordType(), view->ViewBuffer(), 1);
        if (row) read.emplace(TRowKey{t, row->Id}, *row);
      }
      TModel stored;
      for (const auto& [key, row] : found) {
        if (key.first == t) stored.emplace(key, row);
      }
      EXPECT_TRUE(read == stored) << kTableNames[t] << " view by field " << field;
      view.ReleaseLast();
    }
    TTransaction::Finish(std::move(reader), false);
  }

  // Rule 3 (IDs are keys of the model, so checked on reading).
  static void ExpectUniqueKeys(const TModel& found) {
    std::set<int64_t> codes;
    std::set<std::pair<int64_t, int64_t>> lines;
    for (const auto& [key, row] : found) {
      if (key.first == kAccounts) {
        EXPECT_TRUE(codes.insert(row.A).second) << "CODE twice: " << row.A;
      } else {
        EXPECT_TRUE(lines.insert({row.A, row.B}).second)
            << "ACCOUNT, LINE twice: " << row.A << ", " << row.B;
      }
    }
  }

  // Rule 5: each tree's own rules, one key per stored version, and rule 10
  // of the index file over all the trees together.
  static void ExpectIndexesSound(TEngine& engine, std::map<uint8_t, int32_t>& versions) {
    std::vector<std::pair<TIndex*, int32_t>> trees;
    int32_t totalPages = 0;
    for (uint8_t t : {kAccounts, kEntries}) {
      Ref<TRawTable> raw = engine.Table(t);
      for (int32_t i = 0; i < raw->IndexCount(); ++i) {
        TIndex& tree = raw->IndexAt(i).Index();
        TIndexShape shape;
        tree.CheckInvariants(&shape);
        EXPECT_EQ(shape.Keys, versions[t]) << kTableNames[t] << " index " << i;
        trees.push_back({&tree, shape.Pages});
        totalPages += shape.Pages;
      }
    }
    for (const auto& [tree, pages] : trees) {
      EXPECT_EQ(tree->CheckInvariants(nullptr, totalPages - pages), "");
    }
  }

  test::TTempDir Dir;
  int32_t LiveAtStart = 0;
  std::optional<std::mt19937> Random;
  TTimeStamp LastCommitted = 0;
  int64_t StartupMicros = 1;
  // The longest times from fork to 'R' of writers and of recovery children.
  int64_t WriterReadyMicros = 1;
  int64_t RecoveryReadyMicros = 1;
  int64_t MicrosPerChange = 20;
  Clock::time_point AnnouncedAt;
};

TEST_F(VersionCrashTest, KilledWritersLeaveEveryCommitWholeOrAbsent) {
  const uint32_t seed = ChooseSeed();
  std::printf("version crash test seed %u (KOR_VERSION_CRASH_SEED=%u replays it)\n", seed, seed);
  std::fflush(stdout);
  RecordProperty("seed", std::to_string(seed));
  Random.emplace(seed);

  bool present = false;
  TModel model = Restart({}, std::nullopt, present);
  int killedBeforeReady = 0;
  int killedInRecovery = 0;
  int inFlightPresent = 0;
  int inFlightAbsent = 0;
  int killedMidWalk = 0;
  int confirmed = 0;
  size_t mostRows = 0;
  const auto began = Clock::now();

  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
    // Half the writers are killed at a random delay (some during their
    // start-up), half inside a large commit.
    const bool inCommit = Uniform(0, 1) == 1;
    const uint32_t childSeed = static_cast<uint32_t>(Uniform(0, UINT32_MAX));
    const auto delay = std::chrono::microseconds(
        inCommit ? kCommitWaitLimit : Uniform(0, WriterReadyMicros + kLateKillDelay));
    TReport report = RunChild([&](int out) { TCrashChild(ConfigFile(), out, childSeed).Run(); },
                              delay, inCommit, WriterReadyMicros);
    if (HasFatalFailure()) return;
    if (!report.Ready) ++killedBeforeReady;

    std::string why;
    for (const std::vector<TChange>& changes : report.Confirmed) {
      ASSERT_TRUE(Apply(model, changes, why)) << why;
      ++confirmed;
    }
    const bool midWalk = report.InFlight && VersionsStampedPastTheCounter() > 0;
    if (midWalk) ++killedMidWalk;

    // Every other run, the recovery of what the writer left is itself cut
    // short: a second child only builds the engine, and is killed at a
    // random moment within the time that takes.
    if (Uniform(0, 1) == 1) {
      TReport recovery = RunChild(
          [&](int out) { BuildAndWait(ConfigFile(), out); },
          std::chrono::microseconds(Uniform(0, std::max(RecoveryReadyMicros, 2 * StartupMicros))),
          false, RecoveryReadyMicros);
      if (HasFatalFailure()) return;
      if (!recovery.Ready) ++killedInRecovery;
    }

    model = Restart(model, report.InFlight, present);
    if (report.InFlight) ++(present ? inFlightPresent : inFlightAbsent);
    mostRows = std::max(mostRows, model.size());
    if (HasFailure()) return;
  }
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count();
  std::printf(
      "%d runs in %lld ms: %d commits confirmed; %d writers killed before their engine was built, "
      "%d recoveries cut short; %d kills with a commit in flight (%d present whole, %d absent "
      "whole; %d cut between stamping versions and advancing the time counter); at most %zu "
      "rows\n",
      kRuns, static_cast<long long>(took), confirmed, killedBeforeReady, killedInRecovery,
      inFlightPresent + inFlightAbsent, inFlightPresent, inFlightAbsent, killedMidWalk, mostRows);
}

}  // namespace
}  // namespace kor
