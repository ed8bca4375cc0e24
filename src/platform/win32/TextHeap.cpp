// The process heap: shared by the DLL and the server, whatever C runtime each links.
#include "sdk/TextHeap.h"

#include <windows.h>

namespace kdo::text {

void* TextAlloc(std::size_t bytes) noexcept { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void TextFree(void* block) noexcept {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace kdo::text
