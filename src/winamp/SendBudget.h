// TKDOSendBudget: how long one status tick may keep the server's thread in
// sends to the player. Work on a tick starts a send only while its budget is
// left, and goes on where it stopped at the next tick, so that a tick holds
// the thread at most for the budget and one send, however slow the player.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

struct TKDOSendBudget {
  uint32_t Began;
  uint32_t LimitMs;  // 0: none of its own (a script's call: only the dispatch's one send limit)

  static TKDOSendBudget Unlimited() { return {platform::TickMs(), 0}; }
  uint32_t SpentMs() const { return uint32_t(platform::TickMs() - Began); }
  bool Left() const { return LimitMs == 0 || SpentMs() < LimitMs; }
};
