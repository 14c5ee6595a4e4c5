#include "engine/base/thread.h"

#include "engine/platform/thread.h"

#include "engine/base/fatal.h"

namespace kor {

TZThread::~TZThread() {
  int32_t state = State();
  FailIf(state != kThreadCreated && state != kThreadStopped);
  CurrentState = kThreadDestroyed;
}

void TZThread::Start() {
  FailIf(State() != kThreadCreated);
  CurrentState = kThreadStarting;
  // The handle and the identifier are stored before ThreadProc runs.
  FailUnless(OsStartThread(&ThreadProc, this, ThreadHandle, Id));
}

void TZThread::Stop() {
  int32_t state = State();
  if (state == kThreadCreated) {
    CurrentState = kThreadStopped;
    return;
  }
  FailIf(state < kThreadStarting || state > kThreadFinished);
  TerminatedFlag = true;
  Terminate();
  FailUnless(OsJoinThread(ThreadHandle));
  ThreadHandle = kNoOsThread;
  // The join orders the thread's last write (4) before this read.
  FailIf(State() != kThreadFinished);
  CurrentState = kThreadStopped;
}

void TZThread::ThreadProc(void* object) {
  auto* self = static_cast<TZThread*>(object);
  FailIf(self->State() != kThreadStarting);
  self->CurrentState = kThreadRunning;
  try {
    self->Execute();
  } catch (...) {
    // Not swallowed: the last-chance handler reports the exception and ends
    // the process. Catching here rather than letting it leave the thread
    // makes that sure whether or not the handler is installed as the
    // terminate handler.
    UnhandledExceptionHandler();
  }
  self->CurrentState = kThreadFinished;
}

}  // namespace kor
