#include "announce/PlayerState.h"

#include "winamp/WinAmp.h"

void AskPlayerStatePart(TWinAmpControl& link, TKDOPlayerState& s, int part) {
  switch (part) {
    case 0: s.Entry = link.GetPlaylistPosition(); break;
    case 1: s.TrackMs = link.GetTrackPositionMs(); break;
    case 2: s.PlayState = link.GetPlayState(); break;
    case 3: s.Volume = link.AnsweredVolume(); break;
    case 4: s.Shuffle = link.GetShuffle(); break;
    case 5: s.Repeat = link.GetRepeat(); break;
  }
}

std::optional<TKDOPlayerState> CapturePlayerState(TWinAmpControl& link) {
  if (!link.HasAnsweringPlayer()) return std::nullopt;
  TKDOPlayerState s{};
  for (int part = 0; part < kPlayerStateParts; ++part) AskPlayerStatePart(link, s, part);
  if (!link.HasAnsweringPlayer()) return std::nullopt;
  return s;
}
