#include "engine/protocol/engine.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/object.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    Settings.TimeAutoincId = "TIME";
    Settings.AutoincFileName = Dir.File("COUNTERS.ZSR");
    LiveAtStart = TZObject::LiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart); }

  test::TTempDir Dir;
  TEngineSettings Settings;
  int32_t LiveAtStart = 0;
};

TEST_F(EngineTest, TimeCounterIsTakenOutOfTheClientVisibleCounters) {
  test::WriteWholeFile(Settings.AutoincFileName, "ORDERS $7 time $2A CUSTOMERS $1");
  Ref<TEngine> engine = TEngine::Build(Settings);
  EXPECT_EQ(engine->TimeCounter().Value(), 42);
  ASSERT_EQ(engine->Counters().Count(), 2);
  EXPECT_EQ(engine->Counters().IndexOf("TIME"), -1);
  EXPECT_EQ(engine->Counters().Get(1)->Value(), 7);
  // The registries know their three kinds each, numbered from 1.
  EXPECT_EQ(engine->FieldTypeClasses().Count(), 3);
  EXPECT_EQ(engine->FieldTypeClasses().IndexOf("double"), 3);
  EXPECT_EQ(engine->CompFuncClasses().IndexOf("STRINGCOMPFUNC"), 2);
  EXPECT_EQ(engine->CompFuncs().Count(), 0);

  engine->TimeCounter().Advance(1);
  engine.ReleaseLast();
  // Shut down cleanly, the file holds every counter's exact next value.
  EXPECT_EQ(test::ReadWholeFile(Settings.AutoincFileName),
            "ORDERS $0000000000000007\r\nTIME $000000000000002B\r\n"
            "CUSTOMERS $0000000000000001\r\n");
}

TEST_F(EngineTest, MissingCounterFileOrTimeCounterFailsTheBuild) {
  try {
    TEngine::Build(Settings);
    FAIL() << "built without a counter file";
  } catch (const EFileOpenError& e) {
    EXPECT_NE(e.Describe().find("COUNTERS.ZSR"), std::string::npos) << e.Describe();
  }
  test::WriteWholeFile(Settings.AutoincFileName, "");
  try {
    TEngine::Build(Settings);
    FAIL() << "built without a time counter";
  } catch (const EZServerError& e) {
    EXPECT_NE(e.Describe().find("which has no counter TIME"), std::string::npos) << e.Describe();
  }
}

TEST_F(EngineTest, SecondEngineOnTheSameCounterFileIsRefused) {
  test::WriteWholeFile(Settings.AutoincFileName, "TIME $1\r\n");
  Ref<TEngine> first = TEngine::Build(Settings);
  EXPECT_THROW(TEngine::Build(Settings), EFileOpenError);
  first.Reset();
  EXPECT_NO_THROW(TEngine::Build(Settings));
}

}  // namespace
}  // namespace kor
