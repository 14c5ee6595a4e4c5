#pragma once

#include <mutex>

namespace kor {

// Guards the live-object registry (object.h). Recursive, so that a check
// failing inside a registry update still reaches the fatal report, which
// takes the same lock for its whole run.
std::recursive_mutex& ObjectRegistryLock();

}  // namespace kor
