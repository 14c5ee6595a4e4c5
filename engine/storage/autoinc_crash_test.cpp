// Writers killed at random moments. Each run forks a child that loads the
// counter file (which rewrites it) and hands out values from one counter,
// recording every value in a side file as soon as it has it. The child tells
// the parent through a pipe when it starts the load; the parent kills it
// with SIGKILL a seeded random delay later. For a third of the runs the
// delay lies within the time a load takes (as measured on the parent's own
// loads), so those kills land inside the load and its rewrite; the others
// mostly land among the values. The delays only spread the kills: no check
// depends on timing. After every kill the counter file must exist and load,
// and:
//   1. the run's recorded values are the consecutive values from the one
//      the file held before the run (so across runs none repeats);
//   2. the file now holds a value past every value handed out, and at most
//      two past the last recorded one (one value may have been handed out
//      but not yet recorded, and the file may be one reserved value ahead).
// Set KOR_AUTOINC_CRASH_SEED to replay a seed that the test printed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/platform/os_file.h"

#include "engine/base/log.h"
#include "engine/base/numeric.h"

#include "engine/storage/autoinc.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

constexpr int kRuns = 60;
// A child that is never killed stops after this many values.
constexpr int64_t kValuesPerChild = 1'000'000;
// Longest delay from the start of the load to the kill, in microseconds.
constexpr int kLateKillDelay = 20'000;
constexpr size_t kValueSize = 8;

uint32_t ChooseSeed() {
  if (const char* text = std::getenv("KOR_AUTOINC_CRASH_SEED")) {
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
  }
  return std::random_device{}();
}

// The child: never returns, never runs the parent's destructors. Exit codes
// other than 0 name the step that failed.
[[noreturn]] void HandOutValues(const std::string& counterFile, const std::string& sideFile,
                                int loadStarts) {
  int side = open(sideFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (side < 0) _exit(3);
  if (write(loadStarts, "L", 1) != 1) _exit(7);
  try {
    auto counters = LoadCounterFile(counterFile);
    auto orders = counters->Find("ORDERS");
    if (!orders) _exit(4);
    for (int64_t i = 0; i < kValuesPerChild; ++i) {
      unsigned char bytes[kValueSize];
      EncodeInt64(bytes, orders->NextValue());
      if (write(side, bytes, kValueSize) != static_cast<ssize_t>(kValueSize)) _exit(5);
    }
  } catch (...) {
    _exit(6);
  }
  _exit(0);
}

// The values a child recorded; a value cut by the kill is ignored.
std::vector<int64_t> RecordedValues(const std::string& sideFile) {
  std::string bytes = test::ReadWholeFile(sideFile);
  std::vector<int64_t> values;
  for (size_t at = 0; at + kValueSize <= bytes.size(); at += kValueSize) {
    values.push_back(DecodeInt64(reinterpret_cast<const unsigned char*>(bytes.data() + at)));
  }
  return values;
}

// Loads the file as a restart would, and returns the next value of ORDERS;
// `loadMicros` keeps the longest load seen.
int64_t NextValueInFile(const std::string& counterFile, int& loadMicros) {
  auto start = std::chrono::steady_clock::now();
  auto counters = LoadCounterFile(counterFile);
  auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  loadMicros = std::max(loadMicros, static_cast<int>(took.count()));
  EXPECT_EQ(counters->Count(), 2);
  auto orders = counters->Find("ORDERS");
  if (!orders) ADD_FAILURE() << "ORDERS lost";
  return orders ? orders->Value() : -1;
}

TEST(AutoincCrashTest, KilledWritersNeverHandOutAValueTwice) {
  test::TTempDir dir;
  SetLogFile(dir.File("KORLIB.OUT"));
  uint32_t seed = ChooseSeed();
  std::printf("autoinc crash test seed %u (KOR_AUTOINC_CRASH_SEED=%u replays it)\n", seed, seed);
  std::fflush(stdout);
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);

  std::string counterFile = dir.File("COUNTERS.TXT");
  test::WriteWholeFile(counterFile, "TIME $1\r\nORDERS $1\r\n");
  int loadMicros = 1;
  int64_t next = NextValueInFile(counterFile, loadMicros);
  std::set<int64_t> handedOut;
  int runsWithoutValues = 0;
  int runsLeavingATemporaryFile = 0;

  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
    bool early = random() % 3 == 0;
    int delay = std::uniform_int_distribution<int>(0, early ? loadMicros : kLateKillDelay)(random);
    std::string sideFile = dir.File("values." + std::to_string(run));

    int loadStarts[2];
    ASSERT_EQ(pipe(loadStarts), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) HandOutValues(counterFile, sideFile, loadStarts[1]);
    close(loadStarts[1]);
    char signal = 0;
    ASSERT_EQ(read(loadStarts[0], &signal, 1), 1);
    close(loadStarts[0]);
    usleep(static_cast<useconds_t>(delay));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << "child status " << status;

    ASSERT_TRUE(OsFileExists(counterFile));
    if (OsFileExists(counterFile + ".TMP")) ++runsLeavingATemporaryFile;
    int64_t inFile = NextValueInFile(counterFile, loadMicros);
    EXPECT_FALSE(OsFileExists(counterFile + ".TMP"));

    std::vector<int64_t> values = RecordedValues(sideFile);
    if (values.empty()) ++runsWithoutValues;
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(values[i], next + static_cast<int64_t>(i));  // rule 1
      ASSERT_TRUE(handedOut.insert(values[i]).second) << "value handed out twice: " << values[i];
    }
    int64_t nextRecorded = next + static_cast<int64_t>(values.size());
    ASSERT_GE(inFile, nextRecorded);  // rule 2
    ASSERT_LE(inFile, nextRecorded + 2);
    next = inFile;
  }
  std::printf(
      "%d values handed out; %d of %d runs killed before the first value, %d inside a "
      "rewrite\n",
      static_cast<int>(handedOut.size()), runsWithoutValues, kRuns, runsLeavingATemporaryFile);
}

}  // namespace
}  // namespace kor
