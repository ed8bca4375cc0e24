// The simulated text heap's one fault: memory that runs out.
#pragma once

namespace sim {

// The next `count` text allocations, the module's and the stand-in's alike, get no memory.
void FailTextAllocations(int count);

}  // namespace sim
