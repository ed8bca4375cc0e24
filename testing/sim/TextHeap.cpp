// Native build: module and server stand-in share one C runtime, so malloc serves both.
#include "platform/TextHeap.h"

#include <cstdlib>

namespace platform {

void* TextAlloc(std::size_t bytes) noexcept { return std::malloc(bytes); }

void TextFree(void* block) noexcept { std::free(block); }

}  // namespace platform
