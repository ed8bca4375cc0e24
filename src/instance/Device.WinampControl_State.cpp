#include "instance/Device.WinampControl_State.h"

#include <algorithm>

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

void RestorePlayerState(TWinAmpControl& link, const TKDOPlayerState& s) {
  link.SetVolume(uint8_t(s.Volume));
  s.Shuffle ? link.ShuffleOn() : link.ShuffleOff();
  s.Repeat ? link.RepeatOn() : link.RepeatOff();
  link.SetPlaylistPosition(s.Entry);
  if (s.PlayState == 1 || s.PlayState == 3) {
    link.Play();
    link.JumpToTime(std::max(s.TrackMs, 0));
    if (s.PlayState == 3) link.Pause();
  } else {
    link.Stop();
  }
}
