// The one send limit of each dispatch of the server's thread, common to both
// platforms. All of the module runs on that thread: plain statics do.
#include "platform/Platform.h"

namespace platform {

namespace {
int tDepth = 0;
uint32_t tBegan = 0;
bool tSpent = false;
}  // namespace

Dispatch::Dispatch() {
  if (tDepth++ > 0) return;
  tBegan = TickMs();
  tSpent = false;
}

Dispatch::~Dispatch() {
  if (--tDepth == 0) tSpent = false;
}

uint32_t Dispatch::LeftMs() {
  if (tDepth == 0) return kSendTimeoutMs;
  const uint32_t used = uint32_t(TickMs() - tBegan);
  return tSpent || used >= kSendTimeoutMs ? 0 : kSendTimeoutMs - used;
}

void Dispatch::Spent() {
  if (tDepth > 0) tSpent = true;
}

}  // namespace platform
