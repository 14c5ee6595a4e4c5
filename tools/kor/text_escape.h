#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kor::tool {

// How the bytes of a STRING field are written in each output format. The
// engine keeps texts as bytes without a character set; UTF-8 is assumed for
// display only, and bytes that are not valid UTF-8 are kept recognisable.

// The length of the valid UTF-8 sequence (1 to 4 bytes, shortest form, no
// surrogates) starting at text[at], or 0 when the byte there starts none.
size_t Utf8SequenceLength(std::string_view text, size_t at);

// A JSON string, quotes included: ", \ and control characters escaped; a
// byte that is not part of valid UTF-8 becomes \udcXX (XX its value), the
// lone surrogate that UTF-8 can never encode, so the text reads back
// unambiguously (Python: json.loads(...).encode("utf-8", "surrogateescape")).
void AppendJsonString(std::string& out, std::string_view text);

// A CSV field (RFC 4180): quoted when it is empty (an empty unquoted field
// stands for null) or holds a comma, a quote, CR or LF; quotes doubled. The
// bytes are written as they are.
void AppendCsvField(std::string& out, std::string_view text);

// For the aligned table: valid UTF-8 as it is; a backslash as "\\", control
// characters and bytes outside valid UTF-8 as "\xNN". Returns the number of
// characters (code points) appended, the text's display width.
size_t AppendDisplayText(std::string& out, std::string_view text);

}  // namespace kor::tool
