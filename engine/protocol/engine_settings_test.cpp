#include "engine/protocol/engine_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/base/exceptions.h"
#include "engine/base/object.h"

#include "engine/streams/text_stream_reader.h"

#include "engine/protocol/engine.h"

#include "tests/support/string_stream.h"

namespace kor {
namespace {

// The eight settings with the value of one of them replaced.
std::string ConfigWith(const std::string& key, const std::string& value) {
  const std::pair<std::string, std::string> settings[] = {
      {"TIMEAUTOINCID", "TIME"},
      {"INDEXFILENAME", "'INDEX.TMP'"},
      {"INDEXFILECLUSTERSHL", "12"},
      {"INDEXFILEMINBUFFER", "16"},
      {"STRUCTFILENAME", "'STRUCT.ZSR'"},
      {"INETPORT", "7000"},
      {"AUTOINCFILENAME", "'COUNTERS.ZSR'"},
      {"INPUTTIMEOUT", "30"},
  };
  std::string text;
  for (const auto& [k, v] : settings) text += k + " " + (k == key ? value : v) + "\n";
  return text;
}

TEngineSettings Load(const std::string& text) {
  auto reader = MakeRef<TTextStreamReader>(MakeRef<test::TStringInputStream>(text), "CONFIG.ZSR");
  return ReadEngineSettings(*reader);
}

TEST(EngineSettingsTest, ReadsTheEightSettingsInOrder) {
  TEngineSettings s = Load(
      "{ the engine's settings }\n"
      "timeautoincid time_counter\n"
      "IndexFileName 'INDEX.TMP' IndexFileClusterShl $0C IndexFileMinBuffer -5\n"
      "STRUCTFILENAME 'STRUCT'+ 'URE.ZSR' INETPORT 16383\n"
      "AUTOINCFILENAME 'COUNTERS.ZSR' INPUTTIMEOUT 0 anything after this is not read ''#");
  EXPECT_EQ(s.TimeAutoincId, "TIME_COUNTER");
  EXPECT_EQ(s.IndexFileName, "INDEX.TMP");
  EXPECT_EQ(s.IndexFileClusterShl, 12);
  EXPECT_EQ(s.IndexFileMinBuffer, -5);
  EXPECT_EQ(s.StructFileName, "STRUCTURE.ZSR");
  EXPECT_EQ(s.InetPort, 16383);
  EXPECT_EQ(s.AutoincFileName, "COUNTERS.ZSR");
  EXPECT_EQ(s.InputTimeout, 0);
}

struct TConfigCase {
  std::string Text;
  // Which exception, or none when the text must load.
  enum { Loads, Syntax, Eof } Outcome;
};

TEST(EngineSettingsTest, RangesKeywordsAndKindsAreChecked) {
  const TConfigCase cases[] = {
      {ConfigWith("INDEXFILECLUSTERSHL", "6"), TConfigCase::Loads},
      {ConfigWith("INDEXFILECLUSTERSHL", "20"), TConfigCase::Loads},
      {ConfigWith("INDEXFILECLUSTERSHL", "5"), TConfigCase::Syntax},
      {ConfigWith("INDEXFILECLUSTERSHL", "21"), TConfigCase::Syntax},
      {ConfigWith("INETPORT", "1024"), TConfigCase::Loads},
      {ConfigWith("INETPORT", "1023"), TConfigCase::Syntax},
      {ConfigWith("INETPORT", "16384"), TConfigCase::Syntax},
      {ConfigWith("INPUTTIMEOUT", "-2147483648"), TConfigCase::Loads},
      {ConfigWith("TIMEAUTOINCID", "'TIME'"), TConfigCase::Syntax},  // a string for an identifier
      {ConfigWith("INDEXFILENAME", "INDEX"), TConfigCase::Syntax},   // an identifier for a string
      {ConfigWith("INDEXFILEMINBUFFER", "many"), TConfigCase::Syntax},
      {"INDEXFILENAME 'INDEX.TMP'", TConfigCase::Syntax},            // out of order
      {"TIMEAUTOINCID TIME INDEXFILENAM 'X'", TConfigCase::Syntax},  // misspelt
      {"", TConfigCase::Eof},
      {"  { only a comment }  ", TConfigCase::Eof},
      {"TIMEAUTOINCID TIME INDEXFILENAME 'INDEX.TMP'", TConfigCase::Eof},
  };
  int32_t liveAtStart = TZObject::LiveObjectCount();
  for (const TConfigCase& c : cases) {
    SCOPED_TRACE(c.Text);
    switch (c.Outcome) {
      case TConfigCase::Loads:
        EXPECT_NO_THROW(Load(c.Text));
        break;
      case TConfigCase::Syntax:
        try {
          Load(c.Text);
          ADD_FAILURE() << "loaded";
        } catch (const EReaderEof&) {
          ADD_FAILURE() << "end of input instead of a syntax error";
        } catch (const EReaderSyntaxError&) {
        }
        break;
      case TConfigCase::Eof:
        EXPECT_THROW(Load(c.Text), EReaderEof);
        break;
    }
    EXPECT_EQ(TZObject::LiveObjectCount(), liveAtStart);
  }
}

TEST(EngineSettingsTest, FailureRecordsWhereInTheFileItWasMet) {
  try {
    TEngine::LoadFromConfiguration(MakeRef<TTextStreamReader>(
        MakeRef<test::TStringInputStream>(ConfigWith("INETPORT", "99999")), "CONFIG.ZSR"));
    FAIL() << "loaded";
  } catch (const EReaderSyntaxError& e) {
    EXPECT_EQ(e.InputPosition(), "CONFIG.ZSR, line 6");
    EXPECT_NE(e.Describe().find("EReaderSyntaxError  LastError: "), std::string::npos);
    EXPECT_NE(e.Describe().find("CONFIG.ZSR, line 6"), std::string::npos);
  }
}

}  // namespace
}  // namespace kor
