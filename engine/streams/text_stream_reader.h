#pragma once

#include <cstdint>
#include <string>

#include "engine/base/ref.h"

#include "engine/streams/reader.h"
#include "engine/streams/stream.h"

namespace kor {

// The reader of configuration text (the configuration file, the structure
// file, the counter file): the same five operations as the binary reader,
// taken from tokens in text.
//
// Lexical rules, byte by byte (no character-set conversion; letters are the
// ASCII A to Z and a to z only):
//   blanks      tab, line feed, carriage return and space between tokens;
//               {comment} runs to the first "}" and does not nest. Any other
//               byte below 32 where a token may start is a syntax error.
//   end         the physical end of the source, or a byte 26 (control-Z):
//               nothing after it is read.
//   identifier  a letter or "_", then letters, digits and "_"; at most 32;
//               returned in upper case.
//   integer     at most 15 characters: "+"/"-" and decimal digits within
//               int32, or "$", "0x", "0X" and 1 to 8 significant hex digits
//               taken as a 32-bit pattern ($FFFFFFFF is -1). Letters belong to
//               the token, so 12AB is one invalid number.
//   string      quoted parts 'it''s' (no byte below 32 inside) and character
//               codes #13 or #$0D (0..255), back to back or joined by a "+"
//               that follows a part directly; at most 1023 characters.
//   byte block  "%", the 4-byte little-endian length, the raw bytes, "%".
//   int64       "$" and up to 16 significant hex digits.
//
// Every token operation first skips blanks and leaves Current() on the first
// character after its token, not consumed. Failures: EReaderEof when a token
// should start after the end (or a comment is not closed), EReaderSyntaxError
// for a malformed token, EReaderInputError when the source fails. After any
// exception the position is unspecified; callers do not resume.
//
// The reader counts the line feeds it consumes, so a caller reporting an
// error can say where it was met (Position()); it does not attach that to
// exceptions itself.
class TTextStreamReader final : public TReader {
 public:
  // The value of Current() at the end of the input.
  static constexpr unsigned char kEndOfInput = 26;

  // Takes over the source. `inputName` names the input in Position().
  explicit TTextStreamReader(Ref<TInputStream> source, std::string inputName = {});

  std::string ReadIdent() override;
  std::string ReadString() override;
  int32_t ReadInteger() override;
  // Reads a byte block whose stored length must equal `count` (>= 0). The
  // length and the bytes are taken from the source directly, so a stream
  // failure inside them arrives as the stream's own exception
  // (EInputStreamEof, EInputStreamError), not as a reader exception.
  void ReadBytes(void* buffer, int32_t count) override;
  int64_t ReadInt64() override;

  // Replaces Current() with the next byte of the source (kEndOfInput at its
  // end); raises EReaderEof when Current() is already kEndOfInput.
  void NextChar();
  // Advances Current() to the first character of the next token.
  void SkipBlanks();

  // The first character not yet consumed by a token; a space before the
  // first read.
  unsigned char Current() const { return CurrentChar; }
  // The 1-based line of Current(): one more than the line feeds consumed.
  int32_t Line() const { return LineNumber; }
  // "CONFIG.ZSR, line 3", or "line 3" when the input has no name.
  std::string Position() const;

 private:
  Ref<TInputStream> Source;
  unsigned char CurrentChar = ' ';
  int32_t LineNumber = 1;
  std::string InputName;
};

}  // namespace kor
