// The kor tool as a process: on a database built in a temporary directory
// (and on a copy of the example database), in every output format, loading
// with refusals, checking clean and damaged copies of the table files, over
// TCP to a korserver, and every way it refuses to run.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/base/numeric.h"

#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wire_client.h"

extern char** environ;

namespace kor {
namespace {

// How long a test waits for a program before it calls it hung.
constexpr int kWakeBoundMs = 30000;

struct TRun {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

// Runs kor with `args`, standard output and error into files of `scratch`.
TRun RunKor(const test::TTempDir& scratch, const std::vector<std::string>& args) {
  const std::string out = scratch.File("stdout");
  const std::string err = scratch.File("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv{const_cast<char*>(KOR_PATH)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  TRun run;
  if (posix_spawn(&pid, KOR_PATH, &actions, nullptr, argv.data(), environ) != 0) return run;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out = test::ReadWholeFile(out);
  run.Err = test::ReadWholeFile(err);
  return run;
}

std::string Config(int32_t port) {
  return "TIMEAUTOINCID TIME\nINDEXFILENAME 'INDEX.TMP'\nINDEXFILECLUSTERSHL 12\n"
         "INDEXFILEMINBUFFER 16\nSTRUCTFILENAME 'STRUCT.ZSR'\nINETPORT " +
         std::to_string(port) + "\nAUTOINCFILENAME 'COUNTERS.ZSR'\nINPUTTIMEOUT 0\n";
}

// Two tables with unique indexes; NAME ordered without regard to case.
// SCORE has no comparator of its type.
constexpr const char* kStructure =
    "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
    "COMPFUNC BYNAME STRINGCOMPFUNC "
    "'a=Ab=Bc=Cd=De=Ef=Fg=Gh=Hi=Ij=Jk=Kl=Lm=Mn=No=Op=Pq=Qr=Rs=St=Tu=Uv=Vw=Wx=Xy=Yz=Z'\n"
    "TABLE PERSON FILENAME 'PERSON.TBL'\n"
    "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 12 FIELD SCORE DOUBLE END\n"
    "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END INDEX FIELD NAME BYNAME END END\n"
    "ENDTABLE\n"
    "TABLE NOTE FILENAME 'NOTE.TBL'\n"
    "  RECORDTYPE FIELD ID INTEGER 4 FIELD TEXT STRING 30 END\n"
    "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
    "ENDTABLE\n"
    "END\n";

constexpr const char* kPeople =
    "ID,NAME,SCORE\n"
    "1,ann,1.5\n"
    "2,Bob,\n"
    "3,\"Cy, Jr\",-2\n"
    "4,\"\",1e300\n"
    "5,\"tab\tand \xff\",0.25\n";

// The stored record of PERSON: two times, ID, NAME, SCORE, a bitmap byte;
// blocks of 4 more bytes.
constexpr int kPersonBlock = 8 + 8 + 8 + 12 + 8 + 1 + 4;

// A database with PERSON loaded from kPeople, closed cleanly.
class KorToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Db = Scratch.File("db");
    std::filesystem::create_directory(Db);
    WriteDatabase(Db, 7000);
    test::WriteWholeFile(Scratch.File("people.csv"), kPeople);
    const TRun load = Kor({"load", Db, "PERSON", Scratch.File("people.csv")});
    ASSERT_EQ(load.Exit, 0) << load.Out << load.Err;
    ASSERT_EQ(load.Out, "load PERSON: 5 records read, 0 refused, 5 inserted and committed\n");
  }

  static void WriteDatabase(const std::string& dir, int32_t port) {
    test::WriteWholeFile(dir + "/CONFIG.ZSR", Config(port));
    test::WriteWholeFile(dir + "/STRUCT.ZSR", kStructure);
    test::WriteWholeFile(dir + "/COUNTERS.ZSR", "TIME $1\r\n");
  }

  TRun Kor(const std::vector<std::string>& args) { return RunKor(Scratch, args); }

