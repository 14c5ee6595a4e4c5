#pragma once

#include <mutex>

namespace kor {

// The process-wide lock that serialises all work on the engine in server
// mode. A client thread holds it for its whole session and gives it up only
// while it waits for the network (TZServerInputStream::Read and
// TZServerOutputStream::Write), so at most one request is being performed on
// the engine at any time and the engine's structures need no locks of their
// own. Never destroyed: a client thread may still hold it while the process
// exits.
std::mutex& EngineLock();

// Gives EngineLock up for its lifetime and takes it back when it ends,
// whether the scope is left by a return or by an exception.
// REQUIRES: the calling thread holds EngineLock.
class TEngineUnlocked {
 public:
  TEngineUnlocked() { EngineLock().unlock(); }
  ~TEngineUnlocked() { EngineLock().lock(); }
  TEngineUnlocked(const TEngineUnlocked&) = delete;
  TEngineUnlocked& operator=(const TEngineUnlocked&) = delete;
};

}  // namespace kor
