#include "engine/protocol/protocol_executor.h"

#include "engine/base/exceptions.h"

#include "engine/protocol/protocol_codes.h"

namespace kor {

TProtocolExecutor::TProtocolExecutor(Ref<TEngine> engine, Ref<TReader> reader, Ref<TWriter> writer)
    : Engine(std::move(engine)),
      TableHandles(MakeRef<TObjectHolder>()),
      TransactionHandles(MakeRef<TObjectHolder>()),
      Reader(std::move(reader)),
      Writer(std::move(writer)) {}

TProtocolExecutor::~TProtocolExecutor() {
  // Tables first: a view holds its transaction.
  TableHandles.ReleaseLast();
  TransactionHandles.ReleaseLast();
  Writer.ReleaseLast();
  Reader.ReleaseLast();
  Engine.Reset();
}

bool TProtocolExecutor::Step() {
  if (IsStopped) return false;
  try {
    int32_t command = Reader->ReadInteger();
    if (command < kFirstCommand || command > kLastCommand) throw EReaderSyntaxError();
    Perform(command);
  } catch (const EReaderError&) {
    // The request could not be read: the session ends here, by design.
    IsStopped = true;
    return false;
  } catch (const EWriterError&) {
    // The reply could not be delivered: the client is gone.
    IsStopped = true;
    return false;
  }
  return true;
}

void TProtocolExecutor::Perform(int32_t command) {
  switch (static_cast<TCommand>(command)) {
    case TCommand::CloseSession:
      CloseSession();
      return;
    case TCommand::FlushReplies:
      Writer->Flush();
      return;
    case TCommand::NoOperation:
      return;
    default:
      // Commands this build does not serve end the session like a bad code.
      throw EReaderSyntaxError();
  }
}

void TProtocolExecutor::CloseSession() {
  IsStopped = true;
  int32_t mask = 0;
  if (TableHandles->LiveCount() > 0) mask |= kOpenTablesBit;
  if (TransactionHandles->LiveCount() > 0) mask |= kOpenTransactionsBit;
  Writer->WriteInteger(mask);
  Writer->Flush();
}

}  // namespace kor
