// The player's state as a script saves it and an announcement keeps the
// music's: what is asked to save it, and the order in which it is put back.
#pragma once

#include <cstdint>
#include <optional>

class TWinAmpControl;

struct TKDOPlayerState {
  int32_t Entry;     // the current entry, from 0
  int32_t TrackMs;   // the position in it
  int32_t PlayState; // 1 playing, 3 paused, 0 stopped
  int32_t Volume;    // 0..255
  bool Shuffle;
  bool Repeat;
};

// Six questions; nothing without an answering player, nor when it stops answering halfway.
std::optional<TKDOPlayerState> CapturePlayerState(TWinAmpControl& link);
// In an order that is not heard: the volume first, then the entry; playing,
// the jump follows the start, and a pause follows the jump.
void RestorePlayerState(TWinAmpControl& link, const TKDOPlayerState& state);
