#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/base/ref.h"
#include "engine/base/thread.h"

#include "engine/streams/text_stream_reader.h"

#include "engine/protocol/engine.h"

#include "engine/server/client_thread.h"
#include "engine/server/socket.h"

namespace kor {

// The engine offered over TCP: a thread that accepts connections and gives
// each one its own TZClientThread, at most kMaxClients at once. All sessions
// share the one engine; EngineLock (engine_lock.h) lets one of them work on
// it at a time.
//
// Accept loop (Execute), until the listening socket is closed:
//   1. Accept the next connection and give it the read time-out. A closed
//      listening socket (ESocketError) ends the loop.
//   2. Reap: every client whose session has ended is released and its slot
//      emptied.
//   3. The lowest empty slot gets a new client over the engine and the
//      connection.
//   4. With every slot taken, the connection is refused: "ERR" (identifier)
//      and "Too many clients" (string), unbuffered; a failure to deliver
//      them (the peer is gone) is ignored; the connection is closed and the
//      loop pauses for a second before it accepts again.
//
// Threads. The clients' slots are touched only by the server thread and, once
// it has been joined, by the destructor. The server thread never takes
// EngineLock: the engine references that it gives to new clients and that
// reaped clients give back are safe because reference counts are atomic.
//
// The server is made bound and listening, but idle; Start begins serving and
// destruction ends it: it stops the accept loop, closes every connection,
// waits for every client thread and releases the engine, last.
class TZServer final : public TZThread {
 public:
  static constexpr int32_t kMaxClients = 100;

  // Takes over the engine reference. Binds `bindAddress` (dotted IPv4;
  // empty: all local interfaces) and `port` (0: a free port the system
  // picks) and listens; a port or address that cannot be had raises
  // ESocketError. `inputTimeout` is the read time-out in seconds of every
  // connection; 0 or less waits without limit.
  TZServer(Ref<TEngine> engine, int32_t inputTimeout, int32_t port,
           const std::string& bindAddress = "");
  ~TZServer() override;

  // The server mode of the configuration builder: reads the eight settings
  // from the text reader over "CONFIG.ZSR" (taking the reader over and
  // releasing it once they are read), builds the engine and returns a
  // server over it for INETPORT and INPUTTIMEOUT on `bindAddress`. Raises
  // what the engine build raises, and ESocketError when the port or address
  // cannot be had; nothing built stays alive then.
  static Ref<TZServer> LoadFromConfiguration(Ref<TTextStreamReader> reader,
                                             const std::string& bindAddress = "");

  // Where the server listens ("0.0.0.0" for all interfaces).
  int32_t Port() const { return SocketServer->Port(); }
  const std::string& Address() const { return SocketServer->Address(); }
  int32_t InputTimeout() const { return Timeout; }

 protected:
  void Execute() override;
  // Closes the listening socket, which ends a pending Accept, and cuts the
  // pause after a refusal short.
  void Terminate() override;

 private:
  void ReapEndedClients();
  void Refuse(Ref<TSocket> connection);
  void PauseAfterRefusal();

  std::array<Ref<TZClientThread>, kMaxClients> Clients;
  int32_t Timeout;
  Ref<TSocketServer> SocketServer;
  Ref<TEngine> Engine;

  // Wakes the pause after a refusal when the server is stopped.
  std::mutex PauseLock;
  std::condition_variable PauseEnd;
};

}  // namespace kor
