// What a player that hangs or answers slowly costs the server's thread: an
// instance with all eleven settings set polls player.exe through the
// thread's message loop while the player (1) hangs for 8 s, (2) answers every
// message after 300 ms, (3) after 1900 ms. For each: the longest single
// dispatch of the loop (beside the send limit) and the share of the wall time
// the loop spent dispatching. Figures, not pass/fail.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "BoundInstance.h"
#include "host/win32/LoopLoad.h"

namespace {

// player.exe's test controls (WM_USER, by lParam).
constexpr LPARAM kHang = 0x7001;
constexpr LPARAM kReplyDelay = 0x7003;

void Print(const char* what, const host::LoopLoad& load) {
  std::printf("  %-28s longest dispatch %5.0f ms (send limit %u ms), share of the thread %5.1f %%", what,
              load.LongestMs, unsigned(platform::kSendTimeoutMs), 100.0 * load.Share);
  if (load.PeriodShare > 0) std::printf(" (%4.1f %% over whole poll periods)", 100.0 * load.PeriodShare);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned slowSeconds = argc > 1 ? unsigned(std::max(10, atoi(argv[1]) * 2)) : 30;
  const uint16_t id = uint16_t(40000 + GetCurrentProcessId() % 10000);
  host::Server server;
  bench::BoundInstance bound(server, id);
  if (!bound.Bound()) return 1;
  bound.Interface().AddFile(TKDOText("C:\\Music\\Some Artist - A Rather Ordinary Song Title.mp3").get());
  host::RunLoopTimed(1000);

  std::printf("the server's thread under a misbehaving player (all eleven settings set):\n");
  Print("normal player, 5 s:", host::RunLoopTimed(5000));
  PostMessageA(bound.Window(), WM_USER, 8000, kHang);
  Print("player hung for 8 s, 10 s:", host::RunLoopTimed(10000));
  DWORD_PTR reply = 0;
  for (unsigned delay : {300u, 1900u}) {
    SendMessageTimeoutA(bound.Window(), WM_USER, delay, kReplyDelay, SMTO_NORMAL, 5000, &reply);
    char what[64];
    std::snprintf(what, sizeof what, "answers after %u ms, %u s:", delay, slowSeconds);
    Print(what, host::RunLoopTimed(slowSeconds * 1000));
  }
  SendMessageTimeoutA(bound.Window(), WM_USER, 0, kReplyDelay, SMTO_NORMAL, 5000, &reply);
  return 0;
}
