#pragma once

#include <string>
#include <vector>

#include "engine/platform/socket.h"

#include "tools/kor/transport.h"

namespace kor::tool {

// A korserver over TCP. The server buffers its replies until the client
// asks for them with the flush command, so every Send ends with one.
class TSocketTransport final : public TTransport {
 public:
  // `address` is "HOST:PORT"; HOST a name or a dotted IPv4 address. Raises
  // TKorError when it is malformed or the connection cannot be made.
  explicit TSocketTransport(const std::string& address);
  ~TSocketTransport() override;
  TSocketTransport(const TSocketTransport&) = delete;
  TSocketTransport& operator=(const TSocketTransport&) = delete;

  void Send(std::vector<uint8_t>& request) override;
  size_t Receive(uint8_t* buffer, size_t count) override;
  const std::string& Name() const override { return DisplayName; }

 private:
  std::string DisplayName;
  TOsSocket Socket = kNoOsSocket;
};

}  // namespace kor::tool
