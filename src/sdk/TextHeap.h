// Memory for counted texts that cross the server boundary (see sdk/KDOText.h).
// Declared here, beside the texts; each platform supplies it (win32/, and the
// simulated world natively).
#pragma once

#include <cstddef>

namespace kdo::text {

// Returns null when the memory cannot be had.
void* TextAlloc(std::size_t bytes) noexcept;
void TextFree(void* block) noexcept;

}  // namespace kdo::text
