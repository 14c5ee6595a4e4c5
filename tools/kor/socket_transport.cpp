#include "tools/kor/socket_transport.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

#include "engine/base/numeric.h"

#include "engine/protocol/protocol_codes.h"

#include "tools/kor/kor_error.h"

namespace kor::tool {

namespace {

constexpr size_t kMaxCall = std::numeric_limits<int32_t>::max();

// The dotted IPv4 address of `host`, resolved when it is a name.
std::string ResolveHost(const std::string& host, const std::string& displayName) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error != 0 || found == nullptr) {
    throw TKorError(displayName + ": cannot resolve " + host + ": " + gai_strerror(error));
  }
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, dotted,
            sizeof dotted);
  freeaddrinfo(found);
  return dotted;
}

}  // namespace

TSocketTransport::TSocketTransport(const std::string& address)
    : DisplayName("korserver " + address) {
  const size_t colon = address.rfind(':');
  int32_t port = 0;
  if (colon == std::string::npos || colon == 0) {
    throw TKorError(DisplayName + ": expected HOST:PORT");
  }
  const char* first = address.data() + colon + 1;
  const char* last = address.data() + address.size();
  auto [end, error] = std::from_chars(first, last, port);
  if (error != std::errc() || end != last || first == last || port < 1 || port > 65535) {
    throw TKorError(DisplayName + ": the port must be a number from 1 to 65535");
  }
  const std::string dotted = ResolveHost(address.substr(0, colon), DisplayName);
  Socket = OsConnectSocket(dotted, port);
  if (Socket == kNoOsSocket) {
    throw TKorError(DisplayName + ": cannot connect: " + strerror(errno));
  }
  // The connection sends without Nagle's delay (the platform layer sets it
  // on every connection, the server's too), so neither a request nor the
  // tail of a long reply waits for an acknowledgement.
}

TSocketTransport::~TSocketTransport() {
  if (Socket != kNoOsSocket) OsCloseSocket(Socket);
}

void TSocketTransport::Send(std::vector<uint8_t>& request) {
  unsigned char flush[4];
  EncodeInt32(flush, static_cast<int32_t>(TCommand::FlushReplies));
  request.insert(request.end(), flush, flush + sizeof flush);
  for (size_t done = 0; done < request.size();) {
    const size_t count = std::min(request.size() - done, kMaxCall);
    if (!OsSendAll(Socket, request.data() + done, static_cast<int32_t>(count))) {
      throw TKorError(DisplayName + ": the connection failed: " + strerror(errno));
    }
    done += count;
  }
}

size_t TSocketTransport::Receive(uint8_t* buffer, size_t count) {
  const int32_t received =
      OsReceive(Socket, buffer, static_cast<int32_t>(std::min(count, kMaxCall)));
  if (received < 0) throw TKorError(DisplayName + ": the connection failed: " + strerror(errno));
  if (received == 0) throw TKorError(DisplayName + ": the server ended the session");
  return static_cast<size_t>(received);
}

}  // namespace kor::tool
