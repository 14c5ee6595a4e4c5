#include "engine/streams/bin_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>

#include "engine/base/exceptions.h"
#include "engine/base/numeric.h"
#include "engine/base/ref.h"

#include "engine/streams/buffered_stream.h"
#include "engine/streams/stream_buffer.h"

namespace kor {
namespace {

// "03 00 4B" -> the three bytes.
std::string Hex(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

std::string Drain(TStreamBuffer& buffer) {
  std::string bytes(static_cast<size_t>(buffer.Available()), '\0');
  if (!bytes.empty()) buffer.Read(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

// The class name of the engine exception `call` raises, "" when it raises
// none. Exact, unlike EXPECT_THROW: EReaderEof is an EReaderSyntaxError too.
std::string RaisedClass(const std::function<void()>& call) {
  try {
    call();
  } catch (const EZException& e) {
    return e.ClassName();
  }
  return "";
}

// A reader and a writer over one stream buffer each; every test must leave
// no engine object alive.
class BinStreamTest : public ::testing::Test {
 protected:
  BinStreamTest()
      : Input(MakeRef<TStreamBuffer>(4096)),
        Output(MakeRef<TStreamBuffer>(4096)),
        Reader(MakeRef<TBinStreamReader>(MakeRef<TStreamBufferInputStream>(Input))),
        Writer(MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(Output))) {}
  void TearDown() override {
    Reader.ReleaseLast();
    Writer.ReleaseLast();
    Input.ReleaseLast();
    Output.ReleaseLast();
    EXPECT_EQ(TZObject::LiveObjectCount(), 0);
  }
  void Feed(const std::string& bytes) {
    Input->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  }

  Ref<TStreamBuffer> Input;
  Ref<TStreamBuffer> Output;
  Ref<TBinStreamReader> Reader;
  Ref<TBinStreamWriter> Writer;
};

TEST_F(BinStreamTest, Greeting) {
  Writer->WriteIdent("KOR");
  Writer->WriteString("V 0.3");
  Writer->Flush();
  EXPECT_EQ(Drain(*Output), Hex("03 00 00 00 4B 4F 52 05 00 00 00 56 20 30 2E 33"));

  Feed(Hex("03 00 00 00 4B 4F 52 05 00 00 00 56 20 30 2E 33"));
  EXPECT_EQ(Reader->ReadIdent(), "KOR");
  EXPECT_EQ(Reader->ReadString(), "V 0.3");
  EXPECT_EQ(Input->Available(), 0);
}

struct TIntegerCase {
  int32_t Value;
  const char* Bytes;
};

void PrintTo(const TIntegerCase& c, std::ostream* os) { *os << c.Value; }

class BinIntegerTest : public BinStreamTest, public ::testing::WithParamInterface<TIntegerCase> {};

TEST_P(BinIntegerTest, IsFourBytesLittleEndian) {
  Writer->WriteInteger(GetParam().Value);
  EXPECT_EQ(Drain(*Output), Hex(GetParam().Bytes));
  Feed(Hex(GetParam().Bytes));
  EXPECT_EQ(Reader->ReadInteger(), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BinIntegerTest,
    ::testing::Values(TIntegerCase{0, "00 00 00 00"}, TIntegerCase{1, "01 00 00 00"},
                      TIntegerCase{-1, "FF FF FF FF"}, TIntegerCase{0x12345678, "78 56 34 12"},
                      TIntegerCase{std::numeric_limits<int32_t>::min(), "00 00 00 80"},
                      TIntegerCase{std::numeric_limits<int32_t>::max(), "FF FF FF 7F"}));

struct TInt64Case {
  int64_t Value;
  const char* Bytes;
};

void PrintTo(const TInt64Case& c, std::ostream* os) { *os << c.Value; }

class BinInt64Test : public BinStreamTest, public ::testing::WithParamInterface<TInt64Case> {};

TEST_P(BinInt64Test, IsLowWordFirst) {
  WriteInt64(*Writer, GetParam().Value);
  EXPECT_EQ(Drain(*Output), Hex(GetParam().Bytes));
  Feed(Hex(GetParam().Bytes));
  EXPECT_EQ(Reader->ReadInt64(), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BinInt64Test,
    ::testing::Values(TInt64Case{1, "01 00 00 00 00 00 00 00"},
                      TInt64Case{-1, "FF FF FF FF FF FF FF FF"},
                      TInt64Case{0x0123456789ABCDEF, "EF CD AB 89 67 45 23 01"},
                      // A write stamp: negative high word, low word 5.
                      TInt64Case{-(int64_t{1} << 32) + 5, "05 00 00 00 FF FF FF FF"},
                      TInt64Case{std::numeric_limits<int64_t>::min(), "00 00 00 00 00 00 00 80"}));

TEST_F(BinStreamTest, ValuesFollowOneAnotherWithoutFraming) {
  const std::string text(
      "a\0\xFF"
      "b",
      4);
  Writer->WriteIdent("TABLE");
  Writer->WriteString(text);
  Writer->WriteInteger(-7);
  Writer->WriteBytes("\x01\x02\x03", 3);
  WriteInt64(*Writer, 42);
  std::string bytes = Drain(*Output);
  EXPECT_EQ(bytes.size(), (4 + 5) + (4 + 4) + 4 + 3 + 8u);

  Feed(bytes);
  EXPECT_EQ(Reader->ReadIdent(), "TABLE");
  EXPECT_EQ(Reader->ReadString(), text);
  EXPECT_EQ(Reader->ReadInteger(), -7);
  char block[3];
  Reader->ReadBytes(block, 3);
  EXPECT_EQ(std::string(block, 3), "\x01\x02\x03");
  EXPECT_EQ(Reader->ReadInt64(), 42);
  EXPECT_EQ(Input->Available(), 0);
}

TEST_F(BinStreamTest, ReadIntegerOverTwoBytesRaisesEofAndConsumesThem) {
  Feed(Hex("01 02"));
  EXPECT_EQ(RaisedClass([&] { Reader->ReadInteger(); }), "EReaderEof");
  EXPECT_EQ(Input->Available(), 0);
}

TEST_F(BinStreamTest, EmptyStringIsItsZeroLength) {
  Feed(Hex("00 00 00 00 2A"));
  EXPECT_EQ(Reader->ReadString(), "");
  EXPECT_EQ(Input->Available(), 1);

  Writer->WriteString("");
  EXPECT_EQ(Drain(*Output), Hex("00 00 00 00"));
}

TEST_F(BinStreamTest, EmptyStringThroughBufferedStream) {
  auto buffer = MakeRef<TStreamBuffer>(4096);
  auto writer = MakeRef<TBinStreamWriter>(
      MakeRef<TBufferedOutputStream>(MakeRef<TStreamBufferOutputStream>(buffer), 4096));
  writer->WriteString("");
  EXPECT_EQ(buffer->Available(), 0);
  writer->Flush();
  EXPECT_EQ(Drain(*buffer), Hex("00 00 00 00"));
}

TEST_F(BinStreamTest, LongestStringRoundTrips) {
  std::string text(kMaxWireStringLength, 'k');
  Writer->WriteString(text);
  std::string bytes = Drain(*Output);
  EXPECT_EQ(bytes.size(), 4u + kMaxWireStringLength);
  Feed(bytes);
  EXPECT_EQ(Reader->ReadString(), text);
}

TEST_F(BinStreamTest, TooLongTextIsNotWritten) {
  std::string text(kMaxWireStringLength + 1, 'k');
  EXPECT_EQ(RaisedClass([&] { Writer->WriteString(text); }), "EWriterError");
  EXPECT_EQ(RaisedClass([&] { Writer->WriteIdent(text); }), "EWriterError");
  EXPECT_EQ(Output->Available(), 0);
}

// A stored length outside 0..kMaxWireStringLength is malformed; the bytes
// behind it are left alone.
class BinBadLengthTest : public BinStreamTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(BinBadLengthTest, RaisesSyntaxError) {
  for (bool ident : {false, true}) {
    unsigned char length[4];
    EncodeInt32(length, GetParam());
    Feed(std::string(reinterpret_cast<const char*>(length), 4) + "abc");
    EXPECT_EQ(RaisedClass([&] { ident ? Reader->ReadIdent() : Reader->ReadString(); }),
              "EReaderSyntaxError");
    EXPECT_EQ(Input->Available(), 3);
    Drain(*Input);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BinBadLengthTest,
                         ::testing::Values(-1, std::numeric_limits<int32_t>::min(),
                                           kMaxWireStringLength + 1,
                                           std::numeric_limits<int32_t>::max()));

// Every proper prefix of an encoded value gives end of input and is consumed.
struct TPrefixCase {
  const char* Name;
  const char* Bytes;
  std::function<void(TReader&)> Read;
};

void PrintTo(const TPrefixCase& c, std::ostream* os) { *os << c.Name; }

class BinPrefixTest : public BinStreamTest, public ::testing::WithParamInterface<TPrefixCase> {};

TEST_P(BinPrefixTest, EveryProperPrefixRaisesEof) {
  const std::string bytes = Hex(GetParam().Bytes);
  for (size_t size = 0; size < bytes.size(); ++size) {
    SCOPED_TRACE("prefix of " + std::to_string(size) + " bytes");
    Feed(bytes.substr(0, size));
    EXPECT_EQ(RaisedClass([&] { GetParam().Read(*Reader); }), "EReaderEof");
    EXPECT_EQ(Input->Available(), 0);
  }
  Feed(bytes);
  EXPECT_EQ(RaisedClass([&] { GetParam().Read(*Reader); }), "");
  EXPECT_EQ(Input->Available(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BinPrefixTest,
    ::testing::Values(
        TPrefixCase{"Integer", "2A 00 00 00", [](TReader& r) { r.ReadInteger(); }},
        TPrefixCase{"String", "03 00 00 00 61 62 63", [](TReader& r) { r.ReadString(); }},
        TPrefixCase{"EmptyString", "00 00 00 00", [](TReader& r) { r.ReadString(); }},
        TPrefixCase{"Ident", "03 00 00 00 4B 4F 52", [](TReader& r) { r.ReadIdent(); }},
        TPrefixCase{"Int64", "01 02 03 04 05 06 07 08", [](TReader& r) { r.ReadInt64(); }},
        TPrefixCase{"Bytes", "01 02 03 04 05",
                    [](TReader& r) {
                      char block[5];
                      r.ReadBytes(block, 5);
                    }}),
    [](const auto& info) { return std::string(info.param.Name); });

// A source and a sink that raise the exception they are given.
class TFailingSource final : public TInputStream {
 public:
  explicit TFailingSource(std::function<void()> raise) : Raise(std::move(raise)) {}
  int32_t Read(void*, int32_t) override {
    Raise();
    return 0;
  }

 private:
  std::function<void()> Raise;
};

class TFailingSink final : public TOutputStream {
 public:
  explicit TFailingSink(std::function<void()> raise) : Raise(std::move(raise)) {}
  void Write(const void*, int32_t) override { Raise(); }
  void Flush() override { Raise(); }

 private:
  std::function<void()> Raise;
};

struct TMappingCase {
  const char* Name;
  std::function<void()> Raise;
  const char* ReaderRaises;
  const char* WriterRaises;
};

void PrintTo(const TMappingCase& c, std::ostream* os) { *os << c.Name; }

class BinMappingTest : public BinStreamTest, public ::testing::WithParamInterface<TMappingCase> {};

TEST_P(BinMappingTest, StreamFailuresBecomeReaderAndWriterFailures) {
  const TMappingCase& c = GetParam();
  auto reader = MakeRef<TBinStreamReader>(MakeRef<TFailingSource>(c.Raise));
  EXPECT_EQ(RaisedClass([&] { reader->ReadInteger(); }), c.ReaderRaises);
  EXPECT_EQ(RaisedClass([&] { reader->ReadString(); }), c.ReaderRaises);
  EXPECT_EQ(RaisedClass([&] { reader->ReadInt64(); }), c.ReaderRaises);

  auto writer = MakeRef<TBinStreamWriter>(MakeRef<TFailingSink>(c.Raise));
  EXPECT_EQ(RaisedClass([&] { writer->WriteInteger(1); }), c.WriterRaises);
  EXPECT_EQ(RaisedClass([&] { writer->WriteString("abc"); }), c.WriterRaises);
  EXPECT_EQ(RaisedClass([&] { writer->WriteBytes("x", 1); }), c.WriterRaises);
  EXPECT_EQ(RaisedClass([&] { writer->Flush(); }), c.WriterRaises);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BinMappingTest,
    ::testing::Values(
        TMappingCase{"InputEof", [] { throw EInputStreamEof(); }, "EReaderEof", "EInputStreamEof"},
        TMappingCase{"InputError", [] { throw EInputStreamError(); }, "EReaderInputError",
                     "EInputStreamError"},
        TMappingCase{"OutputError", [] { throw EOutputStreamError(); }, "EOutputStreamError",
                     "EWriterOutputError"},
        // Anything else passes unchanged.
        TMappingCase{"SocketError", [] { throw ESocketError(); }, "ESocketError", "ESocketError"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(BinStreamTest, WriteBytesOfZeroWritesNothing) {
  Writer->WriteBytes(nullptr, 0);
  EXPECT_EQ(Output->Available(), 0);
}

}  // namespace
}  // namespace kor
