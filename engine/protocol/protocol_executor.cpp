#include "engine/protocol/protocol_executor.h"

#include <limits>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

#include "engine/storage/transaction.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/record_type.h"
#include "engine/tables/table.h"

namespace kor {

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kMaxHandle = std::numeric_limits<int32_t>::max();

}  // namespace

void WriteGreeting(TWriter& writer) {
  writer.WriteIdent("KOR");
  writer.WriteString("V 0.3");
  writer.Flush();
}

TProtocolExecutor::TProtocolExecutor(Ref<TEngine> engine, Ref<TReader> reader, Ref<TWriter> writer)
    : Engine(std::move(engine)),
      TableHandles(MakeRef<TObjectHolder>()),
      TransactionHandles(MakeRef<TObjectHolder>()),
      Reader(std::move(reader)),
      Writer(std::move(writer)) {}

TProtocolExecutor::~TProtocolExecutor() {
  // Views first: each holds its transaction (and a lookup its looked-up view).
  TableHandles.ReleaseLast();
  RollBackLiveTransactions();
  TransactionHandles.ReleaseLast();
  Writer.ReleaseLast();
  Reader.ReleaseLast();
  Engine.Reset();
}

// Rolls back in passes: each pass ends every transaction without an active
// nested one, which frees its parent for a later pass (or this one, when
// the parent's handle comes later).
void TProtocolExecutor::RollBackLiveTransactions() {
  while (TransactionHandles->LiveCount() > 0) {
    int32_t ended = 0;
    for (int32_t handle = 1; handle <= TransactionHandles->SlotCount(); ++handle) {
      if (TransactionHandles->IsFree(handle)) continue;
      Ref<TTransaction> transaction = TransactionHandles->GetAs<TTransaction>(handle);
      if (transaction->HasActiveChild()) continue;
      TransactionHandles->Remove(handle);
      TTransaction::Finish(std::move(transaction), false);
      ++ended;
    }
    FailIf(ended == 0);
  }
}

bool TProtocolExecutor::Step() {
  if (IsStopped) return false;
  try {
    const int32_t command = Reader->ReadInteger();
    if (command < kFirstCommand || command > kLastCommand) throw EReaderSyntaxError();
    Perform(static_cast<TCommand>(command));
  } catch (const EReaderError& e) {
    // The request could not be read: the session ends here, by design.
    IsStopped = true;
    Reason = e.Describe();
    return false;
  } catch (const EWriterError& e) {
    // The reply could not be delivered: the client is gone.
    IsStopped = true;
    Reason = e.Describe();
    return false;
  }
  return true;
}

void TProtocolExecutor::Perform(TCommand command) {
  switch (command) {
    case TCommand::CloseSession:
      return CloseSession();
    case TCommand::FlushReplies:
      return Writer->Flush();
    case TCommand::BeginTransaction:
      return BeginTransaction();
    case TCommand::BeginNestedTransaction:
      return BeginNestedTransaction();
    case TCommand::CommitTransaction:
      return FinishTransaction(true);
    case TCommand::RollbackTransaction:
      return FinishTransaction(false);
    case TCommand::OpenTable:
      return OpenTable(false);
    case TCommand::OpenTableWithLookups:
      return OpenTable(true);
    case TCommand::CloseTable:
      return CloseTable();
    case TCommand::ListTables:
      return ListNames(Engine->Tables());
    case TCommand::ListComparators:
      return ListNames(Engine->CompFuncs());
    case TCommand::DescribeTable:
      return DescribeTable();
    case TCommand::DescribeComparator:
      return DescribeComparator();
    case TCommand::ListCounters:
      return ListNames(Engine->Counters());
    case TCommand::NextCounterValue:
      return NextCounterValue();
    case TCommand::NoOperation:
      return;
    case TCommand::RaiseCounter:
      return RaiseCounter();
    case TCommand::TableStatus:
    case TCommand::SetTablePosition:
    case TCommand::SeekForward:
    case TCommand::SeekBackward:
    case TCommand::DeleteCurrentRecord:
    case TCommand::InsertRecord:
    case TCommand::UpdateCurrentRecord:
    case TCommand::MoveBy:
    case TCommand::FetchForward:
    case TCommand::FetchBackward:
    case TCommand::FetchCurrentRecord:
    case TCommand::InsertRecords:
    case TCommand::DeleteRecordsByKey:
    case TCommand::DeleteAllMatching:
      return PerformDataCommand(command, ReadView());
  }
  FailIf(true);  // Step admits only the codes above
}

// ---- Arguments ----

