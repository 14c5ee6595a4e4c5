#pragma once

// The seeded data and the figures shared by the C++ programs of the macro
// benchmark (kor_macro, sqlite_macro). MacroData.java holds the same
// generator for the Java programs, so that every peer works on the same
// records in the same order.
//
// Records i = 1..N: ID = i; NAME = 16 hex digits of Mix(i), "-", i in 8
// decimal digits (25 bytes, unique, in an order unrelated to ID); AMOUNT =
// (Mix(i) mod 1,000,000) / 100. W1 inserts them in ID order. The lookup
// order of W2 and the record choices of W5 and W6 are Fisher-Yates
// shuffles of 1..N driven by Random(seed).
//
// Each program runs W1..W7 once on a fresh database in its working
// directory and prints, one line each, "peer<TAB>N<TAB>workload<TAB>value":
// micros per operation for W1..W6, micros for W7, the same in CPU time of
// the process (user + system) as "W1cpu" .. "W7cpu", and "peak_kb" (VmHWM
// of the process at the end). CPU time shows the cost on a machine whose
// other load stretches the wall-clock figures.

#include <sys/resource.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kor::bench {

constexpr int kNameWidth = 30;

inline uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// splitmix64: the same sequence as MacroData.Random.
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : State(seed) {}
  uint64_t Next() {
    State += 0x9E3779B97F4A7C15ull;
    uint64_t z = State;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 <= result < bound.
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

 private:
  uint64_t State;
};

inline std::string NameOf(int64_t id) {
  char text[48];
  std::snprintf(text, sizeof text, "%016" PRIx64 "-%08" PRId64, Mix(static_cast<uint64_t>(id)), id);
  return text;
}

inline double AmountOf(int64_t id) {
  return static_cast<double>(Mix(static_cast<uint64_t>(id)) % 1000000) / 100.0;
}

// 1..n shuffled.
inline std::vector<int64_t> Shuffled(int64_t n, uint64_t seed) {
  std::vector<int64_t> ids(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) ids[static_cast<size_t>(i)] = i + 1;
  TRandom random(seed);
  for (int64_t i = n - 1; i > 0; --i) {
    const int64_t j = random.Below(static_cast<uint32_t>(i + 1));
    std::swap(ids[static_cast<size_t>(i)], ids[static_cast<size_t>(j)]);
  }
  return ids;
}

constexpr uint64_t kLookupSeed = 2;
constexpr uint64_t kUpdateSeed = 5;
constexpr uint64_t kDeleteSeed = 6;

// The new AMOUNT that W5 writes.
inline double UpdatedAmount(int64_t id) { return AmountOf(id) + 1.0; }

using TClock = std::chrono::steady_clock;

// User + system time of the process so far, in micros.
inline double CpuMicros() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto micros = [](const timeval& t) { return t.tv_sec * 1e6 + static_cast<double>(t.tv_usec); };
  return micros(usage.ru_utime) + micros(usage.ru_stime);
}

class TStopwatch {
 public:
  TStopwatch() : Start(TClock::now()), CpuStart(CpuMicros()) {}
  double Micros() const {
    return std::chrono::duration<double, std::micro>(TClock::now() - Start).count();
  }
  double Cpu() const { return CpuMicros() - CpuStart; }

 private:
  TClock::time_point Start;
  double CpuStart;
};

// VmHWM of this process in kB, 0 when /proc says nothing.
inline long PeakKilobytes() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
  }
  std::fclose(status);
  return kb;
}

class TReport {
 public:
  TReport(std::string peer, int64_t n) : Peer(std::move(peer)), N(n) {}
  // Wall-clock and CPU micros per operation since `watch` started.
  void PerOp(const char* workload, const TStopwatch& watch, int64_t ops) const {
    const double wall = watch.Micros();
    const double cpu = watch.Cpu();
    std::printf("%s\t%" PRId64 "\t%s\t%.4f\n", Peer.c_str(), N, workload,
                wall / static_cast<double>(ops));
    std::printf("%s\t%" PRId64 "\t%scpu\t%.4f\n", Peer.c_str(), N, workload,
                cpu / static_cast<double>(ops));
    std::fflush(stdout);
  }
  void Peak() const {
    std::printf("%s\t%" PRId64 "\tpeak_kb\t%ld\n", Peer.c_str(), N, PeakKilobytes());
  }

 private:
  std::string Peer;
  int64_t N;
};

inline int64_t ParseCount(int argc, char** argv) {
  if (argc < 2) return 0;
  return std::strtoll(argv[1], nullptr, 10);
}

}  // namespace kor::bench
