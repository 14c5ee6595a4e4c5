#include "engine/server/client_thread.h"

#include <mutex>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/buffered_stream.h"

#include "engine/server/engine_lock.h"
#include "engine/server/server_stream.h"

namespace kor {

namespace {

constexpr int32_t kSessionBufferSize = 4096;

}  // namespace

TZClientThread::TZClientThread(Ref<TEngine> engine, Ref<TSocket> socket)
    : Engine(std::move(engine)), Socket(std::move(socket)) {
  // Last: the thread may use every member from here on.
  Start();
}

TZClientThread::~TZClientThread() {
  Stop();
  Socket.ReleaseLast();
  // Other sessions may hold the engine too; the count is atomic.
  Engine.Reset();
}

void TZClientThread::Terminate() { Socket->Close(); }

void TZClientThread::Execute() {
  std::unique_lock session(EngineLock());
  Ref<TProtocolExecutor> executor = OpenSession();
  if (executor) {
    Serve(*executor);
    if (!executor->StopReason().empty()) {
      LogLine("KORSERVER session ended: " + executor->StopReason());
    }
    executor.ReleaseLast();
  }
  CloseSession();
}

Ref<TProtocolExecutor> TZClientThread::OpenSession() {
  auto reader = MakeRef<TBinStreamReader>(MakeRef<TBufferedInputStream>(
      MakeRef<TZServerInputStream>(Socket->GetInputStream()), kSessionBufferSize));
  auto writer = MakeRef<TBinStreamWriter>(MakeRef<TBufferedOutputStream>(
      MakeRef<TZServerOutputStream>(Socket->GetOutputStream()), kSessionBufferSize));
  try {
    WriteGreeting(*writer);
  } catch (const EWriterError&) {
    // The client is gone before its session began: nothing to serve. The
    // reader and the writer go with their handles.
    return nullptr;
  }
  return MakeRef<TProtocolExecutor>(Engine, std::move(reader), std::move(writer));
}

void TZClientThread::Serve(TProtocolExecutor& executor) {
  while (!executor.Stopped()) {
    try {
      executor.Step();
    } catch (const EZException& e) {
      // Swallowed on purpose, at the edge of the session: an engine failure
      // that the executor passes on (a table file that cannot grow, say)
      // ends this one session, whose reply is incomplete, and not the
      // server and every other session with it. The executor's destruction
      // then rolls back what the session left open.
      LogLine("KORSERVER session ended: " + e.Describe());
      return;
    }
  }
}

void TZClientThread::CloseSession() {
  // Before the close: a peer that sees its connection end may count on the
  // slot being free for the next client.
  Ended.store(true, std::memory_order_release);
  Socket->Close();
}

}  // namespace kor
