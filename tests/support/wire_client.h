#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
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
// the moment of the call (from the top down, where services are rare), or
// -1.
inline int32_t FreeConfigurablePort() {
  for (int32_t port = 16383; port >= 1024; --port) {
    try {
      MakeRef<TSocketServer>(port, "127.0.0.1");
      return port;
    } catch (const ESocketError&) {
      // Taken: try the next one.
    }
  }
  return -1;
}

}  // namespace kor::test