int32_t TProtocolExecutor::ReadHandle(const TObjectHolder& holder) {
  const int32_t handle = ReadIntegerInRange(*Reader, 1, kMaxHandle);
  if (holder.IsFree(handle)) throw EReaderSyntaxError();
  return handle;
}

TTransaction& TProtocolExecutor::ReadTransaction(int32_t* handle) {
  const int32_t read = ReadHandle(*TransactionHandles);
  if (handle != nullptr) *handle = read;
  return TransactionHandles->Borrow<TTransaction>(read);
}

TTable& TProtocolExecutor::ReadView(int32_t* handle) {
  const int32_t read = ReadHandle(*TableHandles);
  if (handle != nullptr) *handle = read;
  return TableHandles->Borrow<TTable>(read);
}

int32_t TProtocolExecutor::ReadTableNumber() {
  return ReadIntegerInRange(*Reader, 1, Engine->Tables().Count());
}

// ---- Session ----

void TProtocolExecutor::CloseSession() {
  IsStopped = true;
  int32_t mask = 0;
  if (TableHandles->LiveCount() > 0) mask |= kOpenTablesBit;
  if (TransactionHandles->LiveCount() > 0) mask |= kOpenTransactionsBit;
  Writer->WriteInteger(mask);
  Writer->Flush();
}

// ---- Transactions ----

void TProtocolExecutor::BeginTransaction() {
  const int32_t handle =
      TransactionHandles->Add(MakeRef<TTransaction>(Ref<TTransactionMgr>::Share(Engine->TransactionMgr())));
  Writer->WriteInteger(kOk);
  Writer->WriteInteger(handle);
}

void TProtocolExecutor::BeginNestedTransaction() {
  TTransaction& parent = ReadTransaction();
  if (parent.HasActiveChild()) throw EReaderSyntaxError();
  const int32_t handle =
      TransactionHandles->Add(TTransaction::Nested(Ref<TTransaction>::Share(parent)));
  Writer->WriteInteger(kOk);
  Writer->WriteInteger(handle);
}

void TProtocolExecutor::FinishTransaction(bool commit) {
  int32_t handle = 0;
  TTransaction& transaction = ReadTransaction(&handle);
  if (transaction.HasActiveChild() || transaction.OpenViews() != 0) throw EReaderSyntaxError();
  Ref<TTransaction> finished = Ref<TTransaction>::Share(transaction);
  TransactionHandles->Remove(handle);
  try {
    TTransaction::Finish(std::move(finished), commit);
  } catch (const EFileFullError&) {
    // A nested commit that found no room in the index file changed
    // nothing: the transaction goes back under its handle (the one just
    // freed is the first handed out) and the client may roll it back.
    const int32_t restored = TransactionHandles->Add(std::move(finished));
    FailIf(restored != handle);
    throw;
  }
  Writer->WriteInteger(kOk);
}

// ---- Catalogue ----

void TProtocolExecutor::ListNames(const TNameVector& names) {
  Writer->WriteInteger(kOk);
  Writer->WriteInteger(names.Count());
  for (int32_t number = 1; number <= names.Count(); ++number) {
    Writer->WriteIdent(names.GetName(number));
    Writer->WriteInteger(number);
  }
}

void TProtocolExecutor::DescribeTable() {
  const int32_t number = ReadTableNumber();
  Writer->WriteInteger(kOk);
  Engine->Table(number)->DeclaredRecordType().WriteRecordType(*Writer);
}

void TProtocolExecutor::DescribeComparator() {
  const int32_t number = ReadIntegerInRange(*Reader, 1, Engine->CompFuncs().Count());
  Writer->WriteInteger(kOk);
  WriteCompFunc(*Writer, *Engine->CompFuncs().Get(number));
}

// ---- Counters ----

void TProtocolExecutor::NextCounterValue() {
  const int32_t number = ReadIntegerInRange(*Reader, 1, Engine->Counters().Count());
  const int64_t value = Engine->Counters().Get(number)->NextValue();
  unsigned char bytes[8];
  EncodeInt64(bytes, value);
  Writer->WriteInteger(kOk);
  Writer->WriteBytes(bytes, sizeof bytes);
}

void TProtocolExecutor::RaiseCounter() {
  const int32_t number = ReadIntegerInRange(*Reader, 1, Engine->Counters().Count());
  const int64_t value = Reader->ReadInt64();
  Ref<TAutoinc> counter = Engine->Counters().Get(number);
  if (value > counter->Value()) counter->SetValue(value);
  Writer->WriteInteger(kOk);
}

}  // namespace kor
