// Memory for counted texts that cross the server boundary (see sdk/KDOText.h).
#pragma once

#include <cstddef>

namespace platform {

// Returns null when the memory cannot be had.
void* TextAlloc(std::size_t bytes) noexcept;
void TextFree(void* block) noexcept;

}  // namespace platform
