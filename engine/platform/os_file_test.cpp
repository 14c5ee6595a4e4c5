#include "engine/platform/os_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

TEST(OsFileTest, DispositionsCreateOpenAndTruncate) {
  test::TTempDir dir;
  std::string name = dir.File("data");
  EXPECT_EQ(OsOpenFile(name, TCreationDisposition::OpenExisting, TShareMode::ShareRead,
                       TFileAttributes::Normal),
            kNoOsFile);
  EXPECT_EQ(errno, ENOENT);

  TOsFileHandle file = OsOpenFile(name, TCreationDisposition::OpenAlways, TShareMode::ShareRead,
                                  TFileAttributes::Normal);
  ASSERT_NE(file, kNoOsFile);
  EXPECT_EQ(OsWriteAt(file, "abcdef", 6, 0), 6);
  char buffer[8] = {};
  EXPECT_EQ(OsReadAt(file, buffer, 8, 2), 4);  // short only at the end of the file
  EXPECT_STREQ(buffer, "cdef");
  EXPECT_TRUE(OsCloseFile(file));

  file = OsOpenFile(name, TCreationDisposition::OpenAlways, TShareMode::ShareRead,
                    TFileAttributes::Normal);
  EXPECT_EQ(OsFileSize(file), 6);
  EXPECT_TRUE(OsCloseFile(file));

  file = OsOpenFile(name, TCreationDisposition::CreateAlways, TShareMode::ShareRead,
                    TFileAttributes::Normal);
  EXPECT_EQ(OsFileSize(file), 0);
  EXPECT_TRUE(OsSetFileSize(file, 100));
  EXPECT_EQ(OsFileSize(file), 100);
  EXPECT_TRUE(OsSyncFile(file));
  EXPECT_TRUE(OsCloseFile(file));
}

TEST(OsFileTest, SecondWriterIsRefusedInThisProcessAndInAnother) {
  test::TTempDir dir;
  std::string name = dir.File("table");
  TOsFileHandle first = OsOpenFile(name, TCreationDisposition::OpenAlways, TShareMode::ShareRead,
                                   TFileAttributes::Normal);
  ASSERT_NE(first, kNoOsFile);
  EXPECT_EQ(OsOpenFile(name, TCreationDisposition::OpenAlways, TShareMode::ShareRead,
                       TFileAttributes::Normal),
            kNoOsFile);
  EXPECT_EQ(errno, EWOULDBLOCK);
  // CreateAlways must not truncate a file held by another writer.
  OsWriteAt(first, "x", 1, 0);
  EXPECT_EQ(OsOpenFile(name, TCreationDisposition::CreateAlways, TShareMode::ShareRead,
                       TFileAttributes::Normal),
            kNoOsFile);
  EXPECT_EQ(OsFileSize(first), 1);

  pid_t child = fork();
  if (child == 0) {
    TOsFileHandle other = OsOpenFile(name, TCreationDisposition::OpenAlways, TShareMode::ShareRead,
                                     TFileAttributes::Normal);
    _exit(other == kNoOsFile && errno == EWOULDBLOCK ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_TRUE(OsCloseFile(first));
  TOsFileHandle again = OsOpenFile(name, TCreationDisposition::OpenAlways, TShareMode::ShareRead,
                                   TFileAttributes::Normal);
  EXPECT_NE(again, kNoOsFile);
  OsCloseFile(again);
}

TEST(OsFileTest, DeleteOnCloseLeavesNoNameBehind) {
  test::TTempDir dir;
  std::string name = dir.File("index.tmp");
  TOsFileHandle file = OsOpenFile(name, TCreationDisposition::CreateAlways, TShareMode::ShareRead,
                                  TFileAttributes::DeleteOnClose);
  ASSERT_NE(file, kNoOsFile);
  EXPECT_FALSE(OsFileExists(name));
  EXPECT_TRUE(OsSetFileSize(file, 4096));
  EXPECT_EQ(OsWriteAt(file, "page", 4, 4000), 4);
  EXPECT_TRUE(OsCloseFile(file));
}

TEST(OsFileTest, ReplaceSwapsTheFileInOneStep) {
  test::TTempDir dir;
  test::WriteWholeFile(dir.File("a"), "new");
  test::WriteWholeFile(dir.File("b"), "old");
  EXPECT_TRUE(OsReplaceFile(dir.File("a"), dir.File("b")));
  EXPECT_FALSE(OsFileExists(dir.File("a")));
  EXPECT_EQ(test::ReadWholeFile(dir.File("b")), "new");
  EXPECT_TRUE(OsDeleteFile(dir.File("b")));
  EXPECT_FALSE(OsDeleteFile(dir.File("b")));
}

}  // namespace
}  // namespace kor
