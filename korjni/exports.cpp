#include "korjni/exports.h"

#include <string>

#include "engine/base/fatal.h"
#include "engine/base/log.h"

#include "korjni/boundary.h"
#include "korjni/session.h"

#define KOR_EXPORT __attribute__((visibility("default")))

namespace {

// Runs when the library is loaded: the log goes to "KORLIB.OUT" in the
// current directory of that moment, and an exception that escapes
// everything ends in the fatal report.
__attribute__((constructor)) void LibraryLoaded() {
  kor::SetLogFile("KORLIB.OUT");
  kor::InstallUnhandledExceptionHandler();
}

}  // namespace

extern "C" {

KOR_EXPORT uint8_t KorInit() {
  return kor::AtBoundary<uint8_t>("KorInit", 0, [] {
    std::string failure;
    return kor::OpenSession(failure) == kor::TOpenResult::Opened ? 1 : 0;
  });
}

KOR_EXPORT uint8_t KorDone() {
  return kor::AtBoundary<uint8_t>("KorDone", 0, [] { return kor::CloseSession() ? 1 : 0; });
}

KOR_EXPORT uint8_t KorWrite(const uint8_t* buffer, int32_t offset, int32_t count) {
  return kor::AtBoundary<uint8_t>("KorWrite", 0, [&] {
    return kor::WriteSession(buffer == nullptr ? nullptr : buffer + offset, count) ? 1 : 0;
  });
}

KOR_EXPORT int32_t KorRead(uint8_t* buffer, int32_t offset, int32_t count) {
  return kor::AtBoundary<int32_t>("KorRead", -1, [&] {
    return kor::ReadSession(buffer == nullptr ? nullptr : buffer + offset, count);
  });
}
}
