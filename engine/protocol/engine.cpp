#include "engine/protocol/engine.h"

#include <limits>

#include "engine/platform/last_error.h"

#include "engine/base/exceptions.h"

#include "engine/streams/buffered_stream.h"
#include "engine/streams/text_stream_reader.h"

#include "engine/storage/file.h"
#include "engine/storage/index_file.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"
#include "engine/tables/table_index.h"

namespace kor {

namespace {

constexpr int32_t kStructureBufferSize = 4096;
// The page buffers the index file starts with are allocated at once; a
// configuration asking for more memory than this is refused rather than
// exhausting the machine.
constexpr int64_t kMaxStartBufferBytes = int64_t{2} << 30;

// A configuration failure that is not in the text: says what it concerns.
template <typename TException>
[[noreturn]] void RaiseAbout(std::string what) {
  SetLastErrorCode(0);
  TException error;
  error.SetInputPosition(std::move(what));
  throw error;
}

// Runs `body`, adding the reader's place in its text to an exception that
// has none yet.
template <typename TBody>
void ReadingAt(const TTextStreamReader& reader, TBody&& body) {
  try {
    body();
  } catch (EZException& e) {
    // Not swallowed: only the place in the file is added for the log.
    if (e.InputPosition().empty()) e.SetInputPosition(reader.Position());
    throw;
  }
}

// The value of an integer field of `size` bytes, sign-extended; false when
// it does not fit 64 bits.
bool ReadIdValue(const unsigned char* field, int32_t size, int64_t& value) {
  int32_t low = size < 8 ? size : 8;
  uint64_t bits = 0;
  for (int32_t i = low - 1; i >= 0; --i) bits = bits << 8 | field[i];
  bool negative = (field[low - 1] & 0x80) != 0;
  if (low < 8 && negative) bits |= ~uint64_t{0} << (8 * low);
  for (int32_t i = 8; i < size; ++i) {
    if (field[i] != (negative ? 0xFF : 0x00)) return false;
  }
  value = static_cast<int64_t>(bits);
  return true;
}

}  // namespace

TEngine::TEngine(TEngineSettings settings, Ref<TTransactionMgr> transactionMgr,
                 Ref<TFieldTypeClassVector> fieldTypeClasses,
                 Ref<TFieldCompFuncClassVector> compFuncClasses, Ref<TAutoincVector> counters)
    : EngineSettings(std::move(settings)),
      Transactions(std::move(transactionMgr)),
      TableVector(MakeRef<TObjectVector>()),
      CompFuncVector(MakeRef<TFieldCompFuncVector>()),
      FieldTypes(std::move(fieldTypeClasses)),
      CompFuncTypes(std::move(compFuncClasses)),
      CounterVector(std::move(counters)) {}

TEngine::~TEngine() {
  // Tables first: they are registered with the transaction manager, and
  // their indexes live in its index file.
  TableVector.ReleaseLast();
  CompFuncVector.ReleaseLast();
  Transactions.ReleaseLast();
  FieldTypes.ReleaseLast();
  CompFuncTypes.ReleaseLast();
  CounterVector.ReleaseLast();
}

Ref<TEngine> TEngine::LoadFromConfiguration(Ref<TTextStreamReader> reader) {
  TEngineSettings settings;
  ReadingAt(*reader, [&] { settings = ReadEngineSettings(*reader); });
  reader.Reset();
  return Build(std::move(settings));
}

Ref<TEngine> TEngine::Build(TEngineSettings settings) {
  Ref<TAutoincVector> counters = LoadCounterFile(settings.AutoincFileName);
  int32_t timePosition = counters->IndexOf(settings.TimeAutoincId);
  if (timePosition < 0) {
    RaiseAbout<EZServerError>(settings.AutoincFileName + ", which has no counter " +
                              settings.TimeAutoincId);
  }
  Ref<TAutoinc> timeCounter = counters->Get(timePosition);
  counters->Remove(timePosition);

  if ((int64_t{settings.IndexFileMinBuffer} << settings.IndexFileClusterShl) >
      kMaxStartBufferBytes) {
    RaiseAbout<EZServerError>("INDEXFILEMINBUFFER " + std::to_string(settings.IndexFileMinBuffer) +
                              " buffers of " + std::to_string(1 << settings.IndexFileClusterShl) +
                              " bytes, more than 2 GiB");
  }
  Ref<TIndexFile> indexFile;
  try {
    indexFile = MakeRef<TIndexFile>(settings.IndexFileName, settings.IndexFileClusterShl,
                                    settings.IndexFileMinBuffer);
  } catch (const EIndexFileError& e) {
    // The configuration's own error for an index file it cannot have.
    SetLastErrorCode(e.LastError());
    EZServerError error;
    error.SetInputPosition(settings.IndexFileName);
    throw error;
  }
  auto transactions = MakeRef<TTransactionMgr>(std::move(timeCounter), std::move(indexFile));
  std::string structureFile = settings.StructFileName;
  auto engine = MakeRef<TEngine>(std::move(settings), std::move(transactions),
                                 MakeRef<TFieldTypeClassVector>(),
                                 MakeRef<TFieldCompFuncClassVector>(), std::move(counters));

  auto file = MakeRef<TFile>(structureFile, TCreationDisposition::OpenExisting);
  auto reader = MakeRef<TTextStreamReader>(
      MakeRef<TBufferedInputStream>(MakeRef<TFileInputStream>(std::move(file)),
                                    kStructureBufferSize),
      structureFile);
  engine->ReadStructure(*reader);
  return engine;
}

// The structure file: statements until END.
//   COMPFUNC name class [collation]
//   TABLE name FILENAME 'file' RECORDTYPE FIELD name type ... END
//         UNIQUEINDEXES INDEX FIELD name comparator ... END ... END ENDTABLE
//   END
// A comparator must be declared before a table uses it. Nothing after END
// is read.
void TEngine::ReadStructure(TTextStreamReader& reader) {
  ReadingAt(reader, [&] {
    for (;;) {
      switch (ReadKeyword(reader, {"TABLE", "COMPFUNC", "END"})) {
        case 1:
          ReadTable(reader);
          break;
        case 2: {
          std::string name = reader.ReadIdent();
          CompFuncVector->Add(name, ReadCompFunc(*CompFuncTypes, reader));
          break;
        }
        default:
          return;
      }
    }
  });
}

void TEngine::ReadTable(TTextStreamReader& reader) {
  std::string name = reader.ReadIdent();
  ReadKeyword(reader, {"FILENAME"});
  std::string fileName = reader.ReadString();
  ReadKeyword(reader, {"RECORDTYPE"});
  Ref<TRecordType> recordType = ReadRecordType(reader, *FieldTypes);
  auto table = MakeRef<TRawTable>(fileName, Transactions, recordType);
  ReadKeyword(reader, {"UNIQUEINDEXES"});
  while (ReadKeyword(reader, {"INDEX", "END"}) == 1) {
    Ref<TRecordCompFunc> key = ReadKeyDefinition(reader, *recordType, *CompFuncVector);
    table->AddUniqueIndex(*key);
  }
  ReadKeyword(reader, {"ENDTABLE"});
  TableVector->Add(name, table);
  SeedIdCounter(name, *table);
}

// A table with a field named ID gets a counter named after the table, set
// past the highest ID stored: the last entry of the most recently declared
// unique index that starts with ID.
void TEngine::SeedIdCounter(const std::string& tableName, TRawTable& table) {
  const TRecordType& declared = table.DeclaredRecordType();
  int32_t idField = declared.FieldNumber("ID");
  if (idField < 0) return;
  Ref<TAutoinc> counter = CounterVector->Find(tableName);
  if (!counter) counter = CounterVector->CreateCounter(tableName);
  // Only an integer ID can be counted.
  if (declared.FieldTypeAt(idField).ClassNumber() != kIntegerTypeClass) return;

  for (TTableIndex* index = table.FirstUniqueIndex(); index != nullptr;
       index = index->NextUnique()) {
    const TRecordType& keyType = index->KeyRecordType();
    constexpr int32_t kFirstOwnKeyField = 4;
    if (keyType.FieldCount() < kFirstOwnKeyField ||
        !SameNameIgnoringCase(keyType.FieldName(kFirstOwnKeyField), "ID")) {
      continue;
    }
    std::unique_ptr<unsigned char[]> key = keyType.NewRecord();
    if (!index->ReadLastKey(key.get())) return;  // empty: the file's value stands
    const unsigned char* id = keyType.FieldPtr(key.get(), kFirstOwnKeyField);
    int64_t value = 0;
    // Nulls sort first, so a null last ID means every ID is null.
    if (id == nullptr || !ReadIdValue(id, keyType.FieldSize(kFirstOwnKeyField), value)) return;
    if (value == std::numeric_limits<int64_t>::max()) return;
    counter->SetValue(value + 1);
    return;
  }
}

}  // namespace kor
