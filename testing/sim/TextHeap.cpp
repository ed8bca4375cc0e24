// Native build: module and server stand-in share one C runtime, so malloc serves both.
#include "sdk/TextHeap.h"

#include <cstdlib>

// Beside this file: the test world stays off the sdk's include path.
#include "SimTextHeap.h"

namespace {
int gFailing = 0;  // allocations still to refuse
}  // namespace

namespace sim {
void FailTextAllocations(int count) { gFailing = count; }
}  // namespace sim

namespace kdo::text {

void* TextAlloc(std::size_t bytes) noexcept {
  if (gFailing > 0) {
    --gFailing;
    return nullptr;
  }
  return std::malloc(bytes);
}

void TextFree(void* block) noexcept { std::free(block); }

}  // namespace kdo::text