  test::TTempDir Scratch;
  std::string Db;
};

TEST_F(KorToolTest, ShowsTheCatalogueAsTextAndJson) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Out;
  };
  const TCase cases[] = {
      {{"tables", Db},
       "NUMBER  NAME    FIELDS  RECORD BYTES\n"
       "------  ------  ------  ------------\n"
       "     1  PERSON       3            29\n"
       "     2  NOTE         2            35\n"},
      {{"tables", Db, "--json"},
       "[{\"number\":1,\"name\":\"PERSON\",\"fields\":3,\"record_bytes\":29},"
       "{\"number\":2,\"name\":\"NOTE\",\"fields\":2,\"record_bytes\":35}]\n"},
      {{"describe", Db, "person"},
       "table PERSON (number 1): 3 fields, records of 29 bytes\n"
       "NUMBER  FIELD  TYPE       OFFSET  ORDERED BY\n"
       "------  -----  ---------  ------  ---------------\n"
       "     1  ID     INTEGER 8       0  BYNUMBER\n"
       "     2  NAME   STRING 12       8  BYNAME\n"
       "     3  SCORE  DOUBLE         20  (no comparator)\n"
       "unique index: ID BYNUMBER\n"
       "unique index: NAME BYNAME\n"},
      {{"describe", Db, "NOTE", "--json"},
       "{\"table\":\"NOTE\",\"number\":2,\"record_bytes\":35,\"fields\":["
       "{\"number\":1,\"name\":\"ID\",\"type\":\"INTEGER\",\"size\":4,\"offset\":0,\"ordered_by\":"
       "\"BYNUMBER\"},{\"number\":2,\"name\":\"TEXT\",\"type\":\"STRING\",\"size\":30,\"offset\":4,"
       "\"ordered_by\":\"BYNAME\"}],\"unique_indexes\":[[{\"field\":\"ID\",\"comparator\":"
       "\"BYNUMBER\"}]]}\n"},
      {{"comparators", Db},
       "NUMBER  NAME      CLASS            COLLATION\n"
       "------  --------  ---------------  ----------------------------------------------------"
       "--------------------------\n"
       "     1  BYNUMBER  INTEGERCOMPFUNC\n"
       "     2  BYNAME    STRINGCOMPFUNC   "
       "A=aB=bC=cD=dE=eF=fG=gH=hI=iJ=jK=kL=lM=mN=nO=oP=pQ=qR=rS=s"
       "T=tU=uV=vW=wX=xY=yZ=z\n"},
      {{"comparators", Db, "--json"},
       "[{\"number\":1,\"name\":\"BYNUMBER\",\"class\":\"INTEGERCOMPFUNC\"},{\"number\":2,\"name\":"
       "\"BYNAME\",\"class\":\"STRINGCOMPFUNC\",\"collation\":\"A=aB=bC=cD=dE=eF=fG=gH=hI=iJ=jK=kL="
       "l"
       "M=mN=nO=oP=pQ=qR=rS=sT=tU=uV=vW=wX=xY=yZ=z\"}]\n"},
      // A counter per table with an ID field; the load raised PERSON's past
      // the highest ID loaded.
      {{"counters", Db},
       "NUMBER  NAME    NEXT VALUE\n"
       "------  ------  ----------\n"
       "     1  NOTE             1\n"
       "     2  PERSON           6\n"},
      {{"counters", Db, "--json"},
       "[{\"number\":1,\"name\":\"NOTE\",\"next_value\":1},"
       "{\"number\":2,\"name\":\"PERSON\",\"next_value\":6}]\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args[0] + (c.Args.size() > 2 ? " " + c.Args.back() : ""));
    const TRun run = Kor(c.Args);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, c.Out);
    EXPECT_EQ(run.Err, "");
  }
}

