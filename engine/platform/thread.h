#pragma once

#include <cstdint>

namespace kor {

// The thread service the engine needs: start a thread that runs one function
// with one argument, and wait for it to end. Threads get the platform's
// default stack size (8 MB with glibc's defaults): the engine's thread bodies
// run the protocol executor and the B-tree code, whose depth no small fixed
// stack would be sure to hold.

using TOsThreadProc = void (*)(void* argument);
using TOsThreadHandle = uintptr_t;
inline constexpr TOsThreadHandle kNoOsThread = 0;

// Starts `proc(argument)` on a new thread. The handle and the thread's
// identifier are stored in `handle` and `threadId` before the new thread
// calls `proc`, so `proc` may rely on them being in place. Returns false,
// with the thread's last error set, when no thread could be created.
bool OsStartThread(TOsThreadProc proc, void* argument, TOsThreadHandle& handle, uint32_t& threadId);

// Waits without time limit for the thread to end and frees its handle.
// REQUIRES: a handle from OsStartThread, joined at most once, not the
// calling thread's own.
bool OsJoinThread(TOsThreadHandle handle);

// The identifier of the calling thread (the kernel's thread id on Linux, as
// tools such as top and gdb show it).
uint32_t OsCurrentThreadId();

}  // namespace kor
