#include "engine/streams/text_stream_reader.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

namespace kor {

namespace {

constexpr size_t kMaxIdentLength = 32;
constexpr size_t kMaxNumberLength = 15;
constexpr size_t kMaxStringLength = 1023;
constexpr size_t kMaxInt32HexDigits = 8;
constexpr size_t kMaxInt64HexDigits = 16;

bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool IsBlank(unsigned char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
char UpperCase(unsigned char c) {
  return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

// An optional "+" or "-" and decimal digits within int32. The token has at
// most 15 characters, so its value fits in 64 bits before the range check.
int32_t ConvertDecimal(std::string_view token) {
  bool negative = token.starts_with('-');
  if (negative || token.starts_with('+')) token.remove_prefix(1);
  if (token.empty()) throw EReaderSyntaxError();
  int64_t value = 0;
  for (char c : token) {
    if (!IsDigit(static_cast<unsigned char>(c))) throw EReaderSyntaxError();
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) throw EReaderSyntaxError();
  return static_cast<int32_t>(value);
}

// 1 to 8 significant hexadecimal digits (either case), read as a 32-bit
// pattern: FFFFFFFF is -1.
int32_t ConvertHex(std::string_view digits) {
  if (digits.empty()) throw EReaderSyntaxError();
  uint32_t pattern = 0;
  size_t significant = 0;
  for (char c : digits) {
    auto digit = static_cast<unsigned char>(c);
    if (!IsHexDigit(digit)) throw EReaderSyntaxError();
    if (significant == 0 && digit == '0') continue;
    if (++significant > kMaxInt32HexDigits) throw EReaderSyntaxError();
    int nibble = IsDigit(digit) ? digit - '0' : UpperCase(digit) - 'A' + 10;
    pattern = pattern << 4 | static_cast<uint32_t>(nibble);
  }
  return static_cast<int32_t>(pattern);
}

// A number token: hexadecimal after "$", "0x" or "0X" (no sign before the
// prefix), decimal otherwise.
int32_t ConvertNumber(std::string_view token) {
  if (token.starts_with('$')) return ConvertHex(token.substr(1));
  if (token.starts_with("0x") || token.starts_with("0X")) return ConvertHex(token.substr(2));
  return ConvertDecimal(token);
}

}  // namespace

TTextStreamReader::TTextStreamReader(Ref<TInputStream> source, std::string inputName)
    : Source(std::move(source)), InputName(std::move(inputName)) {
  FailIf(!Source);
}

void TTextStreamReader::NextChar() {
  if (CurrentChar == kEndOfInput) throw EReaderEof();
  if (CurrentChar == '\n') ++LineNumber;
  unsigned char byte;
  try {
    Source->Read(&byte, 1);
  } catch (const EInputStreamEof&) {
    CurrentChar = kEndOfInput;
    return;
  } catch (const EInputStreamError&) {
    throw EReaderInputError();
  }
  CurrentChar = byte;
}

void TTextStreamReader::SkipBlanks() {
  for (;;) {
    if (IsBlank(CurrentChar)) {
      NextChar();
    } else if (CurrentChar == '{') {
      // Comments do not nest: the first "}" ends one. Running into the end
      // makes NextChar raise EReaderEof.
      do {
        NextChar();
      } while (CurrentChar != '}');
      NextChar();
    } else if (CurrentChar == kEndOfInput) {
      throw EReaderEof();
    } else if (CurrentChar < 32) {
      throw EReaderSyntaxError();
    } else {
      return;
    }
  }
}

std::string TTextStreamReader::ReadIdent() {
  SkipBlanks();
  if (!IsLetter(CurrentChar) && CurrentChar != '_') throw EReaderSyntaxError();
  std::string ident;
  while (IsLetter(CurrentChar) || IsDigit(CurrentChar) || CurrentChar == '_') {
    if (ident.size() == kMaxIdentLength) throw EReaderSyntaxError();
    ident += UpperCase(CurrentChar);
    NextChar();
  }
  return ident;
}

int32_t TTextStreamReader::ReadInteger() {
  SkipBlanks();
  if (CurrentChar != '$' && CurrentChar != '+' && CurrentChar != '-' && !IsDigit(CurrentChar)) {
    throw EReaderSyntaxError();
  }
  std::string token(1, static_cast<char>(CurrentChar));
  NextChar();
  while (IsLetter(CurrentChar) || IsDigit(CurrentChar)) {
    if (token.size() == kMaxNumberLength) throw EReaderSyntaxError();
    token += static_cast<char>(CurrentChar);
    NextChar();
  }
  return ConvertNumber(token);
}

std::string TTextStreamReader::ReadString() {
  SkipBlanks();
  if (CurrentChar != '\'' && CurrentChar != '#') throw EReaderSyntaxError();
  std::string text;
  auto append = [&text](unsigned char c) {
    if (text.size() == kMaxStringLength) throw EReaderSyntaxError();
    text += static_cast<char>(c);
  };
  for (;;) {
    if (CurrentChar == '\'') {
      // A quoted part. An apostrophe right after the closing one stands for
      // itself and opens the next part, so '' inside a part is one '.
      for (;;) {
        NextChar();
        if (CurrentChar == '\'') break;
        // Line breaks, other control characters and the end of input.
        if (CurrentChar < 32) throw EReaderSyntaxError();
        append(CurrentChar);
      }
      NextChar();
      if (CurrentChar == '\'') append('\'');
    } else if (CurrentChar == '#') {
      NextChar();
      if (CurrentChar != '$' && !IsDigit(CurrentChar)) throw EReaderSyntaxError();
      int32_t code = ReadInteger();
      if (code < 0 || code > 255) throw EReaderSyntaxError();
      append(static_cast<unsigned char>(code));
    } else if (CurrentChar == '+') {
      // Only a "+" directly after a part joins; blanks may follow it.
      NextChar();
      SkipBlanks();
    } else {
      return text;
    }
  }
}

void TTextStreamReader::ReadBytes(void* buffer, int32_t count) {
  FailIf(count < 0);
  SkipBlanks();
  if (CurrentChar != '%') throw EReaderSyntaxError();
  // Current holds the opening "%", the last byte taken from the source, so
  // the length and the data are the source's next bytes.
  unsigned char length[4];
  ReadFully(*Source, length, 4);
  if (DecodeInt32(length) != count) throw EReaderSyntaxError();
  ReadFully(*Source, buffer, count);
  // Raw bytes may hold line feeds; counting them keeps Line() in step with
  // the physical lines of the file.
  auto* data = static_cast<const unsigned char*>(buffer);
  LineNumber += static_cast<int32_t>(std::count(length, length + 4, '\n') +
                                     std::count(data, data + count, '\n'));
  NextChar();
  if (CurrentChar != '%') throw EReaderSyntaxError();
  NextChar();
}

int64_t TTextStreamReader::ReadInt64() {
  SkipBlanks();
  if (CurrentChar != '$') throw EReaderSyntaxError();
  NextChar();
  bool zeros = false;
  while (CurrentChar == '0') {
    zeros = true;
    NextChar();
  }
  std::string digits;
  while (IsHexDigit(CurrentChar)) {
    if (digits.size() == kMaxInt64HexDigits) throw EReaderSyntaxError();
    digits += static_cast<char>(CurrentChar);
    NextChar();
  }
  if (digits.empty()) {
    if (!zeros) throw EReaderSyntaxError();
    return 0;
  }
  return HexToInt64(digits);
}

std::string TTextStreamReader::Position() const {
  std::string line = "line " + std::to_string(LineNumber);
  return InputName.empty() ? line : InputName + ", " + line;
}

}  // namespace kor
