#pragma once

// The binary wire encoding of the request and reply protocol, written by
// TBinStreamWriter and read by TBinStreamReader, in process and over TCP
// alike. Values follow one another with no type tags, no padding, no
// delimiters and no message length or framing: the protocol fixes which
// value comes next. Every integer is two's complement, little-endian (least
// significant byte first). Texts are byte strings, never converted.
//
// Integer (WriteInteger / ReadInteger), 4 bytes:
//   OFFSET  SIZE  DESCRIPTION
//   0       4     signed 32-bit value
//
// String (WriteString / ReadString), 4 + N bytes:
//   OFFSET  SIZE  DESCRIPTION
//   0       4     N, the text's length in bytes, as an Integer;
//                 0 <= N <= kMaxWireStringLength
//   4       N     the text's bytes, no terminator (nothing for N = 0)
//
// Identifier (WriteIdent / ReadIdent): exactly as a String.
//
// 64-bit value (WriteInt64, i.e. WriteBytes of 8 / ReadInt64), 4 + 4 bytes:
//   OFFSET  SIZE  DESCRIPTION
//   0       4     low 32-bit word  } one signed 64-bit value,
//   4       4     high 32-bit word } 8 bytes little-endian
//
// Byte block (WriteBytes / ReadBytes), count bytes:
//   OFFSET  SIZE   DESCRIPTION
//   0       count  the bytes as they are (record images); the count itself
//                  is not sent, both sides know it
//
// Booleans and floating-point numbers have no encoding of their own: they
// travel as Integers or inside record images.
//
// Example: the greeting every session sends first, WriteIdent("KOR"),
// WriteString("V 0.3"), Flush, is (4 + 3) + (4 + 5) = 16 bytes:
//   03 00 00 00 4B 4F 52 05 00 00 00 56 20 30 2E 33

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/ref.h"

#include "engine/streams/reader.h"
#include "engine/streams/stream.h"

namespace kor {

// The longest text a String may carry, in bytes. String fields hold at most
// 10000 bytes and names are far shorter, so the limit leaves room while
// keeping four bytes from a peer from making the engine reserve up to 2 GiB. A String read with a
// length below 0 or above this raises EReaderSyntaxError before anything is allocated; writing a
// longer text raises EWriterError before any byte is written.
inline constexpr int32_t kMaxWireStringLength = 65536;

// Reads wire values from an input stream. The stream's failures become
// reader failures: EInputStreamEof becomes EReaderEof, any other
// EInputStreamError becomes EReaderInputError, other exceptions pass. Bytes
// consumed before a failure stay consumed: a value found only in part leaves
// the stream past that part.
class TBinStreamReader final : public TReader {
 public:
  // Takes over the reference to `source`.
  explicit TBinStreamReader(Ref<TInputStream> source);

  // The same as ReadString.
  std::string ReadIdent() override;
  // Raises EReaderSyntaxError for a length outside 0..kMaxWireStringLength.
  std::string ReadString() override;
  int32_t ReadInteger() override;
  // REQUIRES: count >= 0.
  void ReadBytes(void* buffer, int32_t count) override;
  int64_t ReadInt64() override;

 private:
  void Fill(void* buffer, int32_t count);

  Ref<TInputStream> Source;
};

// Writes wire values to an output stream. EOutputStreamError from the sink
// becomes EWriterOutputError; other exceptions pass. Flush writes no bytes
// of its own: it flushes the sink.
class TBinStreamWriter final : public TWriter {
 public:
  // Takes over the reference to `sink`.
  explicit TBinStreamWriter(Ref<TOutputStream> sink);

  void Flush() override;
  // The same as WriteString.
  void WriteIdent(std::string_view text) override;
  // Raises EWriterError for a text longer than kMaxWireStringLength.
  void WriteString(std::string_view text) override;
  void WriteInteger(int32_t value) override;
  // REQUIRES: count >= 0; a count of 0 writes nothing.
  void WriteBytes(const void* buffer, int32_t count) override;

 private:
  void Put(const void* buffer, int32_t count);

  Ref<TOutputStream> Sink;
};

// Writes a 64-bit value in its wire encoding (8 bytes, little-endian)
// through WriteBytes, the counterpart of ReadInt64. Borrows the writer.
void WriteInt64(TWriter& writer, int64_t value);

}  // namespace kor
