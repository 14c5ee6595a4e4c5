// The client's reply decoder against a peer that sends crafted bytes over a
// real socket on 127.0.0.1: a reply that the protocol does not promise, or
// one cut short, is one clear error, never a crash or a wild allocation.

#include "tools/kor/kor_client.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <thread>

#include "engine/platform/socket.h"

#include "tests/support/wire.h"
#include "tools/kor/kor_error.h"
#include "tools/kor/socket_transport.h"

namespace kor::tool {
namespace {

using test::Int;
using test::Ints;
using test::Str;

// Accepts one connection, sends `script`, then closes its sending side
// and drains what the client sends until the client closes.
class TScriptedPeer {
 public:
  explicit TScriptedPeer(std::string script) : Script(std::move(script)) {
    Listener = OsCreateStreamSocket();
    EXPECT_TRUE(OsBindSocket(Listener, "127.0.0.1", 0));
    EXPECT_TRUE(OsListenSocket(Listener, 1));
    Port = OsSocketPort(Listener);
    Thread = std::thread([this] {
      const TOsSocket connection = OsAcceptSocket(Listener);
      if (connection == kNoOsSocket) return;
      OsSendAll(connection, Script.data(), static_cast<int32_t>(Script.size()));
      shutdown(connection, SHUT_WR);  // the client may still send
      char drain[256];
      while (OsReceive(connection, drain, sizeof drain) > 0) {
      }
      OsCloseSocket(connection);
    });
  }
  ~TScriptedPeer() {
    Thread.join();
    OsCloseSocket(Listener);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port); }

 private:
  std::string Script;
  TOsSocket Listener = kNoOsSocket;
  int32_t Port = 0;
  std::thread Thread;
};

const std::string kGreeting = Str("KOR") + Str("V 0.3");

TEST(KorClientTest, RefusesRepliesTheProtocolDoesNotPromise) {
  using TAction = std::function<void(TKorClient&)>;
  const TAction listTables = [](TKorClient& client) { client.ListTables(); };
  const TAction describe = [](TKorClient& client) { client.DescribeTable(1); };
  struct TCase {
    const char* Name;
    std::string Script;
    TAction Action;
    std::string Error;  // the end of the message
  };
  const TCase cases[] = {
      {"another greeting", Str("KOR") + Str("V 0.4"), nullptr,
       "unexpected reply: greeting other than KOR V 0.3"},
      {"a greeting cut short", Str("KOR") + Int(5) + "V 0", nullptr,
       "the server ended the session"},
      {"no reply", kGreeting, listTables, "the server ended the session"},
      {"not OK", kGreeting + Int(5), listTables, "unexpected reply: reply 5 to command 20"},
      {"a negative count", kGreeting + Ints({0, -1}), listTables,
       "unexpected reply: negative count"},
      {"a huge name", kGreeting + Ints({0, 1, 1 << 30}), listTables,
       "unexpected reply: string of length 1073741824"},
      {"a list cut short", kGreeting + Ints({0, 2}) + Str("A") + Int(1) + Str("B"), listTables,
       "the server ended the session"},
      {"no fields", kGreeting + Ints({0, 0}), describe, "unexpected reply: a table of 0 fields"},
      {"an unknown field type", kGreeting + Ints({0, 1}) + Str("F") + Int(7), describe,
       "unexpected reply: field type 7"},
      {"a field of 0 bytes", kGreeting + Ints({0, 1}) + Str("F") + Ints({2, 0}), describe,
       "unexpected reply: field size 0"},
      {"an unknown comparator class", kGreeting + Ints({0, 9}),
       [](TKorClient& client) { client.DescribeComparator(1); },
       "unexpected reply: comparator class 9"},
      {"a handle of 0", kGreeting + Ints({0, 0}),
       [](TKorClient& client) {
         client.OpenTable(1, 1, 1, {{1, 1}}, 9);
       },
       "unexpected reply: view handle 0"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedPeer peer(c.Script);
    TSocketTransport transport(peer.Address());
    try {
      TKorClient client(transport);
      ASSERT_TRUE(c.Action != nullptr) << "the greeting was accepted";
      c.Action(client);
      ADD_FAILURE() << "the reply was accepted";
    } catch (const TKorError& e) {
      const std::string message = e.what();
      EXPECT_TRUE(message.starts_with("korserver " + peer.Address() + ": ")) << message;
      EXPECT_TRUE(message.ends_with(c.Error)) << message;
    }
  }
}

TEST(KorClientTest, DecodesRecordsOfAPageFromOneBuffer) {
  // A view of 9-byte records: 0 record 0 record, then the final status.
  const std::string first(9, 'a');
  const std::string second(9, 'b');
  TScriptedPeer peer(kGreeting + Ints({0, 1}) + Int(0) + first + Int(0) + second + Int(4));
  TSocketTransport transport(peer.Address());
  TKorClient client(transport);
  const int32_t view = client.OpenTable(1, 1, 1, {{1, 1}}, 9);
  std::string records;
  EXPECT_EQ(client.FetchForward(view, 5,
                                [&](const uint8_t* record) {
                                  records.append(reinterpret_cast<const char*>(record), 9);
                                }),
            kAfterLast);
  EXPECT_EQ(records, first + second);
}

}  // namespace
}  // namespace kor::tool
