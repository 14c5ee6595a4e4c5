#pragma once

#include <atomic>
#include <cstdint>

#include "engine/platform/thread.h"

#include "engine/base/object.h"

namespace kor {

// Lifecycle states of a TZThread, and the function behind each transition:
//
//   1 created   --Start-->  2 starting  --(new thread)-->  3 running
//   3 running   --(Execute returns, new thread)-->  4 finished
//   2, 3, 4     --Stop (after the join)-->  5 stopped
//   1 created   --Stop-->  5 stopped          (no thread ever existed)
//   1, 5        --destructor-->  6 destroyed
//
// Every other order is a broken invariant (FailIf): starting twice, stopping
// a stopped thread, destroying a thread that was started and not stopped.
inline constexpr int32_t kThreadCreated = 1;
inline constexpr int32_t kThreadStarting = 2;
inline constexpr int32_t kThreadRunning = 3;
inline constexpr int32_t kThreadFinished = 4;
inline constexpr int32_t kThreadStopped = 5;
inline constexpr int32_t kThreadDestroyed = 6;

// The engine's thread base: owns one operating-system thread that runs the
// virtual Execute.
//
// Threads and references. Whoever created the object holds its references;
// the running thread only borrows the object and never touches its count.
// The borrow is safe because the object cannot be destroyed while the thread
// runs: the destructor requires state 1 or 5, and 5 is entered only after the
// thread has been joined. A subclass calls Stop
// at the start of its own destructor, before its members go.
//
// State and Terminated are shared between the two threads and atomic: State
// is written by the owner (1, 2, 5, 6) and the new thread (3, 4); Terminated
// by the owner and read by the body.
class TZThread : public TRCObject {
 public:
  TZThread() = default;
  ~TZThread() override;

  // Starts the thread, which runs Execute.
  // REQUIRES: State() == kThreadCreated.
  void Start();

  // Sets Terminated, calls Terminate (on the calling thread, concurrently
  // with the body) and waits without time limit for the thread to end. On a
  // thread never started it only enters state 5.
  // REQUIRES: State() is 1 to 4; not called from the thread itself.
  void Stop();

  int32_t State() const { return CurrentState.load(); }
  // Set by Stop before it calls Terminate; the body's loop tests it.
  bool Terminated() const { return TerminatedFlag.load(); }
  // The identifier of the thread, from Start on; 0 before.
  uint32_t ThreadId() const { return Id; }

 protected:
  // The thread's body. An exception that escapes it ends the process through
  // the fatal report.
  virtual void Execute() = 0;
  // Makes a blocked body return (closes what it waits on). Runs on the
  // thread that calls Stop. Does nothing here.
  virtual void Terminate() {}

 private:
  static void ThreadProc(void* object);

  std::atomic<bool> TerminatedFlag{false};
  TOsThreadHandle ThreadHandle = kNoOsThread;
  uint32_t Id = 0;
  std::atomic<int32_t> CurrentState{kThreadCreated};
};

}  // namespace kor
