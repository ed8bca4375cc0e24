// The module as the test target reaches it: linked in natively, loaded from
// WinampControl.dll on Windows.
#pragma once

#include "sdk/UKDOTypes.h"

TKDOModuleInfoProc ModuleInfoProc();

// Calls table entry `entry` (counted from 1) of an interface by hand, as a
// server would: stdcall, the interface first.
template <class R, class... A>
R CallEntry(void* itf, int entry, A... args) {
  using Fn = R(KDO_STDCALL*)(void*, A...);
  void** table = *static_cast<void***>(itf);
  return reinterpret_cast<Fn>(table[entry - 1])(itf, args...);
}
