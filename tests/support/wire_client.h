#pragma once

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "engine/platform/socket.h"

#include "engine/base/exceptions.h"
#include "engine/base/ref.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/buffered_stream.h"

#include "engine/server/socket.h"

namespace kor::test {

// The client end of a protocol connection over TCP, for tests and
// benchmarks: typed requests through a 4096-byte write buffer (Send pushes
// them out), typed replies straight from the connection.
class TWireClient {
 public:
  explicit TWireClient(int32_t port, const std::string& address = "127.0.0.1") {
    TOsSocket handle = OsConnectSocket(address, port);
    if (handle == kNoOsSocket)
      throw std::runtime_error(std::string("connect failed: ") + strerror(errno));
    Connection = MakeRef<TSocket>(handle);
    Reader = MakeRef<TBinStreamReader>(Connection->GetInputStream());
    Writer = MakeRef<TBinStreamWriter>(
        MakeRef<TBufferedOutputStream>(Connection->GetOutputStream(), kBufferSize));
  }
  ~TWireClient() { Disconnect(); }
  TWireClient(const TWireClient&) = delete;
  TWireClient& operator=(const TWireClient&) = delete;

  TBinStreamReader& In() { return *Reader; }
  TBinStreamWriter& Out() { return *Writer; }

  // Sends what is buffered.
  void Send() { Writer->Flush(); }
  // Sends `command` then command 2 (flush replies), so that the reply comes.
  void Request(int32_t command) {
    Writer->WriteInteger(command);
    Writer->WriteInteger(kFlushReplies);
    Send();
  }

  // Reads the greeting; false when it is not "KOR", "V 0.3".
  bool ReadGreeting() { return Reader->ReadIdent() == "KOR" && Reader->ReadString() == "V 0.3"; }

  // True when the server has ended the connection in order: the next read
  // meets the end of the data.
  bool ServerClosed() {
    try {
      Reader->ReadInteger();
    } catch (const EReaderEof&) {
      return true;
    } catch (const EReaderError&) {
      return false;
    }
    return false;
  }

  // Closes the connection and frees everything of it.
  void Disconnect() {
    Writer.Reset();
    Reader.Reset();
    Connection.Reset();
  }

 private:
  static constexpr int32_t kBufferSize = 4096;
  static constexpr int32_t kFlushReplies = 2;

  Ref<TSocket> Connection;
  Ref<TBinStreamReader> Reader;
  Ref<TBinStreamWriter> Writer;
};

// A port in the configurable range 1024..16383 that nothing listens on at
// the moment of the call, or -1. Tests run in parallel processes, and a
// port probed free is only taken when the server binds it later: each
// process draws its candidates at random from the upper part of the range
// (where services are rare), so that two tests rarely pick the same one.
inline int32_t FreeConfigurablePort() {
  constexpr int32_t kLow = 10000;
  constexpr int32_t kHigh = 16383;
  std::minstd_rand random(static_cast<uint32_t>(getpid()) * 2654435761u ^
                          static_cast<uint32_t>(
                              std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int32_t port = kLow + static_cast<int32_t>(random() % (kHigh - kLow + 1));
    try {
      MakeRef<TSocketServer>(port, "127.0.0.1");
      return port;
    } catch (const ESocketError&) {
      // Taken: try another.
    }
  }
  return -1;
}

}  // namespace kor::test
