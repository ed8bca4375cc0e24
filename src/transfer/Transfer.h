// TKDOWinampTransfer: the music of this instance's room handed to another
// room (WAC_TransferTo): at one moment the current entry, the position and the
// play state, so that the music moves at once whatever the playlist's size;
// then the entries before it and after it, in order, shuffle and repeat; the
// target keeps its own volume. The source plays on until the target holds it
// all, and then stops (unless both are to play on): a transfer that ends
// halfway never leaves the source silent.
//
// Who owns the players: the transfer moves both rooms on (an announcement in
// either ends, and the source's music, not its announcement, is handed over),
// and from then on it alone changes them, until a command to either room, a
// player that does not answer or goes, another player (a new location) or
// either instance's end takes them back: the transfer then ends where it is,
// the source left playing as it was (its music put back if an announcement
// had held it), the target as far as it got.
//
// The work is single sends on the status ticks, within their budget and a
// quarter of each tick's period, like an announcement's; only the moment itself (the source's position read, the
// target started there) is made in one go, so that nothing comes between.
// A line on the debug output names the two rooms when a transfer starts and
// when it ends, or why it gave up.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "winamp/SendBudget.h"
#include "announce/PlayerState.h"
#include "platform/Platform.h"

class TWinAmpControl;
class TKDOWinampAnnouncer;
struct TKDOWinampRoom;

class TKDOWinampTransfer {
 public:
  using DebugLine = std::function<void(std::string_view)>;
  // The sending time a tick gives a transfer at most: a quarter of the tick's period.
  static constexpr uint32_t kSliceMs = 60;

  TKDOWinampTransfer(uint16_t room, TWinAmpControl& link, TKDOWinampAnnouncer& announcer, DebugLine debug);
  TKDOWinampTransfer(const TKDOWinampTransfer&) = delete;
  TKDOWinampTransfer& operator=(const TKDOWinampTransfer&) = delete;

  // Accepted (true) when room `target` is another room of the module and both
  // have an answering player; nothing is sent otherwise. Ends any transfer
  // either room takes part in, and the announcements in both.
  bool Start(int32_t target, bool keepPlaying);
  // On a status tick: the next steps, within the tick's budget.
  void Tick(const TKDOSendBudget& budget);
  // Ends a transfer under way, its line saying why; with `send`, the source's
  // music is put back if the transfer had stopped it.
  void GiveUp(std::string_view why, bool send = true);
  // Room `room` is taken back (a command to it, or its end): a transfer it takes part in ends.
  void TakenBack(uint16_t room, std::string_view why);
  // A transfer under way from or to that room.
  bool Involves(uint16_t room) const { return FRun && (room == FRoom || room == FRun->Target); }

 private:
  enum class Phase : uint8_t {
    Length, Shuffle, Repeat, StopTarget, ClearTarget, Moment, TargetPlays, PlaylistWindow, Before, After,
    ShuffleTarget, RepeatTarget, Unchanged, Source, Done
  };
  // Value-initialized: all zero, at its first phase. No member initializers, so that the optional
  // below can make it while this class is still incomplete.
  struct Run {
    uint16_t Target;
    bool KeepPlaying;
    platform::WindowHandle Source, TargetPlayer;  // the players it began with
    std::optional<TKDOPlayerState> Music;         // the source's music, held by an announcement it ended
    Phase At;
    int32_t Length;
    int32_t Entry;  // the source's entry that the target plays
    int32_t Next;   // the next entry to go over, before that one and then after it
    platform::WindowHandle Playlist;  // the target's, through which entries go before what plays
    bool Shuffle, Repeat;
    std::string File;  // the entry read, to be put
    bool Read;
    int32_t State;  // handed over: 1 playing, 3 paused, 0 stopped
  };
  static_assert(Phase{} == Phase::Length);

  // One step: false when the transfer waits or ended.
  bool Step(TKDOWinampRoom& target);
  bool Moment(TKDOWinampRoom& target);
  // One entry of the source's over to the target, where it belongs (two steps: read, put).
  bool Carry(TKDOWinampRoom& target, bool before);
  bool Answered(TWinAmpControl& link, uint16_t room);
  void PutBackMusic();
  std::string Rooms() const;

  uint16_t FRoom;
  TWinAmpControl& FLink;
  TKDOWinampAnnouncer& FAnnouncer;
  DebugLine FDebug;
  std::optional<Run> FRun;
};
