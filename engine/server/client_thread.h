#pragma once

#include <atomic>

#include "engine/base/ref.h"
#include "engine/base/thread.h"

#include "engine/protocol/engine.h"
#include "engine/protocol/protocol_executor.h"

#include "engine/server/socket.h"

namespace kor {

// One client session of the server: the greeting, then the protocol
// executor's steps over the connection until the session stops, then the
// connection is closed and the thread finishes.
//
// The thread holds EngineLock from the start of its session to its end and
// gives it up only while it waits for the network (server_stream.h). What
// it leaves behind (open tables, live transactions) the executor's
// destruction ends, still under the lock.
//
// Session, on the client thread:
//   1. OpenSession: under EngineLock, the reader (4096-byte buffer) and the
//      writer (4096-byte buffer) over the connection's streams; the greeting
//      (identifier "KOR", string "V 0.3", flushed); the executor. A greeting
//      that cannot be sent ends the session with no executor.
//   2. Step until the executor is stopped.
//   3. The executor is released.
//   4. CloseSession: SessionEnded is set, the connection closed, EngineLock
//      left.
class TZClientThread final : public TZThread {
 public:
  // Takes over both references and starts the session at once.
  TZClientThread(Ref<TEngine> engine, Ref<TSocket> socket);
  // Waits for the thread (Stop), then releases the connection and the
  // engine reference.
  ~TZClientThread() override;

  // Closes the connection, so that a read or write the session waits in
  // fails and the session ends in order. Any thread may call it.
  void Terminate() override;

  // True from the moment the session has closed its connection: the thread
  // has nothing left to do but leave EngineLock and return, so the server
  // may reap it (its Stop waits only for that).
  bool SessionEnded() const { return Ended.load(std::memory_order_acquire); }

 protected:
  void Execute() override;

 private:
  Ref<TProtocolExecutor> OpenSession();
  void Serve(TProtocolExecutor& executor);
  void CloseSession();

  Ref<TEngine> Engine;
  Ref<TSocket> Socket;
  std::atomic<bool> Ended{false};
};

}  // namespace kor
