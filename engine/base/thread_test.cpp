#include "engine/base/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "engine/platform/thread.h"

#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/ref.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

// Runs `body` in a child process with the log in a fresh directory, expects
// the fatal exit code, and returns the log the child wrote.
std::string FatalLogOf(const std::function<void()>& body) {
  test::TTempDir dir;
  std::string log = dir.File("KORLIB.OUT");
  EXPECT_EXIT(
      {
        SetLogFile(log);
        body();
      },
      ::testing::ExitedWithCode(kFatalExitCode), "");
  return test::ReadWholeFile(log);
}

// Runs a given body; stops itself in its destructor as subclasses must.
class TTestThread final : public TZThread {
 public:
  explicit TTestThread(std::function<void(TTestThread&)> body = {}) : Body(std::move(body)) {}
  ~TTestThread() override {
    if (StopInDestructor) Stop();
  }

  bool StopInDestructor = true;
  std::atomic<int32_t> StateSeenByBody{0};
  std::atomic<uint32_t> IdSeenByBody{0};
  std::atomic<int32_t> TerminateCalls{0};

  // A body that waits until Terminate wakes it.
  void WaitForTerminate() {
    std::unique_lock guard(Lock);
    Woken.wait(guard, [this] { return WakeUp; });
  }

 protected:
  void Execute() override {
    StateSeenByBody = State();
    IdSeenByBody = OsCurrentThreadId();
    if (Body) Body(*this);
  }
  void Terminate() override {
    ++TerminateCalls;
    {
      std::lock_guard guard(Lock);
      WakeUp = true;
    }
    Woken.notify_all();
  }

 private:
  std::function<void(TTestThread&)> Body;
  std::mutex Lock;
  std::condition_variable Woken;
  bool WakeUp = false;
};

TEST(ThreadTest, ConstructAndDestroyWithoutStart) {
  auto thread = MakeRef<TTestThread>();
  thread->StopInDestructor = false;
  EXPECT_EQ(thread->State(), kThreadCreated);
  EXPECT_FALSE(thread->Terminated());
  EXPECT_EQ(thread->ThreadId(), 0u);
  thread.ReleaseLast();
}

TEST(ThreadTest, StopWithoutStartCreatesNoThread) {
  auto thread = MakeRef<TTestThread>();
  thread->StopInDestructor = false;
  thread->Stop();
  EXPECT_EQ(thread->State(), kThreadStopped);
  EXPECT_EQ(thread->TerminateCalls, 0);
  EXPECT_EQ(thread->StateSeenByBody, 0);
  thread.ReleaseLast();
}

TEST(ThreadTest, BodyThatReturnsAtOnceIsJoinedByStop) {
  auto thread = MakeRef<TTestThread>();
  thread->StopInDestructor = false;
  thread->Start();
  EXPECT_NE(thread->ThreadId(), 0u);
  thread->Stop();
  EXPECT_EQ(thread->State(), kThreadStopped);
  EXPECT_EQ(thread->StateSeenByBody, kThreadRunning);
  // The body ran on the new thread, whose identifier Start stored.
  EXPECT_EQ(thread->IdSeenByBody, thread->ThreadId());
  EXPECT_NE(thread->ThreadId(), OsCurrentThreadId());
  EXPECT_EQ(thread->TerminateCalls, 1);
  thread.ReleaseLast();
}

