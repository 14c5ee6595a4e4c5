#include "engine/streams/bin_stream.h"

#include <utility>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

namespace kor {

TBinStreamReader::TBinStreamReader(Ref<TInputStream> source) : Source(std::move(source)) {
  FailIf(!Source);
}

void TBinStreamReader::Fill(void* buffer, int32_t count) {
  // The stream's exception is replaced, not wrapped: callers of a reader
  // only know reader failures.
  try {
    ReadFully(*Source, buffer, count);
  } catch (const EInputStreamEof&) {
    throw EReaderEof();
  } catch (const EInputStreamError&) {
    throw EReaderInputError();
  }
}

std::string TBinStreamReader::ReadIdent() { return ReadString(); }

std::string TBinStreamReader::ReadString() {
  int32_t length = ReadInteger();
  // Checked before the text is sized: the length comes from the peer.
  if (length < 0 || length > kMaxWireStringLength) throw EReaderSyntaxError();
  std::string text(static_cast<size_t>(length), '\0');
  Fill(text.data(), length);
  return text;
}

int32_t TBinStreamReader::ReadInteger() {
  unsigned char bytes[4];
  Fill(bytes, sizeof bytes);
  return DecodeInt32(bytes);
}

void TBinStreamReader::ReadBytes(void* buffer, int32_t count) {
  FailIf(count < 0);
  Fill(buffer, count);
}

int64_t TBinStreamReader::ReadInt64() {
  unsigned char bytes[8];
  Fill(bytes, sizeof bytes);
  return DecodeInt64(bytes);
}

TBinStreamWriter::TBinStreamWriter(Ref<TOutputStream> sink) : Sink(std::move(sink)) {
  FailIf(!Sink);
}

void TBinStreamWriter::Put(const void* buffer, int32_t count) {
  try {
    Sink->Write(buffer, count);
  } catch (const EOutputStreamError&) {
    throw EWriterOutputError();
  }
}

void TBinStreamWriter::Flush() {
  try {
    Sink->Flush();
  } catch (const EOutputStreamError&) {
    throw EWriterOutputError();
  }
}

void TBinStreamWriter::WriteIdent(std::string_view text) { WriteString(text); }

void TBinStreamWriter::WriteString(std::string_view text) {
  // A text the reader would refuse is not sent; the session ends instead of
  // the peer meeting a malformed value.
  if (text.size() > static_cast<size_t>(kMaxWireStringLength)) throw EWriterError();
  auto length = static_cast<int32_t>(text.size());
  WriteInteger(length);
  if (length > 0) Put(text.data(), length);
}

void TBinStreamWriter::WriteInteger(int32_t value) {
  unsigned char bytes[4];
  EncodeInt32(bytes, value);
  Put(bytes, sizeof bytes);
}

void TBinStreamWriter::WriteBytes(const void* buffer, int32_t count) {
  FailIf(count < 0);
  // Buffered sinks require at least one byte per Write.
  if (count == 0) return;
  Put(buffer, count);
}

void WriteInt64(TWriter& writer, int64_t value) {
  unsigned char bytes[8];
  EncodeInt64(bytes, value);
  writer.WriteBytes(bytes, sizeof bytes);
}

}  // namespace kor
