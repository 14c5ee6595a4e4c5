#pragma once

#include <exception>
#include <new>
#include <string>

#include "engine/base/exceptions.h"

#include "korjni/session.h"

namespace kor {

// The one edge where exceptions stop: every exported function runs its body
// through here, so that no exception ever crosses the C or JNI boundary. An
// exception that gets this far is logged and the function returns its
// failure value.
template <typename TResult, typename TBody>
TResult AtBoundary(const char* function, TResult failureValue, TBody&& body) noexcept {
  try {
    return body();
  } catch (const EZException& e) {
    LogBoundaryFailure(function, e.Describe());
  } catch (const std::bad_alloc&) {
    LogBoundaryFailure(function, "out of memory");
  } catch (const std::exception& e) {
    LogBoundaryFailure(function, e.what());
  } catch (...) {
    LogBoundaryFailure(function, "unknown exception");
  }
  return failureValue;
}

}  // namespace kor
