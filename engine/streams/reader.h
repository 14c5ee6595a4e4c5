#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/base/object.h"

namespace kor {

// Typed values read from a request (binary wire encoding) or from
// configuration text (the token reader); the code that reads an item does
// not care which. Failures are EReaderError exceptions: EReaderEof when the
// input ends before or inside a value, EReaderSyntaxError for malformed
// input, EReaderInputError when the stream below fails.
class TReader : public TRCObject {
 public:
  virtual std::string ReadIdent() = 0;
  virtual std::string ReadString() = 0;
  virtual int32_t ReadInteger() = 0;
  // Fills `count` bytes (count >= 0; the count is known to both sides).
  virtual void ReadBytes(void* buffer, int32_t count) = 0;
  virtual int64_t ReadInt64() = 0;
};

// Typed values written to a reply. Failures are EWriterError exceptions.
class TWriter : public TRCObject {
 public:
  // Pushes buffered bytes on to the transport; writes no bytes of its own.
  virtual void Flush() {}
  virtual void WriteIdent(std::string_view text) = 0;
  virtual void WriteString(std::string_view text) = 0;
  virtual void WriteInteger(int32_t value) = 0;
  virtual void WriteBytes(const void* buffer, int32_t count) = 0;
};

// Reads an identifier and returns the 1-based position of the first keyword
// it equals, ignoring the case of A to Z; none raises EReaderSyntaxError.
// Borrows the reader.
int ReadKeyword(TReader& reader, std::initializer_list<std::string_view> keywords);

// Reads an integer; outside low..high raises EReaderSyntaxError. Borrows
// the reader.
int32_t ReadIntegerInRange(TReader& reader, int32_t low, int32_t high);

}  // namespace kor