TEST_F(KorToolTest, DumpsRecordsInEveryFormat) {
  struct TCase {
    std::vector<std::string> Options;
    std::string Out;
  };
  const TCase cases[] = {
      // By the first unique index (ID); nulls as such, the empty text
      // empty, bytes outside UTF-8 and control characters escaped.
      {{},
       "ID  NAME              SCORE\n"
       "--  ---------------  ------\n"
       " 1  ann                 1.5\n"
       " 2  Bob                NULL\n"
       " 3  Cy, Jr               -2\n"
       " 4                   1e+300\n"
       " 5  tab\\x09and \\xff    0.25\n"},
      {{"--csv"},
       "ID,NAME,SCORE\n1,ann,1.5\n2,Bob,\n3,\"Cy, Jr\",-2\n4,\"\",1e+300\n5,tab\tand \xff,0.25\n"},
      {{"--json"},
       "{\"ID\":1,\"NAME\":\"ann\",\"SCORE\":1.5}\n"
       "{\"ID\":2,\"NAME\":\"Bob\",\"SCORE\":null}\n"
       "{\"ID\":3,\"NAME\":\"Cy, Jr\",\"SCORE\":-2}\n"
       "{\"ID\":4,\"NAME\":\"\",\"SCORE\":1e+300}\n"
       "{\"ID\":5,\"NAME\":\"tab\\tand \\udcff\",\"SCORE\":0.25}\n"},
      // NAME under BYNAME: case ignored, the empty text first.
      {{"--order", "NAME", "--csv"},
       "ID,NAME,SCORE\n4,\"\",1e+300\n1,ann,1.5\n2,Bob,\n3,\"Cy, Jr\",-2\n5,tab\tand \xff,0.25\n"},
      {{"--where", "NAME=BOB", "--csv"}, "ID,NAME,SCORE\n2,Bob,\n"},
      {{"--where=ID=3", "--json"}, "{\"ID\":3,\"NAME\":\"Cy, Jr\",\"SCORE\":-2}\n"},
      {{"--where", "ID=9", "--csv"}, "ID,NAME,SCORE\n"},
      {{"--limit", "2", "--order=NAME", "--csv"}, "ID,NAME,SCORE\n4,\"\",1e+300\n1,ann,1.5\n"},
      {{"--limit", "0", "--csv"}, "ID,NAME,SCORE\n"},
  };
  for (const TCase& c : cases) {
    std::vector<std::string> args{"dump", Db, "PERSON"};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    std::string trace;
    for (const std::string& option : c.Options) trace += option + " ";
    SCOPED_TRACE(trace);
    const TRun run = Kor(args);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, c.Out);
    EXPECT_EQ(run.Err, "");
  }
}

TEST_F(KorToolTest, ShowsProgressOnStandardErrorWhenAsked) {
  TRun dump = Kor({"dump", Db, "PERSON", "--csv", "--progress"});
  EXPECT_EQ(dump.Exit, 0);
  EXPECT_TRUE(dump.Err.ends_with("\rdump PERSON: 5 records\n")) << dump.Err;

  test::WriteWholeFile(Scratch.File("notes.csv"), "ID,TEXT\n1,one\n2,two\n");
  TRun load = Kor({"load", Db, "NOTE", Scratch.File("notes.csv"), "--progress"});
  EXPECT_EQ(load.Exit, 0);
  EXPECT_TRUE(load.Err.ends_with("\rload NOTE: [" + std::string(30, '#') + "] 100% 2 records\n"))
      << load.Err;
}

