#include "engine/protocol/engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"

#include "engine/tables/table_index.h"

#include "tests/support/database_fixture.h"
#include "tests/support/temp_dir.h"

namespace kor {
namespace {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    LiveAtStart = TZObject::LiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart); }

  // The message of the exception that building with `settings` raises.
  template <typename TException>
  std::string BuildFailure(const TEngineSettings& settings) {
    try {
      TEngine::Build(settings);
    } catch (const TException& e) {
      return e.Describe();
    }
    ADD_FAILURE() << "built";
    return {};
  }

  test::TTempDir Dir;
  int32_t LiveAtStart = 0;
};

const char* const kShop =
    "{ comparators first, then the tables that use them }\n"
    "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
    "COMPFUNC BYNAME STRINGCOMPFUNC 'aA=bBcC'\n"
    "TABLE customers FILENAME 'CUSTOMERS.TBL'\n"
    "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 20 END\n"
    "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
    "ENDTABLE\n"
    "TABLE NOTES FILENAME 'NOTES.TBL'\n"
    "  RECORDTYPE FIELD TEXT STRING 40 END\n"
    "  UNIQUEINDEXES END\n"
    "ENDTABLE\n"
    "END anything after the end is not read";

TEST_F(EngineTest, BuildsTablesComparatorsAndCountersFromTheStructureFile) {
  test::TCurrentDirScope inside(Dir.Path());
  TEngineSettings settings = test::SmallDatabase(Dir, kShop, "TIME $2A\r\nORDERS $7\r\n");
  Ref<TEngine> engine = TEngine::Build(settings);
  EXPECT_EQ(engine->TransactionMgr().LastCommitted(), 42);
  ASSERT_EQ(engine->Tables().Count(), 2);
  EXPECT_EQ(engine->Tables().GetName(1), "CUSTOMERS");
  EXPECT_EQ(engine->Tables().GetName(2), "NOTES");
  EXPECT_EQ(engine->CompFuncs().Count(), 2);
  EXPECT_EQ(engine->CompFuncs().GetName(2), "BYNAME");
  EXPECT_EQ(engine->FieldTypeClasses().IndexOf("double"), 3);
  EXPECT_EQ(engine->CompFuncClasses().IndexOf("STRINGCOMPFUNC"), 2);
  // The time counter is not client-visible; a table with an ID field gets
  // a counter of its own, one without does not.
  EXPECT_EQ(engine->Counters().IndexOf("TIME"), -1);
  EXPECT_EQ(engine->Counters().IndexOf("ORDERS"), 1);
  EXPECT_EQ(engine->Counters().IndexOf("CUSTOMERS"), 2);
  EXPECT_EQ(engine->Counters().IndexOf("NOTES"), -1);
  EXPECT_EQ(engine->Counters().Get(2)->Value(), 1);
  EXPECT_TRUE(std::filesystem::exists(Dir.File("CUSTOMERS.TBL")));
  // The index file is gone from the directory while in use.
  EXPECT_FALSE(std::filesystem::exists(settings.IndexFileName));
  engine.ReleaseLast();
  // Closed cleanly: word 0 of each table file holds its free-list head.
  EXPECT_EQ(DecodeInt32(reinterpret_cast<const unsigned char*>(
                test::ReadWholeFile(Dir.File("CUSTOMERS.TBL")).data())),
            0);
}

TEST_F(EngineTest, IdCounterIsSeededPastTheHighestStoredId) {
  test::TCurrentDirScope inside(Dir.Path());
  TEngineSettings settings = test::SmallDatabase(Dir, kShop, "TIME $1\r\nCUSTOMERS $7\r\n");
  {
    Ref<TEngine> engine = TEngine::Build(settings);
    Ref<TRawTable> customers = engine->Table(1);
    auto transaction = MakeRef<TTransaction>(Ref<TTransactionMgr>::Share(engine->TransactionMgr()));
    const TRecordType& type = customers->StoredRecordType();
    std::unique_ptr<unsigned char[]> record = type.NewRecord();
    for (int64_t id : {5, 41, 17}) {
      unsigned char bytes[8];
      EncodeInt64(bytes, id);
      type.SetField(record.get(), 3, bytes);
      char name[20] = "someone";
      type.SetField(record.get(), 4, name);
      ASSERT_GT(customers->InsertVersion(*transaction, record.get()), 0);
    }
    TTransaction::Finish(std::move(transaction), true);
  }
  Ref<TEngine> engine = TEngine::Build(settings);
  EXPECT_EQ(engine->Counters().Find("CUSTOMERS")->Value(), 42);
}

