#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/base/source_location.h"

namespace kor {

// The family of expected failures: end of input, malformed input, a file or
// socket that cannot be used. They are raised without a message of their
// own; the message is composed as "<class name>  LastError: <code>", with
// the thread's last operating-system error at construction. Thrown by value,
// caught by const reference; none ever crosses the C or JNI boundary.
class EZException : public std::runtime_error {
 public:
  // The operating-system error code captured at construction.
  uint32_t LastError() const { return Error; }
  const char* ClassName() const { return Name; }
  // Where the engine's code raised it.
  const TSourceLocation& RaisedAt() const { return Where; }
  // Where in its input the failure was met ("CONFIG.ZSR, line 3"); empty
  // when unknown. Set by the code that reads the input.
  const std::string& InputPosition() const { return Position; }
  void SetInputPosition(std::string position) { Position = std::move(position); }

  // The message, the input position and the raising source line, for logs.
  std::string Describe() const;

 protected:
  EZException(const char* className, TSourceLocation where);

 private:
  EZException(const char* className, TSourceLocation where, uint32_t error);

  const char* Name;
  uint32_t Error;
  TSourceLocation Where;
  std::string Position;
};

#define KOR_DECLARE_EXCEPTION(Name, Parent)                                                     \
  class Name : public Parent {                                                                  \
   public:                                                                                      \
    explicit Name(TSourceLocation where = TSourceLocation::Current()) : Parent(#Name, where) {} \
                                                                                                \
   protected:                                                                                   \
    Name(const char* className, TSourceLocation where) : Parent(className, where) {}            \
  }

KOR_DECLARE_EXCEPTION(EInputStreamError, EZException);
KOR_DECLARE_EXCEPTION(EInputStreamEof, EInputStreamError);
KOR_DECLARE_EXCEPTION(EOutputStreamError, EZException);
// Reader failures: the protocol executor ends its session on any of them.
KOR_DECLARE_EXCEPTION(EReaderError, EZException);
KOR_DECLARE_EXCEPTION(EReaderInputError, EReaderError);
KOR_DECLARE_EXCEPTION(EReaderSyntaxError, EReaderError);
// Input ended before or inside a value; a syntax error too.
KOR_DECLARE_EXCEPTION(EReaderEof, EReaderSyntaxError);
KOR_DECLARE_EXCEPTION(EWriterError, EZException);
KOR_DECLARE_EXCEPTION(EWriterOutputError, EWriterError);
KOR_DECLARE_EXCEPTION(ESocketError, EZException);
KOR_DECLARE_EXCEPTION(EZServerError, EZException);
KOR_DECLARE_EXCEPTION(EFileOpenError, EZException);
// A file would grow past the largest size the engine can address.
KOR_DECLARE_EXCEPTION(EFileFullError, EZException);
KOR_DECLARE_EXCEPTION(EIndexFileError, EZException);
KOR_DECLARE_EXCEPTION(EKeyTooLargeError, EReaderSyntaxError);

}  // namespace kor
