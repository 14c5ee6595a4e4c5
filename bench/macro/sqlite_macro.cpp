// The macro benchmark's workloads on SQLite through its C API, in the
// working directory's file "macro.db". No sync at commit (synchronous=OFF,
// the journal in memory), a 16 MB page cache as Kor's index buffer pool.
//
//   sqlite_macro N

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/macro/workload.h"

namespace kor::bench {
namespace {

constexpr char kFile[] = "macro.db";

void Check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::fprintf(stderr, "sqlite_macro: %s: %s\n", what, db ? sqlite3_errmsg(db) : "");
  std::exit(1);
}

void Exec(sqlite3* db, const char* sql) {
  Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
}

sqlite3* Open() {
  sqlite3* db = nullptr;
  Check(sqlite3_open(kFile, &db), db, "open");
  Exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY; PRAGMA cache_size=-16384;");
  return db;
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), db, sql);
  return stmt;
}

// Reads every column of the row, as a client would.
double Consume(sqlite3_stmt* stmt) {
  const int64_t id = sqlite3_column_int64(stmt, 0);
  const unsigned char* name = sqlite3_column_text(stmt, 1);
  const double amount = sqlite3_column_double(stmt, 2);
  return static_cast<double>(id) + amount + (name != nullptr ? name[0] : 0);
}

double Scan(sqlite3* db, const char* sql, int64_t n, const char* workload, const TReport& report) {
  TStopwatch watch;
  sqlite3_stmt* stmt = Prepare(db, sql);
  double sink = 0;
  int64_t rows = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    sink += Consume(stmt);
    ++rows;
  }
  sqlite3_finalize(stmt);
  report.PerOp(workload, watch, n);
  if (rows != n)
    std::fprintf(stderr, "sqlite_macro: %s read %lld rows\n", workload, (long long)rows);
  return sink;
}

int Run(int64_t n) {
  std::remove(kFile);
  TReport report("sqlite-c", n);
  sqlite3* db = Open();
  Exec(db,
       "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT NOT NULL, amount REAL NOT NULL);"
       "CREATE INDEX t_name ON t(name);");
  double sink = 0;

  {  // W1
    TStopwatch watch;
    Exec(db, "BEGIN");
    sqlite3_stmt* insert = Prepare(db, "INSERT INTO t(id, name, amount) VALUES (?, ?, ?)");
    for (int64_t id = 1; id <= n; ++id) {
      const std::string name = NameOf(id);
      sqlite3_bind_int64(insert, 1, id);
      sqlite3_bind_text(insert, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_double(insert, 3, AmountOf(id));
      Check(sqlite3_step(insert), db, "insert");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT");
    report.PerOp("W1", watch, n);
  }
  // W2-W4 read in one transaction, as the Kor and JDBC clients do.
  Exec(db, "BEGIN");
  {  // W2
    const std::vector<int64_t> order = Shuffled(n, kLookupSeed);
    TStopwatch watch;
    sqlite3_stmt* select = Prepare(db, "SELECT id, name, amount FROM t WHERE id = ?");
    for (int64_t id : order) {
      sqlite3_bind_int64(select, 1, id);
      if (sqlite3_step(select) != SQLITE_ROW) std::exit(2);
      sink += Consume(select);
      sqlite3_reset(select);
    }
    sqlite3_finalize(select);
    report.PerOp("W2", watch, n);
  }
  sink += Scan(db, "SELECT id, name, amount FROM t ORDER BY id", n, "W3", report);
  sink += Scan(db, "SELECT id, name, amount FROM t ORDER BY name", n, "W4", report);
  Exec(db, "COMMIT");
  {  // W5
    const std::vector<int64_t> order = Shuffled(n, kUpdateSeed);
    const int64_t count = n / 10;
    TStopwatch watch;
    Exec(db, "BEGIN");
    sqlite3_stmt* update = Prepare(db, "UPDATE t SET amount = ? WHERE id = ?");
    for (int64_t i = 0; i < count; ++i) {
      const int64_t id = order[static_cast<size_t>(i)];
      sqlite3_bind_double(update, 1, UpdatedAmount(id));
      sqlite3_bind_int64(update, 2, id);
      Check(sqlite3_step(update), db, "update");
      sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    Exec(db, "COMMIT");
    report.PerOp("W5", watch, count);
  }
  {  // W6
    const std::vector<int64_t> order = Shuffled(n, kDeleteSeed);
    const int64_t count = n / 10;
    TStopwatch watch;
    Exec(db, "BEGIN");
    sqlite3_stmt* remove = Prepare(db, "DELETE FROM t WHERE id = ?");
    for (int64_t i = 0; i < count; ++i) {
      sqlite3_bind_int64(remove, 1, order[static_cast<size_t>(i)]);
      Check(sqlite3_step(remove), db, "delete");
      sqlite3_reset(remove);
    }
    sqlite3_finalize(remove);
    Exec(db, "COMMIT");
    report.PerOp("W6", watch, count);
  }
  {  // W7
    TStopwatch watch;
    Check(sqlite3_close(db), nullptr, "close");
    db = Open();
    sqlite3_stmt* first = Prepare(db, "SELECT id, name, amount FROM t ORDER BY id LIMIT 1");
    if (sqlite3_step(first) != SQLITE_ROW) std::exit(2);
    sink += Consume(first);
    sqlite3_finalize(first);
    report.PerOp("W7", watch, 1);
  }
  sqlite3_close(db);
  report.Peak();
  std::fprintf(stderr, "sqlite_macro: checksum %.2f\n", sink);
  return 0;
}

}  // namespace
}  // namespace kor::bench

int main(int argc, char** argv) {
  const int64_t n = kor::bench::ParseCount(argc, argv);
  if (n < 10) {
    std::fprintf(stderr, "usage: sqlite_macro N (N >= 10)\n");
    return 1;
  }
  return kor::bench::Run(n);
}
