#include "engine/base/fatal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/object.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

class TLeakProbe final : public TRCObject {};

// Runs `body` in a child process with the log in a fresh directory, expects
// the fatal exit code, and returns the log the child wrote.
std::string FatalLogOf(const std::function<void()>& body) {
  test::TTempDir dir;
  std::string log = dir.File("KORLIB.OUT");
  EXPECT_EXIT(
      {
        SetLogFile(log);
        body();
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Err");
  return test::ReadWholeFile(log);
}

struct TAssertionCase {
  const char* Name;
  std::function<void()> Body;
  const char* Message;
};

TEST(FatalTest, EachAssertionHelperReportsItsMessageAndEndsTheProcess) {
  const TAssertionCase cases[] = {
      {"FailIf", [] { FailIf(true); }, "  ErrB\r\n"},
      {"FailUnless", [] { FailUnless(false); }, "  ErrF\r\n"},
      {"CheckHandle", [] { CheckHandle(0); }, "  ErrH: 0\r\n"},
      {"CheckSocket", [] { CheckSocket(-1); }, "  ErrS: -1\r\n"},
      {"CheckZero", [] { CheckZero(5); }, "  ErrZ: 5\r\n"},
  };
  for (const TAssertionCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string log = FatalLogOf(c.Body);
    EXPECT_NE(log.find(c.Message), std::string::npos) << log;
    EXPECT_NE(log.find("    Where: "), std::string::npos);
    EXPECT_NE(log.find("fatal_test.cpp"), std::string::npos);
    EXPECT_NE(log.find("    GetLastError: "), std::string::npos);
    EXPECT_NE(log.find("    CALL STACK:"), std::string::npos);
    EXPECT_NE(log.find("THAT'S ALL FOLKS!\r\n"), std::string::npos);
  }
}

TEST(FatalTest, PassingChecksReturnTheirValue) {
  EXPECT_EQ(CheckSocket(5), 5);
  EXPECT_EQ(CheckHandle(7), 7);
  CheckZero(0);
  FailIf(false);
  FailUnless(true);
}

TEST(FatalTest, ReportShowsErrorTextCallStackNamesAndLostObjects) {
  std::string log = FatalLogOf([] {
    new TLeakProbe;  // left alive on purpose: the report must list it
    new TLeakProbe;
    errno = 2;
    CheckNoLiveObjects();
  });
  EXPECT_NE(log.find("    GetLastError: 2\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("    Descr: No such file or directory\r\n"), std::string::npos);
  // Names come from the symbol table, also for functions that are not exported.
  EXPECT_NE(log.find("kor::CheckNoLiveObjects()"), std::string::npos);
  EXPECT_NE(log.find("    LOST OBJECTS:\r\n"), std::string::npos);
  EXPECT_NE(log.find("        TLeakProbe * 2\r\n"), std::string::npos);
  // The sections come in their order and the report closes the log.
  size_t stack = log.find("    CALL STACK:");
  size_t lost = log.find("    LOST OBJECTS:");
  EXPECT_LT(stack, lost);
  EXPECT_EQ(log.substr(log.size() - 19), "THAT'S ALL FOLKS!\r\n");
}

TEST(FatalTest, CallStackHasAtMost32Entries) {
  std::function<void(int)> recurse = [&](int depth) {
    if (depth == 0) FailIf(true);
    recurse(depth - 1);
  };
  std::string log = FatalLogOf([&] { recurse(60); });
  size_t begin = log.find("    CALL STACK:");
  size_t end = log.find("THAT'S ALL FOLKS!");
  std::string stack = log.substr(begin, end - begin);
  int entries = 0;
  for (size_t at = stack.find(" _ "); at != std::string::npos; at = stack.find(" _ ", at + 1)) {
    ++entries;
  }
  EXPECT_EQ(entries, 32) << stack;
}

TEST(FatalTest, UnhandledExceptionIsReportedWithItsMessage) {
  std::string log = FatalLogOf([] {
    InstallUnhandledExceptionHandler();
    std::thread([] {
      errno = 13;
      throw EReaderSyntaxError();
    }).join();
  });
  EXPECT_NE(log.find("Info: EReaderSyntaxError  LastError: 13"), std::string::npos) << log;
  EXPECT_NE(log.find("    GetLastError: 13\r\n"), std::string::npos);

  log = FatalLogOf([] {
    InstallUnhandledExceptionHandler();
    std::thread([] { throw std::runtime_error("boom"); }).join();
  });
  EXPECT_NE(log.find("  Message: boom"), std::string::npos) << log;
}

}  // namespace
}  // namespace kor
