// korserver as a process: started on a database directory, serving over
// 127.0.0.1, stopped by a signal; and each way it refuses to start.

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "engine/base/ref.h"

#include "engine/server/socket.h"

#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wire_client.h"

namespace kor {
namespace {

// A database with relative file names, as an installed one has: the program
// changes to its directory first.
void WriteDatabase(const test::TTempDir& dir, int32_t port) {
  test::WriteWholeFile(dir.File("COUNTERS.ZSR"), "TIME $1\r\n");
  test::WriteWholeFile(dir.File("STRUCT.ZSR"),
                       "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
                       "TABLE ITEMS FILENAME 'ITEMS.TBL'\n"
                       "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 20 END\n"
                       "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
                       "ENDTABLE\nEND\n");
  test::WriteWholeFile(dir.File("CONFIG.ZSR"),
                       "TIMEAUTOINCID TIME\nINDEXFILENAME 'INDEX.TMP'\nINDEXFILECLUSTERSHL 12\n"
                       "INDEXFILEMINBUFFER 16\nSTRUCTFILENAME 'STRUCT.ZSR'\nINETPORT " +
                           std::to_string(port) +
                           "\nAUTOINCFILENAME 'COUNTERS.ZSR'\nINPUTTIMEOUT 0\n");
}

// korserver started with `args`.
class TServerProcess : public test::TServerProcess {
 public:
  explicit TServerProcess(const std::vector<std::string>& args)
      : test::TServerProcess(KORSERVER_PATH, args) {}
};

TEST(KorserverTest, ServesUntilASignalThenShutsDownInOrder) {
  struct TCase {
    std::vector<std::string> Options;
    std::string Address;
    int Signal;
    const char* SignalName;
  };
  const TCase cases[] = {
      {{"--bind=127.0.0.1"}, "127.0.0.1", SIGTERM, "SIGTERM"},
      {{}, "0.0.0.0", SIGINT, "SIGINT"},  // every interface by default
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.SignalName);
    test::TTempDir dir;
    int32_t port = test::FreeConfigurablePort();
    ASSERT_GT(port, 0);
    WriteDatabase(dir, port);
    std::vector<std::string> args = c.Options;
    args.push_back(dir.Path());
    TServerProcess server(args);
    EXPECT_EQ(server.ReadLine(),
              "korserver: listening on " + c.Address + ":" + std::to_string(port));

    {
      // One client in a session with a live transaction, one idle.
      test::TWireClient busy(port);
      test::TWireClient idle(port);
      ASSERT_TRUE(busy.ReadGreeting());
      ASSERT_TRUE(idle.ReadGreeting());
      busy.Request(3);  // begin transaction
      EXPECT_EQ(busy.In().ReadInteger(), 0);
      EXPECT_EQ(busy.In().ReadInteger(), 1);

      server.Signal(c.Signal);
      EXPECT_TRUE(busy.ServerClosed());
      EXPECT_TRUE(idle.ServerClosed());
    }
    EXPECT_EQ(server.ReadLine(), "korserver: stopped");
    EXPECT_EQ(server.Wait(), 0);
    std::string log = test::ReadWholeFile(dir.File("KORLIB.OUT"));
    for (std::string line : {"KORSERVER UP listening on " + c.Address + ":" + std::to_string(port),
                             std::string("KORSERVER stopping on ") + c.SignalName,
                             std::string("KORSERVER DOWN success")}) {
      EXPECT_NE(log.find(line + "\r\n"), std::string::npos) << line << "\n" << log;
    }
    // The index file is temporary: gone with the engine.
    EXPECT_FALSE(access(dir.File("INDEX.TMP").c_str(), F_OK) == 0);
  }
}

TEST(KorserverTest, RefusesToStartAndSaysWhy) {
  test::TTempDir dir;
  int32_t port = test::FreeConfigurablePort();
  ASSERT_GT(port, 0);
  test::TTempDir empty;
  WriteDatabase(dir, port);
  auto taken = MakeRef<TSocketServer>(port, "");
  struct TCase {
    std::vector<std::string> Args;
    int ExitCode;
    std::string Output;  // the start of the program's message
    std::string LogDir;  // the directory whose log tells why; empty: no log
    std::string Reason;  // the exception named in the output and the log
  };
  const TCase cases[] = {
      {{}, 2, "usage: korserver", "", ""},
      {{"--bind=", dir.Path()}, 2, "usage: korserver", "", ""},
      {{"--port=1", dir.Path()}, 2, "usage: korserver", "", ""},
      {{dir.Path(), dir.Path()}, 2, "usage: korserver", "", ""},
      {{dir.File("missing")}, 2, "korserver: cannot enter", "", ""},
      {{empty.Path()}, 1, "korserver: cannot start: ", empty.Path(), "EFileOpenError"},
      {{dir.Path()}, 1, "korserver: cannot start: ", dir.Path(), "ESocketError"},  // port taken
      {{"--bind=10.1.2.3.4", dir.Path()},
       1,
       "korserver: cannot start: ",
       dir.Path(),
       "ESocketError"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Output + c.Reason + " " + (c.Args.empty() ? "" : c.Args[0]));
    TServerProcess server(c.Args);
    std::string output = server.ReadLine();
    EXPECT_EQ(output.substr(0, c.Output.size() + c.Reason.size()), c.Output + c.Reason) << output;
    EXPECT_EQ(server.Wait(), c.ExitCode);
    if (!c.LogDir.empty()) {
      std::string log = test::ReadWholeFile(c.LogDir + "/KORLIB.OUT");
      EXPECT_NE(log.find("KORSERVER UP failed: " + c.Reason), std::string::npos) << log;
    }
  }
  taken.ReleaseLast();
}

}  // namespace
}  // namespace kor
