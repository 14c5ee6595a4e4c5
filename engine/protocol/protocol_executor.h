#pragma once

#include <cstdint>
#include <string>

#include "engine/base/containers.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

#include "engine/protocol/engine.h"
#include "engine/protocol/protocol_codes.h"

namespace kor {

class TTable;
class TTransaction;

// Writes and flushes the greeting that opens every session, before its
// first request: the 16 bytes length 3 "KOR", length 5 "V 0.3". Raises the
// writer's EWriterError when the client cannot be reached.
void WriteGreeting(TWriter& writer);

// Serves one client session: each Step reads one request from the reader,
// performs it on the engine and writes its reply to the writer (the
// commands and their wire forms are listed in protocol_codes.h).
//
// Session states:
//   open     Step performs requests.
//   stopped  set by CloseSession, or by a reader or writer error while a
//            request is read or answered (bad command code, argument out of
//            range, handle naming nothing, end of the request bytes, failed
//            output). No reply is written for a failed request, beyond what
//            it had written before failing; Step returns false from then on.
// Replies are flushed only by CloseSession and FlushReplies.
//
// Refusals of the views (a unique key taken, a record already ended) are
// not errors: they set bit 8 of the reply's last status word and the
// session goes on.
//
// The session's views and transactions are known by handles, positive
// integers given out by two holders; a freed handle is the next one handed
// out. Destroying the executor releases the views, then rolls back the
// transactions innermost first.
class TProtocolExecutor final : public TRCObject {
 public:
  TProtocolExecutor(Ref<TEngine> engine, Ref<TReader> reader, Ref<TWriter> writer);
  ~TProtocolExecutor() override;

  // Performs one request; false when the session is (or has just become)
  // stopped. Exceptions other than reader and writer errors pass out, and
  // the session stays open.
  bool Step();
  bool Stopped() const { return IsStopped; }
  // Why the session stopped on an error (the reader or writer exception,
  // described); empty while it runs and after CloseSession. The session's
  // owner logs it: the client is told nothing.
  const std::string& StopReason() const { return Reason; }

  // What the session holds open (for its owner's checks and tests).
  int32_t OpenViewCount() const { return TableHandles->LiveCount(); }
  int32_t LiveTransactionCount() const { return TransactionHandles->LiveCount(); }

 private:
  void Perform(TCommand command);

  // Session, transactions and catalogue (protocol_executor.cpp).
  void CloseSession();
  void BeginTransaction();
  void BeginNestedTransaction();
  void FinishTransaction(bool commit);
  void ListNames(const TNameVector& names);
  void DescribeTable();
  void DescribeComparator();
  void NextCounterValue();
  void RaiseCounter();
  void RollBackLiveTransactions();

  // Opening and closing views (protocol_views.cpp).
  void OpenTable(bool withLookups);
  void CloseTable();

  // The data commands on an open view (protocol_data_commands.cpp).
  void PerformDataCommand(TCommand command, TTable& view);
  void SetTablePosition(TTable& view);
  void Seek(TTable& view, bool forward);
  void DeleteCurrentRecord(TTable& view);
  void InsertRecord(TTable& view);
  void UpdateCurrentRecord(TTable& view);
  void MoveBy(TTable& view);
  void Fetch(TTable& view, bool forward);
  void FetchCurrentRecord(TTable& view);
  void InsertRecords(TTable& view);
  void DeleteRecordsByKey(TTable& view);
  void DeleteAllMatching(TTable& view);
  void ReadViewRecord(TTable& view);
  void WriteViewRecord(const TTable& view);
  // Reads and drops the `count` records left of a batch stopped by a
  // refusal, so that the next request is read from its own start.
  void SkipViewRecords(TTable& view, int32_t count);
  void WriteStatus(const TTable& view, bool failed);

  // Ranged arguments; out of range raises EReaderSyntaxError.
  int32_t ReadTableNumber();
  TTransaction& ReadTransaction(int32_t* handle = nullptr);
  TTable& ReadView(int32_t* handle = nullptr);
  int32_t ReadHandle(const TObjectHolder& holder);

  Ref<TEngine> Engine;
  Ref<TObjectHolder> TableHandles;
  Ref<TObjectHolder> TransactionHandles;
  Ref<TReader> Reader;
  Ref<TWriter> Writer;
  bool IsStopped = false;
  std::string Reason;
};

}  // namespace kor
