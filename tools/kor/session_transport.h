#pragma once

#include <string>
#include <vector>

#include "tools/kor/transport.h"

namespace kor::tool {

// The engine in this process: the library's in-process session (the code
// behind KorInit, KorWrite, KorRead and KorDone) on the database in the
// current directory. One per process.
//
// Linked from the kor_session static library rather than through
// libkorjni.so: opening reports the reason of a failure as text (KorInit
// only answers 0 and logs it), and the tool's own reading of the
// configuration (check) shares the one engine object registry with the
// session instead of loading a second copy of the engine with the library.
// Each call goes through the same exception edge as the exported functions.
class TSessionTransport final : public TTransport {
 public:
  // REQUIRES: the current directory holds the database ("CONFIG.ZSR").
  // Opens the session; a configuration or file that cannot be used raises
  // TKorError naming it.
  explicit TSessionTransport(std::string dirName);
  // Closes the session, which proves that the engine left nothing behind.
  ~TSessionTransport() override;
  TSessionTransport(const TSessionTransport&) = delete;
  TSessionTransport& operator=(const TSessionTransport&) = delete;

  void Send(std::vector<uint8_t>& request) override;
  size_t Receive(uint8_t* buffer, size_t count) override;
  const std::string& Name() const override { return DisplayName; }

 private:
  std::string DisplayName;
};

}  // namespace kor::tool
