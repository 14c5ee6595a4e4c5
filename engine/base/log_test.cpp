#include "engine/base/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

// Each case runs in a child process, whose first log line is the process's
// first, as it is for a freshly loaded library.
TEST(LogTest, LinesHaveTheirFormatAndTheFirstIsPrecededByAnEmptyLine) {
  test::TTempDir dir;
  std::string path = dir.File("sub.log");
  EXPECT_EXIT(
      {
        SetLogFile(path);
        LogLine("KORLIB UP success");
        LogLine("trailing blanks \t  ");
        LogLine("");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  std::string log = test::ReadWholeFile(path);
  std::regex expected(
      "\r\n"
      "log_test \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}  KORLIB UP success\r\n"
      "log_test \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}  trailing blanks\r\n"
      "log_test \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\r\n");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST(LogTest, AppendsToAnExistingLog) {
  test::TTempDir dir;
  std::string path = dir.File("KORLIB.OUT");
  test::WriteWholeFile(path, "earlier run\r\n");
  EXPECT_EXIT(
      {
        SetLogFile(path);
        LogLine("next run");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  std::string log = test::ReadWholeFile(path);
  EXPECT_EQ(log.rfind("earlier run\r\n\r\nlog_test ", 0), 0u) << log;
}

TEST(LogTest, RelativeNameIsFixedAgainstTheCurrentDirectory) {
  test::TTempDir dir;
  {
    test::TCurrentDirScope inside(dir.Path());
    SetLogFile("KORLIB.OUT");
  }
  EXPECT_EQ(LogFilePath(), dir.File("KORLIB.OUT"));
  EXPECT_TRUE(LogLine("written after leaving the directory"));
  EXPECT_NE(test::ReadWholeFile(dir.File("KORLIB.OUT")).find("written after"), std::string::npos);
}

TEST(LogTest, UnwritableLogReportsFalse) {
  SetLogFile("/nonexistent-directory/KORLIB.OUT");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(LogLine("goes to standard error"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("goes to standard error"),
            std::string::npos);
}

}  // namespace
}  // namespace kor
