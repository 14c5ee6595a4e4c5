#pragma once

#include <cstdint>
#include <string>

namespace kor {

// Fills `addresses` with the return addresses of the calling thread's stack,
// innermost first (entry 0 is the return address into the caller of this
// function), and returns how many were stored: at most `max`.
int CaptureCallStack(uintptr_t* addresses, int max);

// The name of the function that holds a code address, as "function+0xOFFSET
// (module)", read from the platform's own symbol information (the module's
// ELF symbol table, so also functions that are not exported). Empty when the
// address belongs to no known function. Slow: meant for the fatal report.
std::string SymbolizeAddress(uintptr_t address);

}  // namespace kor
