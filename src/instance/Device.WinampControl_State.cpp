#include "instance/Device.WinampControl_State.h"

#include "winamp/WinAmp.h"

std::optional<TKDOPlayerState> CapturePlayerState(TWinAmpControl& link) {
  if (!link.HasAnsweringPlayer()) return std::nullopt;
  TKDOPlayerState s{};
  s.Entry = link.GetPlaylistPosition();
  s.TrackMs = link.GetTrackPositionMs();
  s.PlayState = link.GetPlayState();
  s.Volume = link.AnsweredVolume();
  s.Shuffle = link.GetShuffle();
  s.Repeat = link.GetRepeat();
  if (!link.HasAnsweringPlayer()) return std::nullopt;
  return s;
}
