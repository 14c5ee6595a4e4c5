#pragma once

#include <functional>
#include <string>
#include <utility>

#include "engine/base/exceptions.h"
#include "engine/base/numeric.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"
#include "engine/streams/text_stream_reader.h"

#include "tests/support/string_stream.h"
#include "tests/support/wire.h"

namespace kor::test {

// Helpers for the table-driven decoder tests.

// A token reader over `text`, named "test" in its messages.
inline Ref<TReader> TextReader(std::string text) {
  return MakeRef<TTextStreamReader>(MakeRef<TStringInputStream>(std::move(text)), "test");
}

// The class name of the engine exception `call` raises, "" when none. Exact,
// unlike EXPECT_THROW: EReaderEof is an EReaderSyntaxError too.
inline std::string RaisedClass(const std::function<void()>& call) {
  try {
    call();
  } catch (const EZException& e) {
    return e.ClassName();
  }
  return "";
}

}  // namespace kor::test
