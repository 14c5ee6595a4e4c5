#include "engine/storage/autoinc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/platform/os_file.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

std::string Record(const std::string& name, const std::string& digits) {
  return name + " $" + digits + "\r\n";
}

class AutoincTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    LiveAtStart = TZObject::LiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart); }

  std::string Contents() const { return test::ReadWholeFile(Name); }
  void Store(const std::string& text) const { test::WriteWholeFile(Name, text); }

  test::TTempDir Dir;
  std::string Name = Dir.File("COUNTERS.TXT");
  int32_t LiveAtStart = 0;
};

TEST_F(AutoincTest, NewCounterIsAppendedAndEverySecondValueIsWritten) {
  Store("");
  auto counters = LoadCounterFile(Name);
  auto orders = counters->CreateCounter("ORDERS");
  EXPECT_EQ(Contents(), "ORDERS $0000000000000001\r\n");
  EXPECT_EQ(Contents().size(), 26u);
  EXPECT_EQ(counters->Count(), 1);
  EXPECT_EQ(counters->Get(1).Get(), orders.Get());
  EXPECT_EQ(counters->Find("orders").Get(), orders.Get());

  EXPECT_EQ(orders->NextValue(), 1);
  EXPECT_EQ(Contents(), Record("ORDERS", "0000000000000003"));
  EXPECT_EQ(orders->NextValue(), 2);
  EXPECT_EQ(Contents(), Record("ORDERS", "0000000000000003"));
  EXPECT_EQ(orders->NextValue(), 3);
  EXPECT_EQ(Contents(), Record("ORDERS", "0000000000000005"));
  EXPECT_EQ(orders->Value(), 4);

  orders.Reset();
  counters.Reset();
  EXPECT_EQ(Contents(), Record("ORDERS", "0000000000000004"));
}

