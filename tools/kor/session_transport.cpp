#include "tools/kor/session_transport.h"

#include <algorithm>
#include <limits>

#include "korjni/boundary.h"
#include "korjni/session.h"
#include "tools/kor/engine_error_text.h"
#include "tools/kor/kor_error.h"

namespace kor::tool {

namespace {

// The largest count one call moves; a longer request goes in pieces.
constexpr size_t kMaxCall = std::numeric_limits<int32_t>::max();

}  // namespace

TSessionTransport::TSessionTransport(std::string dirName)
    : DisplayName("database " + std::move(dirName)) {
  std::string failure;
  TOpenResult result =
      AtBoundary<TOpenResult>("KorInit", TOpenResult::Failed, [&] { return OpenSession(failure); });
  if (result == TOpenResult::Opened) return;
  if (result == TOpenResult::AlreadyOpen)
    throw TKorError(DisplayName + ": a session is already open");
  throw TKorError(DisplayName + ": cannot open: " + DescribeForUser(failure));
}

TSessionTransport::~TSessionTransport() {
  AtBoundary<bool>("KorDone", false, [] { return CloseSession(); });
}

void TSessionTransport::Send(std::vector<uint8_t>& request) {
  for (size_t done = 0; done < request.size();) {
    const size_t count = std::min(request.size() - done, kMaxCall);
    const bool queued = AtBoundary<bool>("KorWrite", false, [&] {
      return WriteSession(request.data() + done, static_cast<int32_t>(count));
    });
    if (!queued) throw TKorError(DisplayName + ": the session has ended (see KORLIB.OUT)");
    done += count;
  }
}

size_t TSessionTransport::Receive(uint8_t* buffer, size_t count) {
  const int32_t received = AtBoundary<int32_t>("KorRead", -1, [&] {
    return ReadSession(buffer, static_cast<int32_t>(std::min(count, kMaxCall)));
  });
  if (received <= 0) {
    throw TKorError(DisplayName +
                    ": the engine ended the session without a reply (see KORLIB.OUT)");
  }
  return static_cast<size_t>(received);
}

}  // namespace kor::tool
