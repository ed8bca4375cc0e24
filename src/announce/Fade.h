// TKDOWinampFade: a control instance's volume fade. WAC_FadeVolume starts one;
// the status ticks move the music's volume in even steps, one per tick, from
// where the music was to the target, which it reaches when the time is up.
// While an announcement interrupts the music, the steps go to the music's
// volume that the announcer puts back, not to the announcement's.
//
// A later volume command, a new fade, a restored state, another player (a
// change of location, a player gone) and the instance's end end it. While the
// player does not answer its steps wait; a fade ends only once its target has
// reached the player (or the music that is put back). A slow player is asked
// without waiting, and the step goes on with the answer.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/Platform.h"
#include "work/Pace.h"
#include "work/Work.h"

class TWinAmpControl;
class TKDOWinampAnnouncer;

class TKDOWinampFade {
 public:
  TKDOWinampFade(TWinAmpControl& link, TKDOWinampAnnouncer& announcer)
      : FLink(link), FAnnouncer(announcer), FAsker([this] { Tick(TKDOSendBudget::Of(kdo::pace::kResumeBudgetMs), false); }) {}
  TKDOWinampFade(const TKDOWinampFade&) = delete;
  TKDOWinampFade& operator=(const TKDOWinampFade&) = delete;

  static constexpr int32_t kLongestSeconds = 3600;

  // From the music's volume (or `from`) to `volume` (held to 0..255) over
  // `seconds` (held to 0..3600; 0 sets it at once). False without an answering
  // player, and a running fade then goes on.
  bool Start(int32_t volume, int32_t seconds, std::optional<int32_t> from = std::nullopt);
  void End() { FRunning.reset(); }
  bool Running() const { return FRunning.has_value(); }
  // One step, at its turn, within its budget.
  void Tick(const TKDOSendBudget& budget, bool asks = true);

 private:
  struct Ramp {
    platform::WindowHandle Player;
    int32_t From;
    int32_t To;
    uint32_t StartedAt;
    uint32_t DurationMs;
    int32_t Sent;  // the volume last given to the music
  };
  // To the music: the announcer's while it holds it, else the player's. True once it got there.
  bool Give(int32_t volume);

  TWinAmpControl& FLink;
  TKDOWinampAnnouncer& FAnnouncer;
  std::optional<Ramp> FRunning;
  TKDOAsker FAsker;  // cancelled with the fade
};