TEST_F(AutoincTest, LoadRewritesTheFileCanonically) {
  struct TCase {
    std::string Input;
    std::vector<std::pair<std::string, int64_t>> Counters;
  };
  const TCase cases[] = {
      {"", {}},
      {"ab $ff", {{"AB", 255}}},
      {"{ counters }\r\n  first\t$1 {clock} Second\n\n$0000000000000000000A  _x9 "
       "$FFFFFFFFFFFFFFFF\r\n",
       {{"FIRST", 1}, {"SECOND", 10}, {"_X9", -1}}},
      {"A $7FFFFFFFFFFFFFFF{ comment to the end", {{"A", INT64_MAX}}},
      // A counter append cut short by a crash leaves zero bytes at the end.
      {"A $1\r\n" + std::string(22, '\0'), {{"A", 1}}},
      // Duplicates load as they are; lookup finds the first.
      {"a $1 A $2", {{"A", 1}, {"A", 2}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Input);
    Store(c.Input);
    auto counters = LoadCounterFile(Name);
    std::string canonical;
    ASSERT_EQ(counters->Count(), static_cast<int32_t>(c.Counters.size()));
    for (int32_t i = 1; i <= counters->Count(); ++i) {
      const auto& [name, value] = c.Counters[static_cast<size_t>(i - 1)];
      EXPECT_EQ(counters->GetName(i), name);
      EXPECT_EQ(counters->Get(i)->Value(), value);
      canonical += Record(name, Int64ToHex(value));
    }
    EXPECT_EQ(Contents(), canonical);
    EXPECT_FALSE(OsFileExists(Name + ".TMP"));
    counters.Reset();
    EXPECT_EQ(Contents(), canonical);
  }
}

TEST_F(AutoincTest, ValuesAreWrittenInPlace) {
  Store("A $1 LONGER_NAME $10 C $100");
  auto counters = LoadCounterFile(Name);
  EXPECT_EQ(counters->Find("longer_name")->NextValue(), 16);
  EXPECT_EQ(counters->Find("c")->NextValue(), 256);
  EXPECT_EQ(Contents(), Record("A", "0000000000000001") +
                            Record("LONGER_NAME", "0000000000000012") +
                            Record("C", "0000000000000102"));
  EXPECT_FALSE(counters->Find("B"));
  auto added = counters->CreateCounter("B");
  EXPECT_EQ(added->NextValue(), 1);
  EXPECT_EQ(Contents(), Record("A", "0000000000000001") +
                            Record("LONGER_NAME", "0000000000000012") +
                            Record("C", "0000000000000102") + Record("B", "0000000000000003"));
}

TEST_F(AutoincTest, MalformedFilesAreSyntaxErrors) {
  const std::string cases[] = {
      "ORDERS",                         // a name without value
      "ORDERS $1 TIME",                 // the last name without value
      "ORDERS 0000000000000001",        // a value without "$"
      "ORDERS $",                       // "$" without digits
      "ORDERS $11111111111111111",      // 17 significant digits
      "$1 ORDERS",                      // no name
      "ORDERS $1 $2",                   // two values
      "ORDERS-X $1",                    // not an identifier
      "ORDERS $1\r\n\f",                // a control character
      std::string("A $1\0\0B $2", 10),  // zero bytes followed by text
      std::string(33, 'N') + " $1",     // a name of 33 characters
  };
  for (const std::string& input : cases) {
    SCOPED_TRACE(input);
    Store(input);
    try {
      LoadCounterFile(Name);
      ADD_FAILURE() << "loaded";
    } catch (const EReaderSyntaxError& e) {
      // A plain syntax error, not the end of the input.
      EXPECT_STREQ(e.ClassName(), "EReaderSyntaxError");
      EXPECT_NE(e.InputPosition().find(Name + ", line "), std::string::npos);
    }
    EXPECT_EQ(Contents(), input);
    EXPECT_FALSE(OsFileExists(Name + ".TMP"));
  }
}

TEST_F(AutoincTest, MissingFileIsAnOpenError) {
  EXPECT_THROW(LoadCounterFile(Name), EFileOpenError);
}

TEST_F(AutoincTest, AdvanceWritesOnlyWhenTheValueMoves) {
  Store("TIME $20");
  auto counters = LoadCounterFile(Name);
  auto time = counters->Get(1);
  EXPECT_EQ(time->Advance(0), 32);
  EXPECT_EQ(Contents(), Record("TIME", "0000000000000020"));
  EXPECT_EQ(time->Advance(1), 32);
  EXPECT_EQ(Contents(), Record("TIME", "0000000000000021"));
  EXPECT_EQ(time->Advance(0x10), 33);
  EXPECT_EQ(Contents(), Record("TIME", "0000000000000031"));
  EXPECT_EQ(time->Value(), 0x31);
}

TEST_F(AutoincTest, SetValueIsWrittenAtOnceAndDropsTheReserve) {
  Store("N $1");
  auto counters = LoadCounterFile(Name);
  auto n = counters->Get(1);
  EXPECT_EQ(n->NextValue(), 1);  // one value reserved
  n->SetValue(100);
  EXPECT_EQ(Contents(), Record("N", "0000000000000064"));
  EXPECT_EQ(n->Advance(0), 100);  // allowed again: nothing reserved
  EXPECT_EQ(n->NextValue(), 100);
  EXPECT_EQ(Contents(), Record("N", "0000000000000066"));
}

TEST_F(AutoincTest, ValuesWrapAroundLikeTwoWordAddition) {
  Store("N $7FFFFFFFFFFFFFFF");
  auto counters = LoadCounterFile(Name);
  auto n = counters->Get(1);
  EXPECT_EQ(n->NextValue(), INT64_MAX);
  EXPECT_EQ(Contents(), Record("N", "8000000000000001"));
  EXPECT_EQ(n->NextValue(), INT64_MIN);
  n->SetValue(-1);
  EXPECT_EQ(n->Advance(2), -1);
  EXPECT_EQ(Contents(), Record("N", "0000000000000001"));
}

TEST_F(AutoincTest, CounterTakenOutOfTheVectorKeepsTheFile) {
  Store("TIME $5 OTHER $1");
  auto counters = LoadCounterFile(Name);
  auto time = counters->Find("TIME");
  counters->Remove(counters->IndexOf("TIME"));
  counters.Reset();
  EXPECT_THROW(LoadCounterFile(Name), EFileOpenError);  // still held through the counter
  EXPECT_EQ(time->Advance(1), 5);
  time.Reset();
  EXPECT_EQ(Contents(), Record("TIME", "0000000000000006") + Record("OTHER", "0000000000000001"));
}

TEST_F(AutoincTest, SecondLoadFailsWhileTheFirstIsAlive) {
  Store("A $1");
  auto counters = LoadCounterFile(Name);
  EXPECT_THROW(LoadCounterFile(Name), EFileOpenError);

  pid_t child = fork();
  if (child == 0) {
    int code = 1;
    try {
      LoadCounterFile(Name);
    } catch (const EFileOpenError&) {
      code = 0;
    } catch (...) {
      code = 2;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  EXPECT_EQ(counters->Get(1)->NextValue(), 1);
  counters.Reset();
  EXPECT_EQ(LoadCounterFile(Name)->Get(1)->Value(), 2);
}

TEST_F(AutoincTest, StrayTemporaryFileFromACrashIsReplaced) {
  Store("A $1");
  test::WriteWholeFile(Name + ".TMP", "half a rewrite");
  auto counters = LoadCounterFile(Name);
  EXPECT_FALSE(OsFileExists(Name + ".TMP"));
  EXPECT_EQ(Contents(), Record("A", "0000000000000001"));
}

// A file already in canonical form (every start but the first) is used as
// it is: the same file, not a rewritten copy; a stray temporary file still
// goes. Its counters work in place as after a rewrite.
TEST_F(AutoincTest, CanonicalFileIsKeptWithoutARewrite) {
  for (bool stray : {false, true}) {
    SCOPED_TRACE(stray ? "stray temporary file" : "none");
    Store(Record("A", "0000000000000001") + Record("BB", "000000000000000A"));
    if (stray) test::WriteWholeFile(Name + ".TMP", "half a rewrite");
    struct stat before {};
    ASSERT_EQ(stat(Name.c_str(), &before), 0);
    auto counters = LoadCounterFile(Name);
    struct stat after {};
    ASSERT_EQ(stat(Name.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_FALSE(OsFileExists(Name + ".TMP"));
    EXPECT_EQ(counters->Get(2)->NextValue(), 10);
    counters.Reset();
    EXPECT_EQ(Contents(), Record("A", "0000000000000001") + Record("BB", "000000000000000B"));
  }
  Store("A $1");  // not canonical: rewritten under the name, a new file
  struct stat before {};
  ASSERT_EQ(stat(Name.c_str(), &before), 0);
  auto counters = LoadCounterFile(Name);
  struct stat after {};
  ASSERT_EQ(stat(Name.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(Contents(), Record("A", "0000000000000001"));
}

TEST_F(AutoincTest, CallerMistakesAreFatal) {
  Store("A $1");
  const std::pair<const char*, void (*)(const std::string&)> cases[] = {
      {"NextValue unattached", [](const std::string&) { MakeRef<TAutoinc>(1)->NextValue(); }},
      {"Value unattached", [](const std::string&) { MakeRef<TAutoinc>(1)->Value(); }},
      {"SetValue unattached", [](const std::string&) { MakeRef<TAutoinc>(1)->SetValue(2); }},
      {"Advance unattached", [](const std::string&) { MakeRef<TAutoinc>(1)->Advance(0); }},
      {"Advance with a reserve",
       [](const std::string& name) {
         auto counter = LoadCounterFile(name)->Get(1);
         counter->NextValue();
         counter->Advance(0);
       }},
      {"Advance backwards",
       [](const std::string& name) { LoadCounterFile(name)->Get(1)->Advance(-1); }},
      {"attached twice",
       [](const std::string& name) {
         auto counter = LoadCounterFile(name)->Get(1);
         counter->Attach(MakeRef<TFile>(name + ".other", TCreationDisposition::OpenAlways), 0);
       }},
      {"CreateCounter without a file",
       [](const std::string&) { MakeRef<TAutoincVector>()->CreateCounter("A"); }},
      {"CreateCounter with a bad name",
       [](const std::string& name) { LoadCounterFile(name)->CreateCounter("A B"); }},
  };
  for (const auto& [what, run] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EXIT(run(Name), ::testing::ExitedWithCode(kFatalExitCode), "Err");
  }
}

}  // namespace
}  // namespace kor
