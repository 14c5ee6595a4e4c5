#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace kor {

// The TCP socket services the engine needs (IPv4 stream sockets only). Every
// call that fails returns its failure value with the thread's last error set
// (errno), so that an exception raised right after it carries the code.
//
// Waking a thread that is blocked in a call on a socket: OsShutdownSocket,
// never OsCloseSocket. On Linux, closing a descriptor does not wake a thread
// blocked in accept(), and worse, the number is free at once for the next
// open anywhere in the process, so a thread that fetched it before the close
// would go on to act on somebody else's file or connection. Shutting a
// socket down wakes every blocked accept, poll, recv and send on it and makes
// later ones fail, while the descriptor stays ours. It is closed only when no
// other thread can be inside, or about to enter, a call on it.

using TOsSocket = int;
inline constexpr TOsSocket kNoOsSocket = -1;

// The start and end of the use of the socket library by the process. Nothing
// to do on POSIX; a Windows back end starts and ends its socket library here.
// Start-up also builds SocketLock and SocketSemaphore.
void SocketStartup();
void SocketShutdown();

// A counting semaphore with an initial and maximum count of 1.
class TOsSemaphore {
 public:
  // Waits without time limit until the count is 1 and takes it.
  void Acquire();
  // Gives the count back. Returns false, changing nothing, when the count is
  // already at its maximum (a release without an acquire).
  [[nodiscard]] bool Release();

 private:
  std::mutex Lock;
  std::condition_variable Released;
  int32_t Count = 1;
};

// The process-wide lock of the socket classes (the flags of the listening
// sockets and the closing of connections), and the semaphore held while a
// listening socket is created and by a close that interrupts a pending
// accept until that accept has returned. Never destroyed.
std::mutex& SocketLock();
TOsSemaphore& SocketSemaphore();

// A TCP stream socket, close-on-exec.
TOsSocket OsCreateStreamSocket();

// Binds `socket` to `address` (dotted IPv4, such as "127.0.0.1"; empty for
// all local interfaces) and the low 16 bits of `port` (0: a free port of the
// system's choice). Allows a fresh bind of a port whose earlier connections
// linger in TIME_WAIT, so that a restarted server finds its port again; a
// port that another socket listens on stays refused. An address that is not
// dotted IPv4 fails with EINVAL.
bool OsBindSocket(TOsSocket socket, const std::string& address, int32_t port);
bool OsListenSocket(TOsSocket socket, int32_t backlog);

// The port and the address (dotted) that a bound socket has; -1 and empty
// on failure.
int32_t OsSocketPort(TOsSocket socket);
std::string OsSocketAddress(TOsSocket socket);

// Waits for the next connection on a listening socket and takes it.
// Connections that failed between arrival and acceptance are skipped, and an
// interrupted wait goes on. Returns the new connection or kNoOsSocket (which
// is what happens once the socket has been shut down).
TOsSocket OsAcceptSocket(TOsSocket listenSocket);

// A connection to `address` (dotted IPv4) and the low 16 bits of `port`, or
// kNoOsSocket.
TOsSocket OsConnectSocket(const std::string& address, int32_t port);

// Waits at most `seconds` (> 0) for `socket` to become readable: data, the
// end of the data or an error to collect. Returns 1 when it is, 0 on
// time-out, -1 on failure.
int32_t OsWaitReadable(TOsSocket socket, int32_t seconds);

// Receives up to `count` (> 0) bytes. Returns the number received, 0 at the
// orderly end of the data, -1 on failure.
int32_t OsReceive(TOsSocket socket, void* buffer, int32_t count);

// Sends all `count` bytes, going on after partial sends, without raising
// SIGPIPE when the peer is gone. Returns false when the connection fails.
bool OsSendAll(TOsSocket socket, const void* buffer, int32_t count);

// Ends both directions of a connection, or the listening of a listening
// socket, and wakes every thread blocked in a call on it; the descriptor
// stays open.
bool OsShutdownSocket(TOsSocket socket);
bool OsCloseSocket(TOsSocket socket);

}  // namespace kor