TEST(ThreadTest, FinishedBodyShowsStateFourBeforeStop) {
  std::atomic<bool> done{false};
  auto thread = MakeRef<TTestThread>([&](TTestThread&) { done = true; });
  thread->Start();
  // Bounded (10 s): the body does nothing but set the flag.
  for (int i = 0; i < 10000 && thread->State() != kThreadFinished; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(done);
  EXPECT_EQ(thread->State(), kThreadFinished);
  thread.ReleaseLast();  // the destructor stops it
}

TEST(ThreadTest, StopCallsTerminateWhichWakesAWaitingBody) {
  std::atomic<bool> sawTerminated{false};
  auto thread = MakeRef<TTestThread>([&](TTestThread& self) {
    self.WaitForTerminate();
    sawTerminated = self.Terminated();
  });
  thread->Start();
  thread->Stop();
  EXPECT_EQ(thread->TerminateCalls, 1);
  // Terminated is set before Terminate is called.
  EXPECT_TRUE(sawTerminated);
  EXPECT_EQ(thread->State(), kThreadStopped);
  thread->StopInDestructor = false;
  thread.ReleaseLast();
}

TEST(ThreadTest, LoopingBodyEndsWhenTerminatedIsSet) {
  std::atomic<int64_t> rounds{0};
  auto thread = MakeRef<TTestThread>([&](TTestThread& self) {
    while (!self.Terminated()) {
      ++rounds;
      std::this_thread::yield();
    }
  });
  thread->Start();
  thread->Stop();
  EXPECT_EQ(thread->State(), kThreadStopped);
  thread->StopInDestructor = false;
  thread.ReleaseLast();
}

TEST(ThreadTest, BodyHasADefaultSizedStack) {
  // Far more than a stack of a few kilobytes could hold.
  std::atomic<int64_t> sum{0};
  auto thread = MakeRef<TTestThread>([&](TTestThread&) {
    volatile char block[512 * 1024];
    for (size_t i = 0; i < sizeof block; i += 4096) block[i] = static_cast<char>(i >> 12);
    int64_t total = 0;
    for (size_t i = 0; i < sizeof block; i += 4096) total += block[i];
    sum = total;
  });
  thread->Start();
  thread->Stop();
  int64_t expected = 0;
  for (size_t i = 0; i < 512 * 1024; i += 4096) expected += static_cast<char>(i >> 12);
  EXPECT_EQ(sum, expected);
  thread->StopInDestructor = false;
  thread.ReleaseLast();
}

TEST(ThreadTest, ManyThreadsRunAtOnce) {
  constexpr int kThreads = 32;
  std::atomic<int32_t> ran{0};
  Ref<TTestThread> threads[kThreads];
  for (auto& thread : threads) {
    thread = MakeRef<TTestThread>([&](TTestThread& self) {
      ++ran;
      self.WaitForTerminate();
    });
    thread->Start();
  }
  for (auto& thread : threads) thread.ReleaseLast();  // each destructor stops its thread
  EXPECT_EQ(ran, kThreads);
}

TEST(ThreadDeathTest, StartTwiceIsFatal) {
  std::string log = FatalLogOf([] {
    auto thread = MakeRef<TTestThread>();
    thread->Start();
    thread->Start();
  });
  EXPECT_NE(log.find("  ErrB\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("thread.cpp"), std::string::npos) << log;
}

TEST(ThreadDeathTest, DestroyingAStartedThreadWithoutStopIsFatal) {
  std::string log = FatalLogOf([] {
    auto thread = MakeRef<TTestThread>();
    thread->StopInDestructor = false;
    thread->Start();
    // Once the body has returned, only the missing Stop is wrong (a running
    // body would meet a half-destroyed object).
    for (int i = 0; i < 10000 && thread->State() != kThreadFinished; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    thread.ReleaseLast();
  });
  EXPECT_NE(log.find("  ErrB\r\n"), std::string::npos) << log;
}

TEST(ThreadDeathTest, StoppingAStoppedThreadIsFatal) {
  std::string log = FatalLogOf([] {
    auto thread = MakeRef<TTestThread>();
    thread->Start();
    thread->Stop();
    thread->Stop();
  });
  EXPECT_NE(log.find("  ErrB\r\n"), std::string::npos) << log;
}

TEST(ThreadDeathTest, ExceptionEscapingTheBodyReachesTheFatalReport) {
  std::string log = FatalLogOf([] {
    auto thread = MakeRef<TTestThread>([](TTestThread&) { throw std::logic_error("lost"); });
    thread->Start();
    thread->Stop();
  });
  EXPECT_NE(log.find("Info: "), std::string::npos) << log;
  EXPECT_NE(log.find("lost"), std::string::npos) << log;
}

}  // namespace
}  // namespace kor
