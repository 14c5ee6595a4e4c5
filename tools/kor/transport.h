#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kor::tool {

// Carries the bytes of one protocol session: complete requests out, reply
// bytes in. Two kinds: the engine in this process (session_transport.h) and
// a korserver over TCP (socket_transport.h). Failures raise TKorError.
class TTransport {
 public:
  virtual ~TTransport() = default;

  // Sends one or more complete requests held in `request`. A transport may
  // append bytes of its own to the buffer (the TCP one adds the flush
  // command, so that the server sends its replies at once); the caller
  // clears the buffer before building the next request.
  virtual void Send(std::vector<uint8_t>& request) = 0;
  // Receives between 1 and `count` reply bytes into `buffer`; called only
  // when the reply to a request sent is not complete yet.
  virtual size_t Receive(uint8_t* buffer, size_t count) = 0;
  // "database DIR" or "korserver HOST:PORT", for messages.
  virtual const std::string& Name() const = 0;
};

}  // namespace kor::tool
