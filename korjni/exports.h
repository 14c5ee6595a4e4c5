#pragma once

#include <cstdint>

// The plain C entry points of libkorjni.so. Booleans are one byte: 1 true,
// 0 false.
extern "C" {

// Opens the session: 1 when opened; 0 when one was already open or the
// configuration could not be read (the log says why).
uint8_t KorInit();
// Closes the session: 1 when closed, 0 when none was open.
uint8_t KorDone();
// Queues `count` request bytes from buffer + offset: 1 when queued, 0 when
// no session is active or count is negative.
uint8_t KorWrite(const uint8_t* buffer, int32_t offset, int32_t count);
// Copies up to `count` reply bytes to buffer + offset: the number copied, or
// -1 when none is available, no session is open or count is negative.
int32_t KorRead(uint8_t* buffer, int32_t offset, int32_t count);
}
