// TKDOWinampFade: a control instance's volume fade. WAC_FadeVolume starts one;
// the status ticks move the player's volume in even steps, one per tick, from
// where the player was to the target, which it reaches when the time is up.
//
// A later volume command, a new fade, another player (a change of location, a
// player gone) and the instance's end end it. While the player does not
// answer its steps are skipped; the fade still ends on time.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/Platform.h"

class TWinAmpControl;

class TKDOWinampFade {
 public:
  explicit TKDOWinampFade(TWinAmpControl& link) : FLink(link) {}
  TKDOWinampFade(const TKDOWinampFade&) = delete;
  TKDOWinampFade& operator=(const TKDOWinampFade&) = delete;

  static constexpr int32_t kLongestSeconds = 3600;

  // From the player's volume to `volume` (held to 0..255) over `seconds` (held
  // to 0..3600; 0 sets it at once). False without an answering player.
  bool Start(int32_t volume, int32_t seconds);
  void End() { FRunning.reset(); }
  bool Running() const { return FRunning.has_value(); }
  // One step, on a status tick.
  void Tick();

 private:
  struct Ramp {
    platform::WindowHandle Player;
    int32_t From;
    int32_t To;
    uint32_t StartedAt;
    uint32_t DurationMs;
    int32_t Sent;  // the volume last given to the player
  };
  TWinAmpControl& FLink;
  std::optional<Ramp> FRunning;
};
