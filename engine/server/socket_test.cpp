#include "engine/server/socket.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/socket.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/ref.h"

#include "engine/streams/bin_stream.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

using namespace std::chrono_literals;

constexpr const char* kLoopback = "127.0.0.1";
// How long a test waits for a wake-up before it calls it lost. Generous: it
// only keeps a broken build from hanging, it measures nothing.
constexpr auto kWakeBound = 20s;

std::string FatalLogOf(const std::function<void()>& body) {
  test::TTempDir dir;
  std::string log = dir.File("KORLIB.OUT");
  EXPECT_EXIT(
      {
        SetLogFile(log);
        body();
      },
      ::testing::ExitedWithCode(kFatalExitCode), "");
  return test::ReadWholeFile(log);
}

// A listening server on the loopback address, an accepted connection
// (Local) and the other end (Peer), both as TSocket.
struct TConnection {
  Ref<TSocketServer> Server = MakeRef<TSocketServer>(0, kLoopback);
  Ref<TSocket> Peer = Connect(Server->Port());
  Ref<TSocket> Local = Server->Accept();

  static Ref<TSocket> Connect(int32_t port) {
    TOsSocket handle = OsConnectSocket(kLoopback, port);
    EXPECT_NE(handle, kNoOsSocket) << strerror(errno);
    return MakeRef<TSocket>(handle);
  }
};

