// The one guard for code the server, the message loop or a window procedure
// calls into: no exception ever leaves through it. Each guard names its entry;
// an exception it catches is told (one line in the server's debug output,
// naming the entry, while the module is registered) and becomes what the
// caller gets instead: out of memory its own result code, any other exception
// E_FAIL (or the value given), and nothing stays nothing.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "sdk/UKDOTypes.h"

// Where a caught exception is told; set by the module while it is registered.
// It is given the entry's constant text only, so that telling needs no memory.
using TKDOGuardReport = void (*)(KDOString entry) noexcept;
inline TKDOGuardReport GKDOGuardReport = nullptr;

inline void KDOGuardCaught(KDOString entry) noexcept {
  if (const TKDOGuardReport report = GKDOGuardReport) report(entry);
}

// Runs `f`; an exception becomes `onError`.
template <class R, class F>
R KDOGuard(KDOString entry, R onError, F&& f) noexcept {
  try {
    return std::forward<F>(f)();
  } catch (...) {
    KDOGuardCaught(entry);
    return onError;
  }
}

// Runs `f`, which returns a result code or nothing; an exception becomes
// E_OUTOFMEMORY when memory ran out and E_FAIL otherwise, or is dropped.
template <class F>
std::invoke_result_t<F> KDOGuard(KDOString entry, F&& f) noexcept {
  using R = std::invoke_result_t<F>;
  static_assert(std::is_void_v<R> || std::is_same_v<R, KDOResult>,
                "a value that is not a result code needs its fallback given");
  try {
    return std::forward<F>(f)();
  } catch (const std::bad_alloc&) {
    KDOGuardCaught(entry);
    if constexpr (!std::is_void_v<R>) return KDO_E_OUTOFMEMORY;
  } catch (...) {
    KDOGuardCaught(entry);
    if constexpr (!std::is_void_v<R>) return KDO_E_FAIL;
  }
}
