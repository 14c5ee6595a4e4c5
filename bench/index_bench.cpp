// Index benchmark: insert, point seek and full scan of 1,000,000 keys in a
// B-tree (TIndex) of 4096-byte pages with a pool of 1,000 page buffers, and
// the same workloads on std::set as a yardstick, in one run. Prints one
// line per workload, "name : X ns/op", the median of three runs with the
// smallest and largest, then the page I/O of the last run.
//
// Keys: 16 bytes, two INTEGER 8 fields ordered as signed integers (the
// first, then the second), no null bitmap. The same keys, inserted in the
// same shuffled order, go into a std::set of 16-byte arrays ordered by the
// same two integers.
//
// Workloads:
//   insert  every key, shuffled, through one cursor
//   seek    every key, in another shuffled order: Seek on all fields, and
//           CompareEntry to prove it was found
//   scan    GoBeforeFirst, then Next to the end, reading each entry between
//           Lock and Unlock

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/ref.h"

#include "engine/storage/index.h"
#include "engine/storage/index_file.h"
#include "engine/storage/index_ptr.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"

namespace kor {
namespace {

constexpr int32_t kKeys = 1000000;
constexpr int32_t kPageShift = 12;
constexpr int32_t kBuffers = 1000;
constexpr int kRuns = 3;

using TKey = std::array<unsigned char, 16>;

struct TKeyLess {
  bool operator()(const TKey& a, const TKey& b) const {
    int64_t a1 = DecodeInt64(a.data());
    int64_t b1 = DecodeInt64(b.data());
    if (a1 != b1) return a1 < b1;
    return DecodeInt64(a.data() + 8) < DecodeInt64(b.data() + 8);
  }
};

using TClock = std::chrono::steady_clock;

double NanosPerOp(TClock::time_point start, int64_t ops) {
  return std::chrono::duration<double, std::nano>(TClock::now() - start).count() /
         static_cast<double>(ops);
}

struct TFigures {
  std::vector<double> Insert, Seek, Scan;
};

struct TIo {
  int64_t Reads = 0;
  int64_t Writes = 0;
  int32_t Pages = 0;
  int32_t Buffers = 0;
};

// Side effects the compiler must keep.
uint64_t Sink = 0;

void RunIndex(const std::string& dir, const std::vector<TKey>& insertOrder,
              const std::vector<TKey>& seekOrder, TFigures& figures, TIo& io) {
  auto type = MakeRef<TRecordType>();
  type->AddField("K1", MakeRef<TIntegerType>(kIntegerTypeClass, 8));
  type->AddField("K2", MakeRef<TIntegerType>(kIntegerTypeClass, 8));
  type->Freeze(false);
  auto comp = MakeRef<TRecordCompFunc>(type);
  comp->AddPart(1, MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass));
  comp->AddPart(2, MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass));
  auto file = MakeRef<TIndexFile>(dir + "/INDEX.TMP", kPageShift, kBuffers);
  auto index = MakeRef<TIndex>(file, type, comp);
  auto cursor = MakeRef<TIndexPtr>(index);

  TClock::time_point start = TClock::now();
  for (const TKey& key : insertOrder) cursor->Insert(key.data());
  figures.Insert.push_back(NanosPerOp(start, kKeys));

  start = TClock::now();
  for (const TKey& key : seekOrder) {
    cursor->Seek(key.data(), -1, true);
    Sink += cursor->CompareEntry(key.data(), -1) == 0 ? 1 : 0;
  }
  figures.Seek.push_back(NanosPerOp(start, kKeys));

  start = TClock::now();
  int64_t seen = 0;
  cursor->GoBeforeFirst();
  for (cursor->Next(); cursor->IsOnEntry(); cursor->Next()) {
    cursor->Lock();
    Sink += cursor->Entry()[0];
    cursor->Unlock();
    ++seen;
  }
  figures.Scan.push_back(NanosPerOp(start, seen));
  if (seen != kKeys) fprintf(stderr, "scan saw %lld keys\n", static_cast<long long>(seen));

  io.Reads = file->PageReads();
  io.Writes = file->PageWrites();
  io.Pages = file->PageCount() - file->FreePageCount();
  io.Buffers = file->BufferCount();
  cursor.ReleaseLast();
  index.ReleaseLast();
  comp.Reset();
  type.Reset();
  file.ReleaseLast();
}

void RunSet(const std::vector<TKey>& insertOrder, const std::vector<TKey>& seekOrder,
            TFigures& figures) {
  std::set<TKey, TKeyLess> set;
  TClock::time_point start = TClock::now();
  for (const TKey& key : insertOrder) set.insert(key);
  figures.Insert.push_back(NanosPerOp(start, kKeys));

  start = TClock::now();
  for (const TKey& key : seekOrder) {
    auto it = set.lower_bound(key);
    Sink += it != set.end() && !TKeyLess()(key, *it) ? 1 : 0;
  }
  figures.Seek.push_back(NanosPerOp(start, kKeys));

  start = TClock::now();
  int64_t seen = 0;
  for (const TKey& key : set) {
    Sink += key[0];
    ++seen;
  }
  figures.Scan.push_back(NanosPerOp(start, seen));
}

void Print(const char* name, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  printf("%-22s : %9.1f ns/op   (min %.1f, max %.1f)\n", name, values[values.size() / 2],
         values.front(), values.back());
}

}  // namespace
}  // namespace kor

int main() {
  using namespace kor;
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kor-index-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    perror("mkdtemp");
    return 1;
  }
  SetLogFile(pattern + "/KORLIB.OUT");

  // Distinct keys: the first field spread over the whole range, the second
  // small, both from a fixed seed.
  std::mt19937_64 random(20240601);
  std::vector<TKey> keys(kKeys);
  for (int32_t i = 0; i < kKeys; ++i) {
    EncodeInt64(keys[i].data(), static_cast<int64_t>(random()) / kKeys * kKeys + i);
    EncodeInt64(keys[i].data() + 8, static_cast<int64_t>(random() % 1000) - 500);
  }
  std::vector<TKey> seekOrder = keys;
  std::shuffle(seekOrder.begin(), seekOrder.end(), random);

  printf("Keys:       %d, 16 bytes (two INTEGER 8 fields, no null bitmap)\n", kKeys);
  printf("Index:      pages of %d bytes, pool of %d buffers, t = %d\n", 1 << kPageShift, kBuffers,
         TIndex::DegreeFor(1 << kPageShift, 16));
  printf("Runs:       %d; median (min, max)\n", kRuns);
  printf("------------------------------------------------\n");

  TFigures index;
  TFigures set;
  TIo io;
  for (int run = 0; run < kRuns; ++run) {
    RunIndex(pattern, keys, seekOrder, index, io);
    RunSet(keys, seekOrder, set);
  }
  Print("index insert", index.Insert);
  Print("std::set insert", set.Insert);
  Print("index seek", index.Seek);
  Print("std::set seek", set.Seek);
  Print("index scan", index.Scan);
  Print("std::set scan", set.Scan);
  printf("------------------------------------------------\n");
  printf("Last index run: %d pages in the tree, %d buffers, %lld page reads, %lld page writes\n",
         io.Pages, io.Buffers, static_cast<long long>(io.Reads), static_cast<long long>(io.Writes));
  if (Sink == 0) printf("(no key found)\n");

  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return 0;
}