void WriteAll(TSocket& socket, const std::string& bytes) {
  socket.GetOutputStream()->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

int32_t OpenDescriptorCount() {
  int32_t count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

TEST(SocketTest, PeerThatSendsThreeBytesAndClosesGivesThemThenEof) {
  TConnection c;
  WriteAll(*c.Peer, "abc");
  c.Peer.ReleaseLast();
  auto input = c.Local->GetInputStream();
  char buffer[10];
  ASSERT_EQ(input->Read(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_THROW(input->Read(buffer, sizeof buffer), EInputStreamEof);
}

TEST(SocketTest, TimeoutAndASilentPeerFailTheRead) {
  TConnection c;
  c.Local->SetTimeout(1);
  EXPECT_EQ(c.Local->Timeout(), 1);
  auto input = c.Local->GetInputStream();
  char buffer[10];
  auto started = std::chrono::steady_clock::now();
  try {
    input->Read(buffer, sizeof buffer);
    ADD_FAILURE() << "the read returned";
  } catch (const EInputStreamEof&) {
    ADD_FAILURE() << "a time-out is not the end of the data";
  } catch (const EInputStreamError& e) {
    EXPECT_EQ(e.LastError(), static_cast<uint32_t>(ETIMEDOUT));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, kWakeBound);
  // The connection is still usable after a time-out.
  WriteAll(*c.Peer, "x");
  EXPECT_EQ(input->Read(buffer, sizeof buffer), 1);
}

TEST(SocketTest, TimeoutDoesNotDelayBytesAlreadyThere) {
  TConnection c;
  c.Local->SetTimeout(30);
  WriteAll(*c.Peer, "hello");
  char buffer[5];
  ReadFully(*c.Local->GetInputStream(), buffer, 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST(SocketTest, NoTimeoutBlocksUntilDataArrives) {
  for (int32_t timeout : {0, -1}) {
    SCOPED_TRACE(timeout);
    TConnection c;
    c.Local->SetTimeout(timeout);
    auto input = c.Local->GetInputStream();
    auto reader = std::async(std::launch::async, [&] {
      char buffer[4];
      ReadFully(*input, buffer, 4);
      return std::string(buffer, 4);
    });
    // A time-out of 0 or -1 taken as a time limit would fail the read at once.
    EXPECT_EQ(reader.wait_for(300ms), std::future_status::timeout);
    WriteAll(*c.Peer, "data");
    ASSERT_EQ(reader.wait_for(kWakeBound), std::future_status::ready);
    EXPECT_EQ(reader.get(), "data");
  }
}

TEST(SocketTest, BytesTravelBothWaysThroughTheBinaryReaderAndWriter) {
  TConnection c;
  auto writer = MakeRef<TBinStreamWriter>(c.Local->GetOutputStream());
  writer->WriteIdent("KOR");
  writer->WriteString("V 0.3");
  writer->Flush();
  auto reader = MakeRef<TBinStreamReader>(c.Peer->GetInputStream());
  EXPECT_EQ(reader->ReadIdent(), "KOR");
  EXPECT_EQ(reader->ReadString(), "V 0.3");

  auto back = MakeRef<TBinStreamWriter>(c.Peer->GetOutputStream());
  back->WriteInteger(-5);
  auto local = MakeRef<TBinStreamReader>(c.Local->GetInputStream());
  EXPECT_EQ(local->ReadInteger(), -5);
}

TEST(SocketTest, CloseTwiceIsHarmlessAndLaterReadsAndWritesFail) {
  TConnection c;
  EXPECT_FALSE(c.Local->IsClosed());
  c.Local->Close();
  c.Local->Close();
  EXPECT_TRUE(c.Local->IsClosed());
  char buffer[4] = {};
  try {
    c.Local->GetInputStream()->Read(buffer, 4);
    ADD_FAILURE() << "read on a closed socket";
  } catch (const EInputStreamEof&) {
    ADD_FAILURE() << "closing on this side is not the peer's end of data";
  } catch (const EInputStreamError&) {
  }
  EXPECT_THROW(c.Local->GetOutputStream()->Write(buffer, 4), EOutputStreamError);
  // The peer sees the orderly end.
  EXPECT_THROW(c.Peer->GetInputStream()->Read(buffer, 4), EInputStreamEof);
}

TEST(SocketTest, CloseFromAnotherThreadFailsAPendingRead) {
  // 0: blocked in the receive; 30: blocked in the wait for readability.
  for (int32_t timeout : {0, 30}) {
    SCOPED_TRACE(timeout);
    TConnection c;
    c.Local->SetTimeout(timeout);
    auto input = c.Local->GetInputStream();
    auto reader = std::async(std::launch::async, [&] {
      char buffer[4];
      try {
        input->Read(buffer, sizeof buffer);
      } catch (const EInputStreamEof&) {
        return std::string("eof");
      } catch (const EInputStreamError&) {
        return std::string("error");
      }
      return std::string("returned");
    });
    std::this_thread::sleep_for(100ms);  // most likely blocked by now; either way it must fail
    c.Local->Close();
    if (reader.wait_for(kWakeBound) != std::future_status::ready) {
      c.Peer.ReleaseLast();  // unblocks the reader so that the test can end
      FAIL() << "Close did not wake the read";
    }
    EXPECT_EQ(reader.get(), "error");
  }
}

TEST(SocketTest, CloseFromAnotherThreadFailsAPendingWrite) {
  TConnection c;
  auto output = c.Local->GetOutputStream();
  // Far more than the two socket buffers hold: the silent peer reads nothing.
  std::vector<char> block(64 << 20, 'w');
  auto writer = std::async(std::launch::async, [&] {
    try {
      output->Write(block.data(), static_cast<int32_t>(block.size()));
    } catch (const EOutputStreamError&) {
      return true;
    }
    return false;
  });
  EXPECT_EQ(writer.wait_for(200ms), std::future_status::timeout);
  c.Local->Close();
  if (writer.wait_for(kWakeBound) != std::future_status::ready) {
    c.Peer.ReleaseLast();
    FAIL() << "Close did not wake the write";
  }
  EXPECT_TRUE(writer.get());
}

TEST(SocketTest, WritingToAPeerThatIsGoneFailsWithoutSigpipe) {
  TConnection c;
  c.Peer.ReleaseLast();
  auto output = c.Local->GetOutputStream();
  char block[1024] = {};
  // The first writes may still be accepted locally; the peer's reset makes a
  // later one fail. A SIGPIPE would end this test process.
  bool failed = false;
  uint32_t error = 0;
  for (int i = 0; i < 2000 && !failed; ++i) {
    try {
      output->Write(block, sizeof block);
    } catch (const EOutputStreamError& e) {
      failed = true;
      error = e.LastError();
    }
    if (!failed) std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(failed);
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
  // And again: a failed connection keeps failing, still without a signal.
  EXPECT_THROW(output->Write(block, sizeof block), EOutputStreamError);
}

TEST(SocketTest, LargeWriteToASlowReaderArrivesWhole) {
  TConnection c;
  constexpr int32_t kSize = 8 << 20;
  std::string sent(kSize, '\0');
  for (int32_t i = 0; i < kSize; ++i) sent[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
  auto writer = std::async(std::launch::async, [&] { WriteAll(*c.Local, sent); });
  // The reader starts late and takes small bites, so the sender meets full
  // buffers again and again.
  std::this_thread::sleep_for(100ms);
  std::string received;
  received.reserve(kSize);
  auto input = c.Peer->GetInputStream();
  char buffer[1000];
  while (received.size() < sent.size()) {
    int32_t n = input->Read(buffer, sizeof buffer);
    received.append(buffer, static_cast<size_t>(n));
  }
  writer.get();
  EXPECT_TRUE(received == sent);
}

TEST(SocketTest, AcceptAfterCloseFails) {
  auto server = MakeRef<TSocketServer>(0, kLoopback);
  server->Close();
  server->Close();
  EXPECT_THROW(server->Accept(), ESocketError);
  EXPECT_THROW(server->Accept(), ESocketError);
  server.ReleaseLast();
}

TEST(SocketTest, CloseFailsAPendingAcceptAndALaterCloseProceeds) {
  auto server = MakeRef<TSocketServer>(0, kLoopback);
  int32_t port = server->Port();
  auto accepter = std::async(std::launch::async, [&] {
    try {
      server->Accept();
    } catch (const ESocketError&) {
      return true;
    }
    return false;
  });
  std::this_thread::sleep_for(100ms);  // most likely waiting by now; either way it must fail
  server->Close();
  if (accepter.wait_for(kWakeBound) != std::future_status::ready) {
    TConnection::Connect(port);  // hands the accept a connection so that the test can end
    accepter.wait();
    FAIL() << "Close did not wake the accept";
  }
  EXPECT_TRUE(accepter.get());
  // The interrupted Accept has returned: a second Close and a new server
  // proceed.
  server->Close();
  EXPECT_THROW(server->Accept(), ESocketError);
  server.ReleaseLast();
  auto next = MakeRef<TSocketServer>(0, kLoopback);
  next.ReleaseLast();
}

TEST(SocketTest, ServerAcceptsConnectionsOneAfterAnother) {
  auto server = MakeRef<TSocketServer>(0, kLoopback);
  for (int i = 0; i < 20; ++i) {
    auto peer = TConnection::Connect(server->Port());
    auto local = server->Accept();
    WriteAll(*peer, std::string(1, static_cast<char>('a' + i)));
    char byte = 0;
    ReadFully(*local->GetInputStream(), &byte, 1);
    EXPECT_EQ(byte, 'a' + i);
  }
  server.ReleaseLast();
}

TEST(SocketTest, DescriptorsAreGivenBackWhenTheObjectsGo) {
  int32_t before = OpenDescriptorCount();
  ASSERT_GT(before, 0);
  {
    TConnection c;
    c.Local->Close();
    c.Server->Close();
    EXPECT_EQ(OpenDescriptorCount(), before + 2);  // the two ends of the connection
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(SocketTest, BindsTheLoopbackAddressOnly) {
  auto server = MakeRef<TSocketServer>(0, kLoopback);
  EXPECT_EQ(server->Address(), "127.0.0.1");
  EXPECT_GT(server->Port(), 0);
  server.ReleaseLast();
}

TEST(SocketTest, PortInUseRaisesSocketError) {
  auto server = MakeRef<TSocketServer>(0, kLoopback);
  int32_t port = server->Port();
  // Only the low 16 bits of the port count: port + 65536 is the same port.
  for (int32_t taken : {port, port + 65536}) {
    SCOPED_TRACE(taken);
    try {
      MakeRef<TSocketServer>(taken, kLoopback);
      ADD_FAILURE() << "bound a port in use";
    } catch (const ESocketError& e) {
      EXPECT_EQ(e.LastError(), static_cast<uint32_t>(EADDRINUSE));
    }
  }
  server.ReleaseLast();
}

TEST(SocketTest, AddressThatIsNotDottedIpv4RaisesSocketError) {
  for (const char* address : {"localhost", "256.1.1.1", "127.0.0.1 "}) {
    SCOPED_TRACE(address);
    try {
      MakeRef<TSocketServer>(0, address);
      ADD_FAILURE() << "bound " << address;
    } catch (const ESocketError& e) {
      EXPECT_EQ(e.LastError(), static_cast<uint32_t>(EINVAL));
    }
  }
}

TEST(SocketTest, SemaphoreCountsToOne) {
  TOsSemaphore semaphore;
  EXPECT_FALSE(semaphore.Release());
  semaphore.Acquire();
  EXPECT_TRUE(semaphore.Release());
  EXPECT_FALSE(semaphore.Release());
}

TEST(SocketDeathTest, ReadOfZeroBytesIsFatal) {
  std::string log = FatalLogOf([] {
    TConnection c;
    char byte;
    c.Local->GetInputStream()->Read(&byte, 0);
  });
  EXPECT_NE(log.find("  ErrB\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("socket.cpp"), std::string::npos) << log;
}

TEST(SocketDeathTest, WriteOfZeroBytesIsFatal) {
  std::string log = FatalLogOf([] {
    TConnection c;
    char byte = 0;
    c.Local->GetOutputStream()->Write(&byte, 0);
  });
  EXPECT_NE(log.find("  ErrB\r\n"), std::string::npos) << log;
}

TEST(SocketDeathTest, DestroyingASocketWhoseStreamIsStillHeldIsFatal) {
  std::string log = FatalLogOf([] {
    TConnection c;
    auto input = c.Local->GetInputStream();
    c.Local.Reset();
  });
  EXPECT_NE(log.find("  ErrB\r\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace kor
