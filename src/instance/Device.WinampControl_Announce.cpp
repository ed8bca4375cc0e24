#include "instance/Device.WinampControl_Announce.h"

#include <algorithm>

#include "sdk/KDOText.h"
#include "winamp/WinAmp.h"

// Six questions; a player that stops answering halfway leaves nothing saved.
std::optional<TKDOPlayerState> TKDOWinampAnnouncer::Capture() {
  if (!FLink.HasAnsweringPlayer()) return std::nullopt;
  TKDOPlayerState s{};
  s.Entry = FLink.GetPlaylistPosition();
  s.TrackMs = FLink.GetTrackPositionMs();
  s.PlayState = FLink.GetPlayState();
  s.Volume = FLink.QueryVolume();
  s.Shuffle = FLink.GetShuffle();
  s.Repeat = FLink.GetRepeat();
  if (!FLink.HasAnsweringPlayer()) return std::nullopt;
  return s;
}

// In an order that is not heard: the volume first, then the entry; playing,
// the jump follows the start, and a pause follows the jump.
void TKDOWinampAnnouncer::Restore(const TKDOPlayerState& s) {
  FLink.SetVolume(uint8_t(s.Volume));
  s.Shuffle ? FLink.ShuffleOn() : FLink.ShuffleOff();
  s.Repeat ? FLink.RepeatOn() : FLink.RepeatOff();
  FLink.SetPlaylistPosition(s.Entry);
  if (s.PlayState == 1 || s.PlayState == 3) {
    FLink.Play();
    FLink.JumpToTime(std::max(s.TrackMs, 0));
    if (s.PlayState == 3) FLink.Pause();
  } else {
    FLink.Stop();
  }
}

bool TKDOWinampAnnouncer::SaveState() {
  std::optional<TKDOPlayerState> state = Capture();
  if (!state) return false;
  FSaved = state;
  return true;
}

bool TKDOWinampAnnouncer::RestoreState() {
  if (!FSaved || !FLink.HasAnsweringPlayer()) return false;
  Restore(*FSaved);
  return true;
}

bool TKDOWinampAnnouncer::Announce(std::string_view fileName, int32_t volume) {
  if (FGaveUp) Tick();  // a row given up on is put back first, if the player answers again
  if (!FLink.HasAnsweringPlayer() || FGaveUp || FWaiting.size() >= kMostWaiting) return false;
  FWaiting.push_back({std::string(fileName), uint8_t(std::clamp(volume, 0, 255))});
  if (!FPlaying) PlayNext();
  return true;
}

// The next waiting announcement, saving the state before the first of a row.
void TKDOWinampAnnouncer::PlayNext() {
  if (!FBefore) {
    FBefore = Capture();
    if (!FBefore) return Drop();
    FManualAdvanceBefore = FLink.GetManualAdvance();
    FLink.SetManualAdvance(true);
    FPlayer = FLink.PlayerWindow();
  }
  FPlaying = std::move(FWaiting.front());
  FWaiting.pop_front();
  FLink.AddFile(FPlaying->File);
  FPlayingEntry = FLink.GetPlaylistLength() - 1;
  FLink.SetPlaylistPosition(FPlayingEntry);
  FLink.SetVolume(FPlaying->Volume);
  FLink.Play();
}

void TKDOWinampAnnouncer::Tick() {
  if (!FPlaying && !FGaveUp) return;
  if (FLink.PlayerWindow() != FPlayer) return Drop();  // another player, or none: nothing to put back there
  if (!FLink.IsAnswering()) {
    if (!FGaveUp && FLink.SilentForMs() > kGiveUpAfterMs) {
      FGaveUp = true;
      FWaiting.clear();
    }
    return;
  }
  if (FGaveUp) return Finish();
  const int32_t state = FLink.GetPlayState();
  const int32_t entry = FLink.GetPlaylistPosition();
  if (!FLink.IsAnswering()) return;
  if (state == 0 || entry != FPlayingEntry) Finish();
}

// The announcement is over: its entry goes (if it is still the one we added),
// then the next one plays, or everything is put back.
void TKDOWinampAnnouncer::Finish() {
  std::string there;
  FLink.GetPlaylistFile(FPlayingEntry, there);
  if (FPlaying && kdo::text::EqualIgnoringAZCase(there, FPlaying->File)) FLink.DeletePlaylistEntry(FPlayingEntry);
  FPlaying.reset();
  if (!FWaiting.empty() && !FGaveUp) return PlayNext();
  PutBack();
}

void TKDOWinampAnnouncer::PutBack() {
  if (FBefore) Restore(*FBefore);
  FLink.SetManualAdvance(FManualAdvanceBefore > 0);
  Drop();
}

void TKDOWinampAnnouncer::Drop() {
  FBefore.reset();
  FPlaying.reset();
  FPlayingEntry = -1;
  FWaiting.clear();
  FGaveUp = false;
  FPlayer = 0;
}
