#include "engine/server/socket.h"

#include <cerrno>
#include <mutex>

#include "engine/platform/last_error.h"
#include "engine/platform/socket.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

namespace kor {

namespace {

// Connections that may wait for their accept. Five, the most that the
// original socket library allowed, is far too few here: the server speaks
// first, so a client whose connection overflowed the queue (and whose
// handshake the kernel then drops) sends nothing and waits for the greeting
// until the kernel's retries run out, a minute or more. A burst of 64
// clients connecting at once did exactly that. The system caps the value at
// its own maximum (net.core.somaxconn).
constexpr int32_t kListenBacklog = 128;

// Raises E with `error` as its code: the calls between a failing system call
// and the raise may have changed the thread's last error.
template <typename E>
[[noreturn]] void RaiseWithError(uint32_t error,
                                 TSourceLocation where = TSourceLocation::Current()) {
  SetLastErrorCode(error);
  throw E(where);
}

}  // namespace

TSocketServer::TSocketServer(int32_t port, const std::string& bindAddress) {
  SocketSemaphore().Acquire();
  TOsSocket listenSocket = OsCreateStreamSocket();
  uint32_t error = LastErrorCode();
  FailUnless(SocketSemaphore().Release());
  if (listenSocket == kNoOsSocket) RaiseWithError<ESocketError>(error);

  if (!OsBindSocket(listenSocket, bindAddress, port) ||
      !OsListenSocket(listenSocket, kListenBacklog)) {
    error = LastErrorCode();
    OsCloseSocket(listenSocket);  // never used; its result changes nothing
    RaiseWithError<ESocketError>(error);
  }
  BoundPort = OsSocketPort(listenSocket);
  BoundAddress = OsSocketAddress(listenSocket);
  // No other thread knows the object yet; the lock only keeps the rule that
  // ListenSocket changes under it.
  std::lock_guard guard(SocketLock());
  ListenSocket = listenSocket;
}

TSocketServer::~TSocketServer() { Close(); }

Ref<TSocket> TSocketServer::Accept() {
  TOsSocket listenSocket;
  {
    std::lock_guard guard(SocketLock());
    FailIf(Accepting);
    if (Closed) RaiseWithError<ESocketError>(EBADF);
    Accepting = true;
    listenSocket = ListenSocket;
  }

  // Outside the lock: the wait may be long. Close cannot close the
  // descriptor while Accepting is set; it shuts it down, which ends the wait.
  TOsSocket connection = OsAcceptSocket(listenSocket);
  uint32_t error = LastErrorCode();
  {
    std::lock_guard guard(SocketLock());
    Accepting = false;
    if (Closed) {
      // Close found this Accept pending and left the descriptor and the
      // semaphore to it.
      OsCloseSocket(ListenSocket);
      ListenSocket = kNoOsSocket;
      FailUnless(SocketSemaphore().Release());
    }
  }
  if (connection == kNoOsSocket) RaiseWithError<ESocketError>(error);
  return MakeRef<TSocket>(connection);
}

void TSocketServer::Close() {
  SocketSemaphore().Acquire();
  std::lock_guard guard(SocketLock());
  // With an Accept pending the count stays taken; that Accept gives it back.
  if (!Accepting) FailUnless(SocketSemaphore().Release());
  Closed = true;
  if (ListenSocket == kNoOsSocket) return;
  // Shutting down a listening socket ends its listening and wakes a pending
  // accept; closing alone would do neither on Linux. The result does not
  // matter: a socket that cannot be shut down has no accept to wake.
  OsShutdownSocket(ListenSocket);
  if (Accepting) return;
  OsCloseSocket(ListenSocket);
  ListenSocket = kNoOsSocket;
}

TSocket::TSocket(TOsSocket handle) : Handle(handle) {
  if (handle < 0) FatalWithValue("ErrS: ", handle, TSourceLocation::Current());
  InputStream = Ref<TSocketInputStream>::Adopt(new TSocketInputStream(*this));
  OutputStream = Ref<TSocketOutputStream>::Adopt(new TSocketOutputStream(*this));
}

TSocket::~TSocket() {
  InputStream.ReleaseLast();
  OutputStream.ReleaseLast();
  Close();
  // The last reference is gone and the streams with it, so no other thread
  // can be inside a call on the descriptor: now its number may be reused.
  OsCloseSocket(Handle);
}

void TSocket::Close() {
  std::lock_guard guard(SocketLock());
  if (Closed) return;
  // Marked before the shutdown, so that a read it wakes can tell this close
  // from the peer's end of the data.
  Closed = true;
  // Shutdown rather than close: it wakes a read or write blocked on another
  // thread, and the descriptor cannot be reused under that thread's feet.
  // Its result does not matter: a connection the peer has already reset
  // needs no waking.
  OsShutdownSocket(Handle);
}

int32_t TSocketInputStream::Read(void* buffer, int32_t count) {
  FailIf(count <= 0);
  if (Socket.IsClosed()) RaiseWithError<EInputStreamError>(ENOTCONN);
  TOsSocket handle = Socket.SocketHandle();
  int32_t timeout = Socket.Timeout();
  if (timeout > 0) {
    int32_t ready = OsWaitReadable(handle, timeout);
    if (ready == 0) RaiseWithError<EInputStreamError>(ETIMEDOUT);
    if (ready != 1) throw EInputStreamError();
  }
  int32_t received = OsReceive(handle, buffer, count);
  if (received > 0) return received;
  if (received < 0) throw EInputStreamError();
  // A connection closed on this side also reads as the end of the data; it
  // is not the peer's orderly end.
  if (Socket.IsClosed()) RaiseWithError<EInputStreamError>(ENOTCONN);
  throw EInputStreamEof();
}

void TSocketOutputStream::Write(const void* buffer, int32_t count) {
  FailIf(count <= 0);
  if (Socket.IsClosed()) RaiseWithError<EOutputStreamError>(ENOTCONN);
  if (!OsSendAll(Socket.SocketHandle(), buffer, count)) throw EOutputStreamError();
}

}  // namespace kor
