// How the work on a player shares the server's thread: the times it is all
// judged by, in one place, and the budget a turn may send for.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "winamp/WinAmpChannel.h"

namespace kdo::pace {
// The pacer's tick: four a second.
inline constexpr uint32_t kTickMs = 250;
// Sending time one tick's work may take, all of it together; an answer as long makes a slow player.
inline constexpr uint32_t kTickBudgetMs = 250;
static_assert(kTickBudgetMs == TWinAmpChannel::kSlowMs);
// After a tick that sent for T ms the next waits kRestFactor * T: a slow player gets a quarter of the thread.
inline constexpr uint32_t kRestFactor = 3;
// A transfer's share of a tick at most: the house goes on meanwhile.
inline constexpr uint32_t kSliceMs = 60;
// What work may send in an answer's own dispatch.
inline constexpr uint32_t kResumeBudgetMs = 250;
// A player silent for longer loses what waits for it: waiting announcements and commands, a transfer.
inline constexpr uint32_t kGiveUpAfterMs = 10000;
}  // namespace kdo::pace

// How long one turn may keep the server's thread in sends to the player: work
// starts a send only while its budget is left, and goes on where it stopped at
// its next turn, so that a turn holds the thread at most for the budget and one send.
struct TKDOSendBudget {
  uint32_t Began;
  uint32_t LimitMs;  // 0: none of its own (a script's call: only the dispatch's one send limit)

  static TKDOSendBudget Unlimited() { return {platform::TickMs(), 0}; }
  static TKDOSendBudget Of(uint32_t ms) { return {platform::TickMs(), ms}; }
  uint32_t SpentMs() const { return uint32_t(platform::TickMs() - Began); }
  uint32_t LeftMs() const { return LimitMs == 0 ? UINT32_MAX : Left() ? LimitMs - SpentMs() : 0; }
  bool Left() const { return LimitMs == 0 || SpentMs() < LimitMs; }
};
