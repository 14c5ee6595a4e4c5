#include "engine/platform/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <semaphore>
#include <type_traits>
#include <utility>

namespace kor {

namespace {

static_assert(std::is_integral_v<pthread_t> && sizeof(pthread_t) <= sizeof(TOsThreadHandle),
              "pthread_t must fit the thread handle");

// The hand-shake between the creating thread and the new one. Both own it
// (shared_ptr), so that neither can free it while the other is still inside
// a release of one of its semaphores.
struct TStartBlock {
  TStartBlock(TOsThreadProc proc, void* argument) : Proc(proc), Argument(argument) {}

  TOsThreadProc Proc;
  void* Argument;
  uint32_t ThreadId = 0;
  std::binary_semaphore IdReady{0};
  std::binary_semaphore Go{0};
};

void* Trampoline(void* raw) {
  std::shared_ptr<TStartBlock> block = std::move(*static_cast<std::shared_ptr<TStartBlock>*>(raw));
  delete static_cast<std::shared_ptr<TStartBlock>*>(raw);
  block->ThreadId = OsCurrentThreadId();
  block->IdReady.release();
  // Held here until the creator has stored the handle and the identifier.
  block->Go.acquire();
  TOsThreadProc proc = block->Proc;
  void* argument = block->Argument;
  block.reset();
  proc(argument);
  return nullptr;
}

}  // namespace

bool OsStartThread(TOsThreadProc proc, void* argument, TOsThreadHandle& handle,
                   uint32_t& threadId) {
  auto block = std::make_shared<TStartBlock>(proc, argument);
  auto* threadsShare = new std::shared_ptr<TStartBlock>(block);
  pthread_t thread;
  // No attributes: the platform's default stack size.
  int error = pthread_create(&thread, nullptr, &Trampoline, threadsShare);
  if (error != 0) {
    delete threadsShare;
    errno = error;
    return false;
  }
  handle = static_cast<TOsThreadHandle>(thread);
  block->IdReady.acquire();
  threadId = block->ThreadId;
  block->Go.release();
  return true;
}

bool OsJoinThread(TOsThreadHandle handle) {
  int error = pthread_join(static_cast<pthread_t>(handle), nullptr);
  if (error != 0) {
    errno = error;
    return false;
  }
  return true;
}

uint32_t OsCurrentThreadId() { return static_cast<uint32_t>(gettid()); }

}  // namespace kor
