// TKDOWinampAnnouncer: what a control instance remembers of its player's state,
// and the announcements that interrupt the music and then put it back.
//
// WAC_SaveState and WAC_RestoreState keep and restore one state for scripts.
// WAC_Announce saves the state (once, before the first of a row of
// announcements), turns the player's manual advance on so that nothing of the
// next entry is heard, appends the file, jumps to it, sets its volume and plays
// it. The status ticks watch it: when the player has stopped or moved to another
// entry, the entry is removed and the next announcement follows, or, after the
// last, the state and the manual advance are put back.
//
// Another player (a new location, the player gone) ends the announcements at
// once, restoring nothing there. A player that does not answer for more than
// 10 s ends them too: waiting ones are dropped, and once it answers again the
// entry is removed (if it is still there) and the state restored. The instance
// going ends them without a word to the player.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

class TWinAmpControl;

// The player's state as saved: what restoring puts back.
struct TKDOPlayerState {
  int32_t Entry;     // the current entry, from 0
  int32_t TrackMs;   // the position in it
  int32_t PlayState; // 1 playing, 3 paused, 0 stopped
  int32_t Volume;    // 0..255
  bool Shuffle;
  bool Repeat;
};

class TKDOWinampAnnouncer {
 public:
  static constexpr std::size_t kMostWaiting = 16;
  static constexpr uint32_t kGiveUpAfterMs = 10000;

  explicit TKDOWinampAnnouncer(TWinAmpControl& link) : FLink(link) {}
  TKDOWinampAnnouncer(const TKDOWinampAnnouncer&) = delete;
  TKDOWinampAnnouncer& operator=(const TKDOWinampAnnouncer&) = delete;

  // False without an answering player (a state saved before stays).
  bool SaveState();
  // False without a saved state or without an answering player.
  bool RestoreState();
  // False without an answering player, or with 16 announcements waiting.
  bool Announce(std::string_view fileName, int32_t volume);
  // On a status tick: follows the announcement that plays.
  void Tick();
  // An announcement plays, or waits to be put back.
  bool Busy() const { return FPlaying.has_value() || FGaveUp; }

 private:
  struct Announcement {
    std::string File;
    uint8_t Volume;
  };
  std::optional<TKDOPlayerState> Capture();
  void Restore(const TKDOPlayerState& state);
  void PlayNext();
  void Finish();
  void PutBack();
  void Drop();

  TWinAmpControl& FLink;
  std::optional<TKDOPlayerState> FSaved;  // the scripts' own
  // A row of announcements: the state before it, the manual advance before it,
  // the player it plays on, the entry that plays and those that wait.
  std::optional<TKDOPlayerState> FBefore;
  int32_t FManualAdvanceBefore = 0;
  platform::WindowHandle FPlayer = 0;
  std::optional<Announcement> FPlaying;
  int32_t FPlayingEntry = -1;
  std::deque<Announcement> FWaiting;
  bool FGaveUp = false;  // the player did not answer for too long: put back when it does
};
