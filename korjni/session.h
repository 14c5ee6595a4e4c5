#pragma once

#include <cstdint>
#include <string>

namespace kor {

// The one in-process protocol session of the library. The caller writes
// complete requests with WriteSession and collects replies with
// ReadSession, which runs the protocol executor on the calling thread while
// no reply byte is waiting. The caller calls in from one thread at a time.
//
// States: closed (no engine) -> OpenSession -> active -> the executor stops
// (close-session request, malformed request, end of request bytes) ->
// stopped -> CloseSession -> closed. Active and stopped both count as open.

enum class TOpenResult { Opened, AlreadyOpen, Failed };

// Reads "CONFIG.ZSR" from the current directory, builds the engine and the
// two pipes and queues the 16-byte greeting. On Failed nothing is left
// open, the reason is in `failure` and in the log ("KORLIB UP failed: ...").
TOpenResult OpenSession(std::string& failure);

// Releases the executor, the pipes and the engine, proves that no engine
// object is left alive (a leak ends the process through the fatal report)
// and logs "KORLIB DOWN success". False when no session was open.
bool CloseSession();

// Queues request bytes. False when no session is active or count < 0.
bool WriteSession(const void* buffer, int32_t count);

// Copies up to `count` reply bytes, running queued requests while none is
// waiting. Returns the number copied, or -1 when no reply byte is
// available (also when no session is open or count < 0).
int32_t ReadSession(void* buffer, int32_t count);

// The first half of ReadSession: runs queued requests while no reply byte
// is waiting and the session is active. Returns the reply bytes waiting
// (0 when none came), -1 when no session is open. A ReadSession that
// follows copies without running anything while bytes are waiting, so a
// caller can hold a buffer for the copy alone (the JNI KorRead pins the
// Java array only then).
int32_t PrepareReply();

// Logs an exception that reached an exported function's edge.
void LogBoundaryFailure(const char* function, const std::string& description);

}  // namespace kor
