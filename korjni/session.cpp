#include "korjni/session.h"

#include "engine/base/exceptions.h"
#include "engine/base/log.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/bin_stream.h"
#include "engine/streams/buffered_stream.h"
#include "engine/streams/stream_buffer.h"
#include "engine/streams/text_stream_reader.h"

#include "engine/storage/file.h"

#include "engine/protocol/engine.h"
#include "engine/protocol/protocol_executor.h"

namespace kor {

namespace {

constexpr const char* kConfigFileName = "CONFIG.ZSR";
constexpr int32_t kConfigBufferSize = 1024;
constexpr int32_t kPipeChunkSize = 4096;

// Process-wide session state; all null while no session is open. Each pipe
// has a second reference, held by the pipe stream under the executor's
// reader or writer, and the executor holds a second engine reference, so
// that the teardown's ReleaseLast calls each find a count of 1.
Ref<TEngine> SessionEngine;
Ref<TProtocolExecutor> SessionExecutor;
Ref<TStreamBuffer> RequestPipe;
Ref<TStreamBuffer> ReplyPipe;

bool SessionActive() { return SessionEngine && SessionExecutor && !SessionExecutor->Stopped(); }

Ref<TEngine> LoadEngine() {
  auto file = MakeRef<TFile>(kConfigFileName, TCreationDisposition::OpenAlways);
  auto stream =
      MakeRef<TBufferedInputStream>(MakeRef<TFileInputStream>(std::move(file)), kConfigBufferSize);
  return TEngine::LoadFromConfiguration(
      MakeRef<TTextStreamReader>(std::move(stream), kConfigFileName));
}

}  // namespace

TOpenResult OpenSession(std::string& failure) {
  if (SessionEngine) return TOpenResult::AlreadyOpen;
  try {
    Ref<TEngine> engine = LoadEngine();
    auto request = MakeRef<TStreamBuffer>(kPipeChunkSize);
    auto reply = MakeRef<TStreamBuffer>(kPipeChunkSize);
    auto reader = MakeRef<TBinStreamReader>(MakeRef<TStreamBufferInputStream>(request));
    auto writer = MakeRef<TBinStreamWriter>(MakeRef<TStreamBufferOutputStream>(reply));
    WriteGreeting(*writer);
    SessionExecutor = MakeRef<TProtocolExecutor>(engine, std::move(reader), std::move(writer));
    SessionEngine = std::move(engine);
    RequestPipe = std::move(request);
    ReplyPipe = std::move(reply);
  } catch (const EZException& e) {
    // Reported to the caller as a failed open; whatever was built is gone.
    failure = e.Describe();
    LogLine("KORLIB UP failed: " + failure);
    return TOpenResult::Failed;
  }
  LogLine("KORLIB UP success");
  return TOpenResult::Opened;
}

bool CloseSession() {
  if (!SessionEngine) return false;
  SessionExecutor.ReleaseLast();
  RequestPipe.ReleaseLast();
  ReplyPipe.ReleaseLast();
  SessionEngine.ReleaseLast();
  CheckNoLiveObjects();
  LogLine("KORLIB DOWN success");
  return true;
}

bool WriteSession(const void* buffer, int32_t count) {
  if (count < 0 || (buffer == nullptr && count > 0) || !SessionActive()) return false;
  RequestPipe->Write(buffer, count);
  return true;
}

int32_t PrepareReply() {
  if (!ReplyPipe) return -1;
  while (ReplyPipe->Available() == 0 && SessionActive()) {
    if (!SessionExecutor->Step() && !SessionExecutor->StopReason().empty()) {
      LogLine("KORLIB session ended: " + SessionExecutor->StopReason());
    }
  }
  return ReplyPipe->Available();
}

int32_t ReadSession(void* buffer, int32_t count) {
  if (count < 0 || (buffer == nullptr && count > 0) || !ReplyPipe) return -1;
  PrepareReply();
  return ReplyPipe->Read(buffer, count);
}

void LogBoundaryFailure(const char* function, const std::string& description) {
  LogLine(std::string("KORLIB ") + function + " failed: " + description);
}

}  // namespace kor
