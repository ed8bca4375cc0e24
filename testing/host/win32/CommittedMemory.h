// Committed memory of this process, found by walking its address space with
// VirtualQuery (Wine implements no process memory counters).
#pragma once

#include <windows.h>

#include <cstddef>

namespace host {

inline std::size_t CommittedBytes() {
  std::size_t total = 0;
  MEMORY_BASIC_INFORMATION mbi;
  for (const char* p = nullptr; VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;) {
    if (mbi.State == MEM_COMMIT) total += mbi.RegionSize;
    const char* next = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) break;  // the top of the address space
    p = next;
  }
  return total;
}

}  // namespace host
