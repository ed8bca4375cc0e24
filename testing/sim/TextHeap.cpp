// Native build: module and server stand-in share one C runtime, so malloc serves both.
#include "sdk/TextHeap.h"

#include <cstdlib>

namespace kdo::text {

void* TextAlloc(std::size_t bytes) noexcept { return std::malloc(bytes); }

void TextFree(void* block) noexcept { std::free(block); }

}  // namespace kdo::text
