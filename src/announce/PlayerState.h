// The player's state as a script saves it and an announcement keeps the
// music's, and what is asked to save it.
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

// Six questions, one a part, in this order: the entry, the time, the play state, the volume,
// shuffle, repeat. The announcer asks them one step each; a script's save all at once.
inline constexpr int kPlayerStateParts = 6;
void AskPlayerStatePart(TWinAmpControl& link, TKDOPlayerState& state, int part);
// All six; nothing without an answering player, nor when it stops answering halfway.
// (It is put back by the announcer's steps, in an order that is not heard.)
std::optional<TKDOPlayerState> CapturePlayerState(TWinAmpControl& link);
