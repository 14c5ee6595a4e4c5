#pragma once

#include <string>

#include "engine/base/containers.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/autoinc.h"
#include "engine/storage/transaction.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"
#include "engine/tables/raw_table.h"

#include "engine/protocol/engine_settings.h"

namespace kor {

class TTextStreamReader;

// The root of everything a session works on, built once from the
// configuration file and the structure file it names, and never
// reconfigured while it runs. Tables, comparators and counters are
// addressed by their 1-based number in declaration order.
class TEngine final : public TRCObject {
 public:
  // Takes over every reference it is given; starts with no tables and no
  // comparators.
  TEngine(TEngineSettings settings, Ref<TTransactionMgr> transactionMgr,
          Ref<TFieldTypeClassVector> fieldTypeClasses,
          Ref<TFieldCompFuncClassVector> compFuncClasses, Ref<TAutoincVector> counters);
  ~TEngine() override;

  // Builds the engine for an in-process session from the text reader over
  // "CONFIG.ZSR". Takes over the reader and releases it once the settings
  // are read, which closes the file. A failure raises the EZException met,
  // with its place recorded (InputPosition: the file and line, or the file
  // it concerns); nothing built so far stays alive.
  static Ref<TEngine> LoadFromConfiguration(Ref<TTextStreamReader> reader);

  // Builds the engine from settings already read: the counter file, the
  // time counter, the index file, the transaction manager, the registries,
  // then the structure file's comparators and tables.
  static Ref<TEngine> Build(TEngineSettings settings);

  // Reads the structure file's statements (COMPFUNC, TABLE ... ENDTABLE,
  // END) into the engine. Borrows the reader.
  void ReadStructure(TTextStreamReader& reader);

  const TEngineSettings& Settings() const { return EngineSettings; }
  TTransactionMgr& TransactionMgr() const { return *Transactions; }
  TObjectVector& Tables() const { return *TableVector; }
  Ref<TRawTable> Table(int32_t number) const { return TableVector->GetAs<TRawTable>(number); }
  TFieldCompFuncVector& CompFuncs() const { return *CompFuncVector; }
  const TFieldTypeClassVector& FieldTypeClasses() const { return *FieldTypes; }
  const TFieldCompFuncClassVector& CompFuncClasses() const { return *CompFuncTypes; }
  // The client-visible counters; the time counter is not one of them.
  TAutoincVector& Counters() const { return *CounterVector; }

 private:
  void ReadTable(TTextStreamReader& reader);
  void SeedIdCounter(const std::string& tableName, TRawTable& table);

  TEngineSettings EngineSettings;
  Ref<TTransactionMgr> Transactions;
  Ref<TObjectVector> TableVector;
  Ref<TFieldCompFuncVector> CompFuncVector;
  Ref<TFieldTypeClassVector> FieldTypes;
  Ref<TFieldCompFuncClassVector> CompFuncTypes;
  Ref<TAutoincVector> CounterVector;
};

}  // namespace kor
