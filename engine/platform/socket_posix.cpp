#include "engine/platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace kor {

namespace {

bool MakeAddress(const std::string& address, int32_t port, sockaddr_in& result) {
  result = {};
  result.sin_family = AF_INET;
  result.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  if (address.empty()) {
    result.sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  if (inet_pton(AF_INET, address.c_str(), &result.sin_addr) != 1) {
    errno = EINVAL;
    return false;
  }
  return true;
}

bool LocalAddress(TOsSocket socket, sockaddr_in& result) {
  socklen_t size = sizeof result;
  return getsockname(socket, reinterpret_cast<sockaddr*>(&result), &size) == 0 &&
         result.sin_family == AF_INET;
}

// Errors of a connection that failed before accept() took it (accept(2): to
// be treated like "try again" on TCP).
bool IsPendingConnectionError(int error) {
  switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

}  // namespace

void TOsSemaphore::Acquire() {
  std::unique_lock guard(Lock);
  Released.wait(guard, [this] { return Count > 0; });
  --Count;
}

bool TOsSemaphore::Release() {
  {
    std::lock_guard guard(Lock);
    if (Count >= 1) return false;
    ++Count;
  }
  Released.notify_one();
  return true;
}

std::mutex& SocketLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

TOsSemaphore& SocketSemaphore() {
  static auto* semaphore = new TOsSemaphore;
  return *semaphore;
}

void SocketStartup() {
  SocketLock();
  SocketSemaphore();
}

void SocketShutdown() {}

TOsSocket OsCreateStreamSocket() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

bool OsBindSocket(TOsSocket socket, const std::string& address, int32_t port) {
  sockaddr_in where;
  if (!MakeAddress(address, port, where)) return false;
  int on = 1;
  if (setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return false;
  return bind(socket, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
}

bool OsListenSocket(TOsSocket socket, int32_t backlog) { return listen(socket, backlog) == 0; }

int32_t OsSocketPort(TOsSocket socket) {
  sockaddr_in where;
  if (!LocalAddress(socket, where)) return -1;
  return ntohs(where.sin_port);
}

std::string OsSocketAddress(TOsSocket socket) {
  sockaddr_in where;
  char text[INET_ADDRSTRLEN];
  if (!LocalAddress(socket, where) ||
      inet_ntop(AF_INET, &where.sin_addr, text, sizeof text) == nullptr)
    return "";
  return text;
}

// Connections send without Nagle's delay. Both ends buffer what they write
// and push it out at a flush, so a small segment is never worth holding
// back; with the delay, the tail of a reply larger than the output buffer
// (sent in two pieces) waited for the peer's delayed acknowledgement, 40 ms
// a page of records.
void SendWithoutDelay(TOsSocket connection) {
  const int on = 1;
  setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

TOsSocket OsAcceptSocket(TOsSocket listenSocket) {
  for (;;) {
    TOsSocket connection = accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection >= 0) {
      SendWithoutDelay(connection);
      return connection;
    }
    if (!IsPendingConnectionError(errno)) return connection;
  }
}

TOsSocket OsConnectSocket(const std::string& address, int32_t port) {
  sockaddr_in where;
  if (address.empty() || !MakeAddress(address, port, where)) {
    errno = EINVAL;
    return kNoOsSocket;
  }
  TOsSocket connection = OsCreateStreamSocket();
  if (connection < 0) return kNoOsSocket;
  if (connect(connection, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
    int error = errno;
    close(connection);
    errno = error;
    return kNoOsSocket;
  }
  SendWithoutDelay(connection);
  return connection;
}

int32_t OsWaitReadable(TOsSocket socket, int32_t seconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    // A signal cuts the wait short; it goes on for the time that is left.
    int64_t left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{socket, POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX)));
    if (ready >= 0) return ready;
    if (errno != EINTR) return -1;
  }
}

int32_t OsReceive(TOsSocket socket, void* buffer, int32_t count) {
  for (;;) {
    ssize_t received = recv(socket, buffer, static_cast<size_t>(count), 0);
    if (received >= 0) return static_cast<int32_t>(received);
    if (errno != EINTR) return -1;
  }
}

bool OsSendAll(TOsSocket socket, const void* buffer, int32_t count) {
  const char* next = static_cast<const char*>(buffer);
  size_t left = static_cast<size_t>(count);
  while (left > 0) {
    // MSG_NOSIGNAL: a peer that is gone gives EPIPE instead of a SIGPIPE
    // that would end the process.
    ssize_t sent = send(socket, next, left, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (sent == 0) {
      // Not expected from a stream socket; failing here cannot loop forever.
      errno = EPIPE;
      return false;
    }
    next += sent;
    left -= static_cast<size_t>(sent);
  }
  return true;
}

bool OsShutdownSocket(TOsSocket socket) { return shutdown(socket, SHUT_RDWR) == 0; }

bool OsCloseSocket(TOsSocket socket) { return close(socket) == 0; }

}  // namespace kor