TEST_F(KorToolTest, StopsQuietlyWhenItsOutputIsClosed) {
  // A pipe nobody reads (kor dump ... | head, once head has gone).
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  std::vector<char*> argv{const_cast<char*>(KOR_PATH), const_cast<char*>("dump"),
                          const_cast<char*>(Db.c_str()), const_cast<char*>("PERSON"), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, KOR_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The session was still closed in order.
  EXPECT_TRUE(test::ReadWholeFile(Db + "/KORLIB.OUT").ends_with("KORLIB DOWN success\r\n"));
}

TEST_F(KorToolTest, LoadReportsEachRefusedRecordAndCommitsOnlyWhenAsked) {
  // Refusals of every kind, among records that would load: the engine's
  // (a key already in the table, or earlier in the file) and the tool's.
  test::WriteWholeFile(Scratch.File("more.csv"),
                       "name,ID\n"                   // any order, case ignored; SCORE left null
                       "Dee,10\n"                    // 2
                       "ANN,11\n"                    // 3: the NAME of ID 1 under BYNAME
                       "Eve,x\n"                     // 4
                       "Fay,2\n"                     // 5: ID 2 is taken
                       "\"Gus\nGray\",12\n"          // 6: a text over two lines
                       "Hal\n"                       // 8: one field short
                       "Ida,99999999999999999999\n"  // 9
                       "Jo\"e,14\n"                  // 10
                       "a name of 13 c,15\n"         // 11: longer than 12 bytes
                       "Kim,16\n"                    // 12
                       "Kim,17\n");                  // 13: repeats line 12's name
  const std::string expected =
      "more.csv, line 3: refused: refused by the engine: a unique index already holds its key\n"
      "more.csv, line 4: refused: ID: not a whole number\n"
      "more.csv, line 5: refused: refused by the engine: a unique index already holds its key\n"
      "more.csv, line 8: refused: 1 fields where the header names 2\n"
      "more.csv, line 9: refused: ID: out of range for INTEGER 8\n"
      "more.csv, line 10: refused: not valid CSV: a quote inside an unquoted field\n"
      "more.csv, line 11: refused: NAME: 14 bytes, more than the field's 12\n"
      "more.csv, line 13: refused: refused by the engine: a unique index already holds its key\n";
  const std::string before = Kor({"dump", Db, "PERSON", "--csv"}).Out;

  // Run in the scratch directory so the file is named as given.
  const std::string file = "more.csv";
  test::TCurrentDirScope inScratch(Scratch.Path());
  TRun refused = Kor({"load", Db, "PERSON", file});
  EXPECT_EQ(refused.Exit, 1);
  EXPECT_EQ(refused.Out, expected +
                             "load PERSON: 11 records read, 8 refused; nothing committed "
                             "(--commit-partial commits the other 3)\n");
  EXPECT_EQ(Kor({"dump", Db, "PERSON", "--csv"}).Out, before);

  TRun partial = Kor({"load", Db, "PERSON", file, "--commit-partial"});
  EXPECT_EQ(partial.Exit, 1);
  EXPECT_EQ(partial.Out,
            expected + "load PERSON: 11 records read, 8 refused, 3 inserted and committed\n");
  EXPECT_EQ(Kor({"dump", Db, "PERSON", "--csv", "--where", "ID=10"}).Out,
            "ID,NAME,SCORE\n10,Dee,\n");
  EXPECT_EQ(Kor({"dump", Db, "PERSON", "--csv", "--where", "ID=12"}).Out,
            "ID,NAME,SCORE\n12,\"Gus\nGray\",\n");
  EXPECT_EQ(Kor({"counters", Db, "--json"}).Out,
            "[{\"number\":1,\"name\":\"NOTE\",\"next_value\":1},"
            "{\"number\":2,\"name\":\"PERSON\",\"next_value\":17}]\n");
  EXPECT_EQ(Kor({"check", Db}).Exit, 0);
}

// Damage done to a cleanly closed PERSON.TBL (its blocks: 1 to 5 the
// records, 6 to 16 free, the list running 6, 7, ... 16).
using TDamage = std::function<void(std::string& file)>;

void SetWord(std::string& file, int64_t offset, int32_t value) {
  EncodeInt32(reinterpret_cast<unsigned char*>(file.data() + offset), value);
}

TEST_F(KorToolTest, CheckFindsWhatDamagedTableFilesHold) {
  struct TCase {
    const char* Name;
    TDamage Damage;
    int Exit;
    std::vector<std::string> Lines;
  };
  const std::string person = "PERSON.TBL";
  const TCase cases[] = {
      {"intact",
       [](std::string&) {},
       0,
       {"table PERSON (PERSON.TBL)",
        "  file: 17 blocks of 49 bytes, 5 versions, 5 records, 11 free blocks",
        "  unique index (ID BYNUMBER): 5 records, the same as the file's",
        "  unique index (NAME BYNAME): 5 records, the same as the file's", "table NOTE (NOTE.TBL)",
        "check: 2 tables, every table file agrees with its indexes"}},
      {"a record copied into a free block",
       [](std::string& file) {
         file.replace(10 * kPersonBlock, kPersonBlock, file, 1 * kPersonBlock, kPersonBlock);
       },
       1,
       {"  problem: PERSON.TBL: the free list reaches block 10, whose status is 1",
        "  file: 17 blocks of 49 bytes, 6 versions, 6 records, 10 free blocks",
        "  problem: PERSON.TBL: unique index (ID BYNUMBER) holds more than one record with ID=1",
        "  unique index (ID BYNUMBER): 6 records, 1 key repeated, the same as the file's",
        "  problem: PERSON.TBL: unique index (NAME BYNAME) holds more than one record with "
        "NAME='ann'",
        "check: 3 problems in 2 tables"}},
      {"a status neither free nor in use",
       [](std::string& file) { SetWord(file, 7 * kPersonBlock, 7); },
       1,
       {"  problem: PERSON.TBL: 1 blocks with a status neither 1 (in use) nor 0 (free), counted "
        "as free: 7",
        "  problem: PERSON.TBL: the free list reaches block 7, whose status is 7",
        "check: 2 problems in 2 tables"}},
      {"a free list that loops",
       [](std::string& file) { SetWord(file, 9 * kPersonBlock + 4, 6); },
       1,
       {"  problem: PERSON.TBL: the free list loops back to block 6",
        "check: 1 problem in 2 tables"}},
      {"a free list that leaves the file",
       [](std::string& file) { SetWord(file, 16 * kPersonBlock + 4, 40); },
       1,
       {"  problem: PERSON.TBL: the free list links from block 16 to 40, outside the file"}},
      {"a free list head outside the file",
       [](std::string& file) { SetWord(file, 0, 17); },
       1,
       {"  problem: PERSON.TBL: free-list head 17 lies outside the file's blocks 1..16"}},
      {"free blocks off the list",
       [](std::string& file) { SetWord(file, 12 * kPersonBlock + 4, 0); },
       1,
       {"  problem: PERSON.TBL: 4 free blocks are not on the free list"}},
      {"a file not closed",
       [](std::string& file) { SetWord(file, 0, -1); },
       0,
       {"  note: PERSON.TBL: not closed cleanly (or open in another engine); the engine rebuilds "
        "its free list"}},
      {"an uncommitted version",
       [](std::string& file) {
         SetWord(file, 3 * kPersonBlock + 4, 0);
         SetWord(file, 3 * kPersonBlock + 8, -1);
       },
       0,
       {"  note: PERSON.TBL: 1 versions of unfinished or ended transactions, which the engine's "
        "recovery drops or reopens",
        "  file: 17 blocks of 49 bytes, 4 versions, 4 records, 12 free blocks"}},
      // Not opened: the engine would read the records with a wrong layout.
      {"a partial block at the end",
       [](std::string& file) { file += "xyz"; },
       1,
       {"  problem: PERSON.TBL: 3 bytes after the last whole block of 49: not written with the "
        "structure file's record type",
        "check: 1 problem; the engine was not opened: PERSON.TBL: 3 bytes after its last whole "
        "block of 49: not written with the record type of PERSON in STRUCT.ZSR; not opened, as "
        "the engine's recovery would drop its records"}},
      {"no table file",
       [](std::string&) {},
       1,
       {"  problem: PERSON.TBL: before the engine opened it: cannot open: No such file or "
        "directory",
        "  file: 1 blocks of 49 bytes, 0 versions, 0 records, 0 free blocks"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TTempDir copy;
    std::filesystem::copy(Db, copy.Path(), std::filesystem::copy_options::recursive);
    std::string file = test::ReadWholeFile(copy.File(person));
    ASSERT_EQ(file.size(), 17u * kPersonBlock);
    c.Damage(file);
    if (std::string(c.Name) == "no table file") {
      std::filesystem::remove(copy.File(person));
    } else {
      test::WriteWholeFile(copy.File(person), file);
    }
    const TRun run = Kor({"check", copy.Path()});
    EXPECT_EQ(run.Exit, c.Exit) << run.Out << run.Err;
    for (const std::string& line : c.Lines) {
      EXPECT_NE(run.Out.find(line + "\n"), std::string::npos) << line << "\n" << run.Out;
    }
    EXPECT_EQ(run.Err, "");
  }
}

TEST_F(KorToolTest, FailsWithOneLineSayingWhatWasWrong) {
  const std::string bare = Scratch.File("bare");
  std::filesystem::create_directory(bare);
  const std::string broken = Scratch.File("broken");
  std::filesystem::create_directory(broken);
  WriteDatabase(broken, 7000);
  test::WriteWholeFile(broken + "/STRUCT.ZSR",
                       "COMPFUNC BYNUMBER INTEGERCOMPFUNC\nTABLE T\n  FILE 'T.TBL'\n");
  // NAME widened from 12 to 16 bytes over the file written with 12.
  const std::string changed = Scratch.File("changed");
  std::filesystem::copy(Db, changed, std::filesystem::copy_options::recursive);
  std::string structure = kStructure;
  structure.replace(structure.find("NAME STRING 12"), 14, "NAME STRING 16");
  test::WriteWholeFile(changed + "/STRUCT.ZSR", structure);
  const std::string tableFile = test::ReadWholeFile(changed + "/PERSON.TBL");
  // A text too wide for a key of the 4096-byte index pages.
  const std::string wide = Scratch.File("wide");
  std::filesystem::create_directory(wide);
  WriteDatabase(wide, 7000);
  test::WriteWholeFile(
      wide + "/STRUCT.ZSR",
      "COMPFUNC BYNUMBER INTEGERCOMPFUNC\nCOMPFUNC BYTEXT STRINGCOMPFUNC 'ab'\n"
      "TABLE T FILENAME 'T.TBL' RECORDTYPE FIELD ID INTEGER 8 FIELD BODY STRING 5000 "
      "END UNIQUEINDEXES END ENDTABLE END\n");
  // Nothing of it can be ordered: no comparator accepts a DOUBLE.
  const std::string unordered = Scratch.File("unordered");
  std::filesystem::create_directory(unordered);
  WriteDatabase(unordered, 7000);
  test::WriteWholeFile(unordered + "/STRUCT.ZSR",
                       "COMPFUNC BYNUMBER INTEGERCOMPFUNC\nTABLE M FILENAME 'M.TBL' RECORDTYPE "
                       "FIELD X DOUBLE END UNIQUEINDEXES END ENDTABLE END\n");
  test::WriteWholeFile(Scratch.File("bad.csv"), "ID,AGE\n1,2\n");
  test::WriteWholeFile(Scratch.File("twice.csv"), "ID,id\n1,2\n");
  test::WriteWholeFile(Scratch.File("empty.csv"), "");
  struct TCase {
    std::vector<std::string> Args;
    std::string Err;
  };
  const TCase cases[] = {
      {{"tables", Scratch.File("none")},
       "kor: " + Scratch.File("none") + ": cannot enter: No such file or directory\n"},
      {{"tables", bare}, "kor: " + bare + ": no CONFIG.ZSR here: not a database directory\n"},
      {{"tables", broken},
       "kor: database " + broken + ": cannot open: EReaderSyntaxError at STRUCT.ZSR, line 3\n"},
      {{"check", broken},
       "kor: STRUCT.ZSR, line 3: EReaderSyntaxError (the engine cannot read this file either)\n"},
      {{"describe", Db, "NOPE"},
       "kor: database " + Db + ": no table NOPE (tables: PERSON, NOTE)\n"},
      {{"dump", Db, "PERSON", "--order", "SCORE"},
       "kor: cannot order PERSON by SCORE: no comparator of the database accepts DOUBLE fields "
       "(the structure file declares none of class DOUBLECOMPFUNC)\n"},
      {{"dump", Db, "PERSON", "--order", "AGE"}, "kor: table PERSON has no field AGE\n"},
      {{"dump", Db, "PERSON", "--where", "ID=x1"}, "kor: --where ID=x1: not a whole number\n"},
      {{"dump", Db, "PERSON", "--where", "ID=1", "--where", "id=2"},
       "kor: --where gives id twice\n"},
      {{"load", Db, "PERSON", Scratch.File("none.csv")},
       "kor: " + Scratch.File("none.csv") + ": cannot open: No such file or directory\n"},
      {{"load", Db, "PERSON", Scratch.File("bad.csv")},
       "kor: " + Scratch.File("bad.csv") + ", line 1: table PERSON has no field \"AGE\"\n"},
      {{"load", Db, "PERSON", Scratch.File("twice.csv")},
       "kor: " + Scratch.File("twice.csv") + ", line 1: field id named twice\n"},
      {{"load", Db, "PERSON", Scratch.File("empty.csv")},
       "kor: " + Scratch.File("empty.csv") + ": empty; the first line must name the fields\n"},
      {{"dump", changed, "PERSON"},
       "kor: PERSON.TBL: 38 bytes after its last whole block of 53: not written with the record "
       "type of PERSON in STRUCT.ZSR; not opened, as the engine's recovery would drop its "
       "records\n"},
      {{"dump", wide, "T", "--order", "BODY"},
       "kor: cannot open T ordered by BODY BYTEXT (keys too large for the index pages?): "
       "database " +
           wide + ": the engine ended the session without a reply (see KORLIB.OUT)\n"},
      {{"dump", unordered, "M"},
       "kor: cannot open a view of M: no comparator of the database accepts any of its fields, and "
       "a view needs an order\n"},
      {{"--connect", "127.0.0.1:1", "tables"},
       "kor: korserver 127.0.0.1:1: cannot connect: Connection refused\n"},
      {{"--connect", "localhost", "tables"}, "kor: korserver localhost: expected HOST:PORT\n"},
      {{"--connect", "127.0.0.1:99999", "tables"},
       "kor: korserver 127.0.0.1:99999: the port must be a number from 1 to 65535\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args[0] + " " + c.Args[1]);
    const TRun run = Kor(c.Args);
    EXPECT_EQ(run.Exit, 2);
    EXPECT_EQ(run.Err, c.Err);
    EXPECT_EQ(run.Out, "");
  }
  // Nothing was created in the directory that is not a database, and the
  // table file of another record type kept its records.
  EXPECT_TRUE(std::filesystem::is_empty(bare));
  EXPECT_EQ(test::ReadWholeFile(changed + "/PERSON.TBL"), tableFile);
}

TEST_F(KorToolTest, RefusesAWrongCommandLineWithItsUsage) {
  const std::vector<std::string> cases[] = {
      {},
      {"list", Db},
      {"tables"},
      {"tables", Db, "extra"},
      {"dump", Db},
      {"tables", Db, "--csv"},
      {"dump", Db, "PERSON", "--csv", "--json"},
      {"dump", Db, "PERSON", "--limit", "-1"},
      {"dump", Db, "PERSON", "--order"},
      {"dump", Db, "PERSON", "--order", "ID,,NAME"},
      {"dump", Db, "PERSON", "--where", "=1"},
      {"load", Db, "PERSON", "x.csv", "--json"},
      {"tables", Db, "--commit-partial"},
      {"check", Db, "--progress"},
      {"check", "--connect", "127.0.0.1:7000"},
      {"--connect", "127.0.0.1:7000", "tables", Db},
      {"tables", Db, "--frobnicate"},
  };
  for (const std::vector<std::string>& args : cases) {
    std::string trace;
    for (const std::string& arg : args) trace += arg + " ";
    SCOPED_TRACE(trace);
    const TRun run = Kor(args);
    EXPECT_EQ(run.Exit, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(run.Err.starts_with("kor: ")) << run.Err;
    EXPECT_NE(run.Err.find("\nusage: kor [--connect HOST:PORT] COMMAND [DIR] ...\n"),
              std::string::npos)
        << run.Err;
  }
}

// korserver serving `dir` on 127.0.0.1.
class TServerProcess : public test::TServerProcess {
 public:
  explicit TServerProcess(const std::string& dir)
      : test::TServerProcess(KORSERVER_PATH, {"--bind=127.0.0.1", dir}) {}
};

TEST_F(KorToolTest, WorksOverTcpWithAKorserverBesideTheTableFiles) {
  const int32_t port = test::FreeConfigurablePort();
  ASSERT_GT(port, 0);
  test::WriteWholeFile(Db + "/CONFIG.ZSR", Config(port));
  const std::string local = Kor({"dump", Db, "PERSON", "--json"}).Out;
  const std::string localTables = Kor({"tables", Db}).Out;
  TServerProcess server(Db);
  ASSERT_EQ(server.ReadLine(), "korserver: listening on 127.0.0.1:" + std::to_string(port));
  const std::string address = "127.0.0.1:" + std::to_string(port);

  EXPECT_EQ(Kor({"--connect", address, "tables"}).Out, localTables);
  EXPECT_EQ(Kor({"dump", "--connect=" + address, "PERSON", "--json"}).Out, local);
  test::WriteWholeFile(Scratch.File("notes.csv"), "ID,TEXT\n1,one\n1,again\n2,two\n");
  const TRun load =
      Kor({"--connect", address, "load", "NOTE", Scratch.File("notes.csv"), "--commit-partial"});
  EXPECT_EQ(load.Exit, 1);
  EXPECT_EQ(load.Out,
            Scratch.File("notes.csv") +
                ", line 3: refused: refused by the engine: a unique index already holds "
                "its key\nload NOTE: 3 records read, 1 refused, 2 inserted and committed\n");
  EXPECT_EQ(Kor({"--connect", address, "dump", "NOTE", "--csv"}).Out, "ID,TEXT\n1,one\n2,two\n");

  // The check reads the files beside the server; the free list is the
  // server's then, and not checked.
  const TRun check = Kor({"check", Db, "--connect", address});
  EXPECT_EQ(check.Exit, 0) << check.Out;
  EXPECT_NE(
      check.Out.find("table NOTE (NOTE.TBL)\n  file: 17 blocks of 55 bytes, 2 versions, 2 records, "
                     "14 free blocks\n  unique index (ID BYNUMBER): 2 records, the same as the "
                     "file's\n"),
      std::string::npos)
      << check.Out;

  // The server holds the database's files: the engine cannot open them
  // here too (the counter file is the first it meets).
  const TRun inProcess = Kor({"tables", Db});
  EXPECT_EQ(inProcess.Exit, 2);
  EXPECT_EQ(inProcess.Err, "kor: database " + Db +
                               ": cannot open: EFileOpenError at COUNTERS.ZSR: "
                               "Resource temporarily unavailable (in use by another engine? try "
                               "--connect HOST:PORT)\n");
  EXPECT_EQ(server.Stop(), 0);
}

// The example database, copied, filled through the tool: Polish names in
// windows-1250 bytes, ordered by the POLISH collation.
TEST(KorExampleDatabaseTest, LoadsDumpsAndChecksTheExampleShop) {
  test::TTempDir scratch;
  const std::string db = scratch.File("shop");
  std::filesystem::copy(KOR_EXAMPLE_DIR, db, std::filesystem::copy_options::recursive);
  EXPECT_EQ(RunKor(scratch, {"tables", db}).Out,
            "NUMBER  NAME       FIELDS  RECORD BYTES\n"
            "------  ---------  ------  ------------\n"
            "     1  CUSTOMERS       4           139\n"
            "     2  PRODUCTS        4            61\n"
            "     3  ORDERS          5            39\n");
  // Zając (ą is 185), Łoś (Ł 163, ś 156), Adamska, żaba (ż 191).
  test::WriteWholeFile(scratch.File("customers.csv"),
                       "ID,NAME,CITY\n"
                       "1,Zaj\xb9"
                       "c Jan,Krak\xf3w\n"
                       "2,\xa3o\x9c Anna,\n"
                       "3,Adamska Ewa,Gda\xf1sk\n"
                       "4,\xbf"
                       "aba Sp.,\n"
                       "5,zaj\xb9"
                       "c jan,Pozna\xf1\n");  // the same name under POLISH
  const TRun load =
      RunKor(scratch, {"load", db, "CUSTOMERS", scratch.File("customers.csv"), "--commit-partial"});
  EXPECT_EQ(load.Exit, 1);
  EXPECT_NE(load.Out.find("customers.csv, line 6: refused: refused by the engine"),
            std::string::npos)
      << load.Out;
  EXPECT_EQ(RunKor(scratch, {"dump", db, "CUSTOMERS", "--order", "NAME", "--json"}).Out,
            "{\"ID\":3,\"NAME\":\"Adamska Ewa\",\"CITY\":\"Gda\\udcf1sk\",\"EMAIL\":null}\n"
            "{\"ID\":2,\"NAME\":\"\\udca3o\\udc9c Anna\",\"CITY\":null,\"EMAIL\":null}\n"
            "{\"ID\":1,\"NAME\":\"Zaj\\udcb9c Jan\",\"CITY\":\"Krak\\udcf3w\",\"EMAIL\":null}\n"
            "{\"ID\":4,\"NAME\":\"\\udcbfaba Sp.\",\"CITY\":null,\"EMAIL\":null}\n");
  EXPECT_EQ(RunKor(scratch, {"dump", db, "CUSTOMERS", "--where",
                             "NAME=ZAJ\xa5"
                             "C JAN",
                             "--csv"})
                .Out,
            "ID,NAME,CITY,EMAIL\n1,Zaj\xb9"
            "c Jan,Krak\xf3w,\n");
  const TRun check = RunKor(scratch, {"check", db});
  EXPECT_EQ(check.Exit, 0) << check.Out;
  EXPECT_NE(check.Out.find("  unique index (NAME POLISH): 4 records, the same as the file's\n"),
            std::string::npos)
      << check.Out;
  EXPECT_TRUE(check.Out.ends_with("check: 3 tables, every table file agrees with its indexes\n"));
}

}  // namespace
}  // namespace kor
