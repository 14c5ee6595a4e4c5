#include "korjni/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"

#include "engine/streams/stream_buffer.h"

#include "tests/support/temp_dir.h"

#ifndef KOR_FIXTURES_DIR
#error "KOR_FIXTURES_DIR must name tests/fixtures"
#endif

namespace kor {
namespace {

const std::string kGreeting("\x03\x00\x00\x00KOR\x05\x00\x00\x00V 0.3", 16);

// Each test runs in a fresh directory holding the minimal configuration,
// with the log there, and ends with no session open.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"CONFIG.ZSR", "STRUCT.ZSR", "COUNTERS.ZSR"}) {
      std::filesystem::copy_file(std::string(KOR_FIXTURES_DIR) + "/minimal/" + name,
                                 Dir.File(name));
    }
    SetLogFile(Dir.File("KORLIB.OUT"));
  }
  void TearDown() override {
    CloseSession();
    EXPECT_EQ(TZObject::LiveObjectCount(), 0);
  }

  TOpenResult Open() {
    std::string failure;
    return OpenSession(failure);
  }
  std::string Read(int32_t count) {
    std::string bytes(static_cast<size_t>(count), '\0');
    int32_t n = ReadSession(bytes.data(), count);
    return n < 0 ? "<none>" : bytes.substr(0, static_cast<size_t>(n));
  }
  bool Write(const std::string& bytes) {
    return WriteSession(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  std::string Log() { return test::ReadWholeFile(Dir.File("KORLIB.OUT")); }

  test::TTempDir Dir;
  test::TCurrentDirScope Inside{Dir.Path()};
};

TEST_F(SessionTest, GreetingComesWholeOrInParts) {
  ASSERT_EQ(Open(), TOpenResult::Opened);
  EXPECT_EQ(Read(64), kGreeting);
  CloseSession();
  ASSERT_EQ(Open(), TOpenResult::Opened);
  EXPECT_EQ(Read(4), kGreeting.substr(0, 4));
  EXPECT_EQ(Read(64), kGreeting.substr(4));
}

TEST_F(SessionTest, OpenAndCloseAnswerWhetherTheyDidAnythingAndLog) {
  EXPECT_FALSE(CloseSession());
  EXPECT_EQ(Open(), TOpenResult::Opened);
  EXPECT_EQ(Open(), TOpenResult::AlreadyOpen);
  EXPECT_EQ(Read(64), kGreeting);  // the second open left the session as it was
  EXPECT_TRUE(CloseSession());
  EXPECT_FALSE(CloseSession());
  EXPECT_EQ(Open(), TOpenResult::Opened);
  std::string log = Log();
  size_t up = log.find("  KORLIB UP success\r\n");
  size_t down = log.find("  KORLIB DOWN success\r\n");
  ASSERT_NE(up, std::string::npos) << log;
  ASSERT_NE(down, std::string::npos);
  EXPECT_LT(up, down);
  EXPECT_NE(log.find("  KORLIB UP success\r\n", down), std::string::npos);
}

TEST_F(SessionTest, ReadingWithNothingQueuedEndsTheSession) {
  ASSERT_EQ(Open(), TOpenResult::Opened);
  Read(64);
  EXPECT_EQ(Read(64), "<none>");
  EXPECT_FALSE(Write(std::string("\x1a\x00\x00\x00", 4)));
  EXPECT_TRUE(CloseSession());
}

// The client learns only that its session is over; the log says why.
TEST_F(SessionTest, ASessionEndedByABadRequestSaysWhyInTheLog) {
  ASSERT_EQ(Open(), TOpenResult::Opened);
  Read(64);
  ASSERT_TRUE(Write(std::string("\x20\x00\x00\x00", 4)));  // command 32
  EXPECT_EQ(Read(64), "<none>");
  EXPECT_NE(Log().find("  KORLIB session ended: EReaderSyntaxError"), std::string::npos) << Log();
  EXPECT_TRUE(CloseSession());
  EXPECT_EQ(Log().find("KORLIB session ended", Log().find("KORLIB session ended") + 1),
            std::string::npos)
      << "logged once";
}

TEST_F(SessionTest, RequestsWithoutReplyRunOnToTheEndOfTheQueue) {
  ASSERT_EQ(Open(), TOpenResult::Opened);
  Read(64);
  ASSERT_TRUE(Write(std::string("\x02\x00\x00\x00\x1a\x00\x00\x00", 8)));
  EXPECT_EQ(Read(64), "<none>");
  EXPECT_FALSE(Write(std::string("\x01\x00\x00\x00", 4)));
}

TEST_F(SessionTest, CloseSessionRequestRepliesAndRefusesFurtherBytes) {
  ASSERT_EQ(Open(), TOpenResult::Opened);
  Read(64);
  ASSERT_TRUE(Write(std::string("\x01\x00\x00\x00", 4)));
  EXPECT_EQ(Read(64), std::string(4, '\0'));
  EXPECT_FALSE(Write(std::string("\x1a\x00\x00\x00", 4)));
  EXPECT_EQ(Read(64), "<none>");
  EXPECT_TRUE(CloseSession());
}

TEST_F(SessionTest, NegativeCountsAndMissingSessionAreRefusedQuietly) {
  char buffer[8];
  EXPECT_EQ(ReadSession(buffer, 8), -1);
  EXPECT_FALSE(WriteSession(buffer, 0));
  ASSERT_EQ(Open(), TOpenResult::Opened);
  EXPECT_FALSE(WriteSession(buffer, -1));
  EXPECT_EQ(ReadSession(buffer, -1), -1);
  EXPECT_EQ(ReadSession(nullptr, 4), -1);
  EXPECT_EQ(Read(64), kGreeting);  // nothing was consumed or run
}

// PrepareReply runs what ReadSession would run and leaves the copying to
// it: waiting bytes are counted without running anything.
TEST_F(SessionTest, PrepareReplyRunsRequestsUntilBytesWaitAndCopiesNothing) {
  EXPECT_EQ(PrepareReply(), -1);
  ASSERT_EQ(Open(), TOpenResult::Opened);
  EXPECT_EQ(PrepareReply(), 16);
  EXPECT_EQ(Read(4), kGreeting.substr(0, 4));
  EXPECT_EQ(PrepareReply(), 12);
  EXPECT_EQ(Read(64), kGreeting.substr(4));
  // A no-operation, then a close-session request: the first gives no
  // reply, so both run.
  ASSERT_TRUE(Write(std::string("\x1a\x00\x00\x00\x01\x00\x00\x00", 8)));
  EXPECT_EQ(PrepareReply(), 4);
  EXPECT_EQ(PrepareReply(), 4);
  EXPECT_EQ(Read(64), std::string(4, '\0'));
  EXPECT_EQ(PrepareReply(), 0);  // the session has ended: nothing runs or waits
  EXPECT_EQ(Read(64), "<none>");
}

TEST_F(SessionTest, BadConfigurationOpensNothingAndSaysWhy) {
  test::WriteWholeFile("CONFIG.ZSR", "TIMEAUTOINCID TIME\nINDEXFILENAME 12\n");
  std::string failure;
  EXPECT_EQ(OpenSession(failure), TOpenResult::Failed);
  EXPECT_NE(failure.find("EReaderSyntaxError  LastError: "), std::string::npos) << failure;
  EXPECT_NE(failure.find("CONFIG.ZSR, line 2"), std::string::npos) << failure;
  EXPECT_NE(Log().find("  KORLIB UP failed: EReaderSyntaxError"), std::string::npos);
  EXPECT_EQ(TZObject::LiveObjectCount(), 0);
  EXPECT_FALSE(CloseSession());

  std::filesystem::copy_file(std::string(KOR_FIXTURES_DIR) + "/minimal/CONFIG.ZSR", "CONFIG.ZSR",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(Open(), TOpenResult::Opened);
}

TEST_F(SessionTest, MissingConfigurationIsCreatedEmptyAndEndsInEof) {
  std::filesystem::remove("CONFIG.ZSR");
  std::string failure;
  EXPECT_EQ(OpenSession(failure), TOpenResult::Failed);
  EXPECT_NE(failure.find("EReaderEof"), std::string::npos) << failure;
  EXPECT_TRUE(std::filesystem::exists("CONFIG.ZSR"));
  EXPECT_EQ(std::filesystem::file_size("CONFIG.ZSR"), 0u);
}

TEST_F(SessionTest, SessionOverTablesClosesEverythingCleanly) {
  test::WriteWholeFile("STRUCT.ZSR",
                       "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
                       "TABLE ORDERS FILENAME 'ORDERS.TBL'\n"
                       "  RECORDTYPE FIELD ID INTEGER 8 FIELD AMOUNT DOUBLE END\n"
                       "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
                       "ENDTABLE END\n");
  ASSERT_EQ(Open(), TOpenResult::Opened);
  EXPECT_EQ(Read(64), kGreeting);
  EXPECT_TRUE(CloseSession());  // proves that no engine object is left
  EXPECT_EQ(TZObject::LiveObjectCount(), 0);
  std::string table = test::ReadWholeFile("ORDERS.TBL");
  ASSERT_GE(table.size(), 4u);
  EXPECT_EQ(DecodeInt32(reinterpret_cast<const unsigned char*>(table.data())), 0);
  EXPECT_NE(test::ReadWholeFile("COUNTERS.ZSR").find("ORDERS $0000000000000001"),
            std::string::npos);
}

TEST_F(SessionTest, LeakAtCloseEndsTheProcessWithTheReport) {
  EXPECT_EXIT(
      {
        std::string failure;
        OpenSession(failure);
        new TStreamBuffer(16);  // never released
        CloseSession();
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Err");
  std::string log = Log();
  EXPECT_NE(log.find("  ErrB\r\n"), std::string::npos) << log;
  size_t lost = log.find("      LOST OBJECTS:\r\n");
  ASSERT_NE(lost, std::string::npos);
  EXPECT_NE(log.find("          TStreamBuffer * 1\r\n", lost), std::string::npos);
  EXPECT_NE(log.find("THAT'S ALL FOLKS!"), std::string::npos);
  EXPECT_EQ(log.find("KORLIB DOWN success"), std::string::npos);
}

}  // namespace
}  // namespace kor
