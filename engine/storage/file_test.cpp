#include "engine/storage/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogFile(Dir.File("KORLIB.OUT")); }
  test::TTempDir Dir;
};

TEST_F(FileTest, MissingFileRaisesFileOpenErrorWithTheSystemCode) {
  try {
    MakeRef<TFile>(Dir.File("missing"), TCreationDisposition::OpenExisting);
    FAIL() << "opened a missing file";
  } catch (const EFileOpenError& e) {
    EXPECT_STREQ(e.what(), "EFileOpenError  LastError: 2");
    EXPECT_EQ(e.LastError(), static_cast<uint32_t>(ENOENT));
  }
}

TEST_F(FileTest, ReadsAndWritesStayWithinTheSize) {
  auto file = MakeRef<TFile>(Dir.File("f"), TCreationDisposition::OpenAlways);
  EXPECT_EQ(file->Size(), 0);
  file->SetSize(10);
  EXPECT_EQ(file->Position(), 10);
  file->Seek(2);
  EXPECT_EQ(file->Write("abc", 3), 3);
  EXPECT_EQ(file->Position(), 5);
  char buffer[4] = {};
  file->Seek(2);
  file->Read(buffer, 3);
  EXPECT_STREQ(buffer, "abc");
  // Neither a read nor a write past the size grows the file.
  file->Seek(8);
  EXPECT_EXIT(file->Write("abc", 3), ::testing::ExitedWithCode(kFatalExitCode), "Err");
  EXPECT_EXIT(file->Read(buffer, 3), ::testing::ExitedWithCode(kFatalExitCode), "Err");
  EXPECT_EXIT(file->Seek(11), ::testing::ExitedWithCode(kFatalExitCode), "Err");
  EXPECT_EQ(file->Size(), 10);
}

TEST_F(FileTest, SecondOpenForWritingFails) {
  auto first = MakeRef<TFile>(Dir.File("t"), TCreationDisposition::OpenAlways);
  EXPECT_THROW(MakeRef<TFile>(Dir.File("t"), TCreationDisposition::OpenAlways), EFileOpenError);
  first.Reset();
  EXPECT_NO_THROW(MakeRef<TFile>(Dir.File("t"), TCreationDisposition::OpenAlways));
}

TEST_F(FileTest, InputStreamReadsFromThePositionToTheEnd) {
  test::WriteWholeFile(Dir.File("text"), "0123456789");
  auto file = MakeRef<TFile>(Dir.File("text"), TCreationDisposition::OpenExisting);
  file->Seek(3);
  auto stream = MakeRef<TFileInputStream>(std::move(file));
  char buffer[16] = {};
  EXPECT_EQ(stream->Read(buffer, 4), 4);
  EXPECT_EQ(stream->Read(buffer + 4, 16), 3);
  EXPECT_STREQ(buffer, "3456789");
  EXPECT_THROW(stream->Read(buffer, 1), EInputStreamEof);
}

}  // namespace
}  // namespace kor
