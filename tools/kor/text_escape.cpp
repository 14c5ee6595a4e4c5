#include "tools/kor/text_escape.h"

#include <cstdint>

namespace kor::tool {

namespace {

constexpr char kHex[] = "0123456789abcdef";

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void AppendHexByte(std::string& out, unsigned char c) {
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char c = byte(0);
  if (c < 0x80) return 1;
  size_t length = 0;
  uint32_t low = 0;  // the smallest code point of that length (no overlong forms)
  uint32_t point = 0;
  if ((c & 0xE0) == 0xC0) {
    length = 2, low = 0x80, point = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3, low = 0x800, point = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4, low = 0x10000, point = c & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(byte(i))) return 0;
    point = point << 6 | (byte(i) & 0x3F);
  }
  if (point < low || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += "\\udc";
      AppendHexByte(out, c);
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text, i, length);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      AppendHexByte(out, c);
    } else {
      out += static_cast<char>(c);
    }
    i += length;
  }
  out += '"';
}

void AppendCsvField(std::string& out, std::string_view text) {
  if (!text.empty() && text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

size_t AppendDisplayText(std::string& out, std::string_view text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0 || c < 0x20 || c == 0x7F) {
      out += "\\x";
      AppendHexByte(out, c);
      width += 4;
      ++i;
    } else if (c == '\\') {
      out += "\\\\";
      width += 2;
      ++i;
    } else {
      out.append(text, i, length);
      ++width;
      i += length;
    }
  }
  return width;
}

}  // namespace kor::tool