TEST_F(EngineTest, EveryBuildFailureNamesWhatItConcerns) {
  test::TCurrentDirScope inside(Dir.Path());
  TEngineSettings settings = test::SmallDatabase(Dir);
  std::filesystem::remove(settings.AutoincFileName);
  EXPECT_NE(BuildFailure<EFileOpenError>(settings).find("COUNTERS.ZSR"), std::string::npos);

  settings = test::SmallDatabase(Dir, "END", "");
  EXPECT_NE(BuildFailure<EZServerError>(settings).find("which has no counter TIME"),
            std::string::npos);

  settings = test::SmallDatabase(Dir);
  std::filesystem::remove(settings.StructFileName);
  EXPECT_NE(BuildFailure<EFileOpenError>(settings).find("STRUCT.ZSR"), std::string::npos);

  settings = test::SmallDatabase(Dir);
  settings.IndexFileName = Dir.File("no-such-directory/INDEX.TMP");
  EXPECT_NE(BuildFailure<EZServerError>(settings).find("INDEX.TMP"), std::string::npos);

  settings = test::SmallDatabase(Dir);
  settings.IndexFileMinBuffer = 2000000000;
  EXPECT_NE(BuildFailure<EZServerError>(settings).find("INDEXFILEMINBUFFER"), std::string::npos);

  const struct {
    const char* Structure;
    const char* Line;
  } badStructures[] = {
      {"COMPFUNC X NOSUCHCOMPFUNC\nEND", "line 1"},
      {"TABLE T FILENAME 'T.TBL'\nRECORDTYPE FIELD A FLOAT END", "line 2"},
      {"TABLE T FILENAME 'T.TBL'\nRECORDTYPE FIELD A INTEGER 4 END\n"
       "UNIQUEINDEXES INDEX FIELD A UNDECLARED END END ENDTABLE END",
       "line 3"},
      {"COMPFUNC S STRINGCOMPFUNC 'ab'\nTABLE T FILENAME 'T.TBL'\n"
       "RECORDTYPE FIELD A INTEGER 4 END\nUNIQUEINDEXES INDEX FIELD A S END END ENDTABLE END",
       "line 4"},  // a string comparator on an integer field
      {"TABLE T FILENAME 'T.TBL' RECORDTYPE FIELD A STRING 5000 END\n"
       "UNIQUEINDEXES INDEX FIELD A X END END ENDTABLE END",
       "line 2"},
      {"TABLE T FILENAME 'T.TBL' RECORDTYPE FIELD A INTEGER 4 END UNIQUEINDEXES END", "line 1"},
  };
  for (const auto& c : badStructures) {
    settings = test::SmallDatabase(Dir, c.Structure);
    std::string failure = BuildFailure<EReaderSyntaxError>(settings);
    EXPECT_NE(failure.find("STRUCT.ZSR, " + std::string(c.Line)), std::string::npos)
        << c.Structure << "\n"
        << failure;
  }
}

TEST_F(EngineTest, KeyTooLargeForThePageIsAConfigurationError) {
  test::TCurrentDirScope inside(Dir.Path());
  TEngineSettings settings = test::SmallDatabase(
      Dir,
      "COMPFUNC S STRINGCOMPFUNC 'ab'\nTABLE T FILENAME 'T.TBL'\n"
      "RECORDTYPE FIELD A STRING 100 END\nUNIQUEINDEXES INDEX FIELD A S END END ENDTABLE END");
  settings.IndexFileClusterShl = 8;  // 256-byte pages hold fewer than three 125-byte keys
  std::string failure = BuildFailure<EReaderSyntaxError>(settings);
  EXPECT_NE(failure.find("EKeyTooLargeError"), std::string::npos) << failure;
  EXPECT_NE(failure.find("256"), std::string::npos) << failure;
}

TEST_F(EngineTest, SecondEngineOnTheSameFilesIsRefused) {
  test::TCurrentDirScope inside(Dir.Path());
  TEngineSettings settings = test::SmallDatabase(Dir, kShop);
  Ref<TEngine> first = TEngine::Build(settings);
  EXPECT_THROW(TEngine::Build(settings), EFileOpenError);
  first.Reset();
  EXPECT_NO_THROW(TEngine::Build(settings));
}

}  // namespace
}  // namespace kor
