// The one guard for code the server, the message loop or a window procedure
// calls into: no exception ever leaves through it. What the caller gets
// instead follows from what the guarded code returns: a result code becomes
// E_FAIL (or the code given), any other value the value given, and nothing
// stays nothing.
#pragma once

#include <type_traits>
#include <utility>

#include "sdk/UKDOTypes.h"

// Runs `f`; an exception becomes `onError`.
template <class R, class F>
R KDOGuard(R onError, F&& f) noexcept {
  try {
    return std::forward<F>(f)();
  } catch (...) {
    return onError;
  }
}

// Runs `f`, which returns a result code or nothing; an exception becomes
// E_FAIL, or is dropped.
template <class F>
std::invoke_result_t<F> KDOGuard(F&& f) noexcept {
  using R = std::invoke_result_t<F>;
  static_assert(std::is_void_v<R> || std::is_same_v<R, KDOResult>,
                "a value that is not a result code needs its fallback given");
  if constexpr (std::is_void_v<R>) {
    try {
      std::forward<F>(f)();
    } catch (...) {
    }
  } else {
    return KDOGuard(KDO_E_FAIL, std::forward<F>(f));
  }
}
