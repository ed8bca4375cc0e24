// TKDOWinampNight: a room's volume ceiling and its sleep timer.
//
// WAC_SetVolumeLimit sets the ceiling, which the link holds every volume it
// gives the player to (a script's, a fade's, an announcement's, the music put
// back). What a person sets above it in the player itself is brought down at
// the next turn, and so is the player's volume when the ceiling is lowered.
//
// WAC_SleepTimer: when its time comes the music fades to nothing (through the
// room's fade, which follows the music's volume while an announcement holds
// it), then stops, and the volume goes back to where the fade started, for the
// morning. A command that moves the music or its volume, a handover, another
// player and the instance's end cancel it; cancelled halfway through its fade,
// the volume goes back too, unless the command set a volume of its own.
#pragma once

#include <cstdint>
#include <optional>

#include "night/Sequences.h"
#include "platform/Platform.h"
#include "work/Pace.h"
#include "work/Work.h"

class TWinAmpControl;
class TKDOWinampAnnouncer;
class TKDOWinampFade;

class TKDOWinampNight {
 public:
  static constexpr int32_t kLongestMinutes = 1440;
  static constexpr int32_t kLongestFadeSeconds = 3600;

  TKDOWinampNight(TWinAmpControl& link, TKDOWinampAnnouncer& announcer, TKDOWinampFade& fade);
  TKDOWinampNight(const TKDOWinampNight&) = delete;
  TKDOWinampNight& operator=(const TKDOWinampNight&) = delete;

  // Held to 0..255 (255: none); it lasts until the instance ends.
  void SetCeiling(int32_t volume);
  // False, and nothing changes, without an answering player or for a value out of range. 0 minutes cancels.
  bool Sleep(int32_t minutes, int32_t fadeSeconds);
  // Cancels the timer; with `giveBack`, a fade of its own under way ends and the volume goes back.
  void Wake(bool giveBack);
  bool Sleeping() const { return FTimer.has_value(); }
  // At its turn, within its budget.
  void Tick(const TKDOSendBudget& budget, bool asks = true);

 private:
  using Step = kdo::night::Step;
  struct Timer {
    platform::WindowHandle Player;
    uint32_t DueAt;
    int32_t FadeSeconds;
    std::optional<int32_t> From;  // the music's volume when the fade began
    bool Fading = false;
  };
  void Look();
  bool Do(Step step);

  TWinAmpControl& FLink;
  TKDOWinampAnnouncer& FAnnouncer;
  TKDOWinampFade& FFade;
  std::optional<Timer> FTimer;
  int32_t FVolume = -1;  // the player's, as the ceiling's look found it
  uint32_t FVolumesGiven = 0;  // the link's count then: a volume given since is the last word
  TKDOWork<Step, 2> FWork;
};
