#pragma once

#include "engine/base/containers.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

#include "engine/protocol/engine.h"

namespace kor {

// Serves one client session: each Step reads one request from the reader,
// performs it on the engine and writes its reply to the writer.
//
// Session states:
//   open     Step performs requests.
//   stopped  set by CloseSession, or by a reader or writer error while a
//            request is read or answered (bad command code, argument out of
//            range, end of the request bytes, failed output). No reply is
//            written for a failed request; Step returns false from then on.
// Replies are flushed only by CloseSession and FlushReplies.
class TProtocolExecutor final : public TRCObject {
 public:
  TProtocolExecutor(Ref<TEngine> engine, Ref<TReader> reader, Ref<TWriter> writer);
  ~TProtocolExecutor() override;

  // Performs one request; false when the session is (or has just become)
  // stopped. Exceptions other than reader and writer errors pass out, and
  // the session stays open.
  bool Step();
  bool Stopped() const { return IsStopped; }

 private:
  void Perform(int32_t command);
  void CloseSession();

  Ref<TEngine> Engine;
  Ref<TObjectHolder> TableHandles;
  Ref<TObjectHolder> TransactionHandles;
  Ref<TReader> Reader;
  Ref<TWriter> Writer;
  bool IsStopped = false;
};

}  // namespace kor
