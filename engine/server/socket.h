#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/platform/socket.h"

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/stream.h"

namespace kor {

class TSocket;

// Threads and references for everything in this file. Each object's count
// is changed by one thread at a time (the counts are atomic, but nothing here
// needs that): a socket is made by the thread that accepts, handed over whole
// to the thread that serves it (the hand-over is ordered by that thread's
// start), and released by whoever joined that thread. The streams hold no reference to
// their socket. The calls that other threads may make at any time are
// TSocketServer::Close and TSocket::Close; both work under SocketLock and
// change no count.

// A listening TCP socket that hands out connections.
//
// Accept and Close meet under SocketLock through two flags:
//   Accepting  an Accept is between its two locked sections, using the
//              descriptor outside the lock;
//   Closed     Close has been called; no Accept starts after it.
// Close shuts the socket down, which wakes a pending accept at once. The
// descriptor itself is closed by whichever side is the last to use it: Close
// when no Accept is pending, otherwise the interrupted Accept as it leaves.
// So no thread can ever act on a number the system has meanwhile given to
// something else. An interrupting Close also keeps SocketSemaphore until the
// Accept has returned, so that neither another Close nor the creation of a
// new listening socket overtakes it.
class TSocketServer final : public TRCObject {
 public:
  // Creates the socket, binds it to `bindAddress` (dotted IPv4; empty for all
  // local interfaces) and the low 16 bits of `port` (0: a free port the
  // system picks), and listens with a backlog of 128. Does not accept yet.
  // A socket that cannot be created, bound (the port is in use, the address
  // is not ours) or put to listening raises ESocketError with the system's
  // error code: that is the operator's configuration or a busy port, and the
  // server program reports it.
  explicit TSocketServer(int32_t port, const std::string& bindAddress = "");
  ~TSocketServer() override;

  // Waits for the next connection and returns it. Raises ESocketError once
  // Close has been called, also from a pending call that Close interrupts.
  // REQUIRES: not called by two threads at once.
  Ref<TSocket> Accept();

  // Stops listening and makes a pending Accept fail at once; every later
  // Accept fails too. Harmless twice; a second call waits until an
  // interrupted Accept has returned. Any thread may call it.
  void Close();

  // The port and address the socket is bound to ("0.0.0.0" for all
  // interfaces).
  int32_t Port() const { return BoundPort; }
  const std::string& Address() const { return BoundAddress; }

 private:
  // Guarded by SocketLock.
  TOsSocket ListenSocket = kNoOsSocket;
  bool Accepting = false;
  bool Closed = false;

  int32_t BoundPort = -1;
  std::string BoundAddress;
};

// Reads from a connection. Holds a plain back-link to its socket, which owns
// it.
class TSocketInputStream final : public TInputStream {
 public:
  // With a time-out set on the socket, fails with EInputStreamError when no
  // byte arrives within it. EInputStreamEof when the peer has closed the
  // connection in order; EInputStreamError when the connection fails or has
  // been closed on this side.
  // REQUIRES: count > 0.
  int32_t Read(void* buffer, int32_t count) override;

 private:
  friend class TSocket;
  explicit TSocketInputStream(TSocket& socket) : Socket(socket) {}

  TSocket& Socket;
};

// Writes to a connection; Flush has nothing to do (Write sends at once).
class TSocketOutputStream final : public TOutputStream {
 public:
  // Sends every byte before it returns, or raises EOutputStreamError when
  // the connection fails, the peer is gone or it has been closed on this
  // side. Never raises SIGPIPE.
  // REQUIRES: count > 0.
  void Write(const void* buffer, int32_t count) override;

 private:
  friend class TSocket;
  explicit TSocketOutputStream(TSocket& socket) : Socket(socket) {}

  TSocket& Socket;
};

// One TCP connection with its two streams.
class TSocket final : public TRCObject {
 public:
  // Takes over an open connection.
  // REQUIRES: handle is a socket descriptor (>= 0).
  explicit TSocket(TOsSocket handle);
  // REQUIRES: every reference handed out by the getters has been released.
  ~TSocket() override;

  // New references to the streams; the caller releases them before the
  // socket goes.
  Ref<TSocketInputStream> GetInputStream() { return Ref<TSocketInputStream>::Share(*InputStream); }
  Ref<TSocketOutputStream> GetOutputStream() {
    return Ref<TSocketOutputStream>::Share(*OutputStream);
  }

  // The read time-out in seconds; 0 or less waits without limit.
  void SetTimeout(int32_t seconds) { TimeoutSeconds = seconds; }
  int32_t Timeout() const { return TimeoutSeconds; }

  // Ends the connection in both directions: a read or write pending on
  // another thread fails at once, and every later one fails. Harmless twice;
  // any thread may call it. The descriptor stays open until the destructor,
  // when no other thread can still be using it.
  void Close();
  bool IsClosed() const { return Closed; }

  // The connection's descriptor, open for the object's whole life.
  TOsSocket SocketHandle() const { return Handle; }

 private:
  const TOsSocket Handle;
  // Set under SocketLock; read without it by the streams.
  std::atomic<bool> Closed{false};
  std::atomic<int32_t> TimeoutSeconds{0};
  Ref<TSocketInputStream> InputStream;
  Ref<TSocketOutputStream> OutputStream;
};

}  // namespace kor
