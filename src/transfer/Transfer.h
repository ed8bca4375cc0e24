// TKDOWinampTransfer: the music of this instance's room handed to another
// room (WAC_TransferTo): first the current entry, the position and the play
// state, so that the music moves at once whatever the playlist's size; then the
// entries after it and before it, in order, shuffle and repeat; the target
// keeps its own volume. The source plays on until the target holds it all,
// and then stops (unless both are to play on): a transfer that ends halfway
// never leaves the source silent.
//
// Who owns the players: the transfer moves both rooms on (an announcement in
// either ends, and the source's music, not its announcement, is handed over),
// and from then on it alone changes them, until a command to either room, a
// player that does not answer for 10 s or goes, another player (a new
// location) or either instance's end takes them back: the transfer then ends
// where it is, the source left playing as it was (its music put back if an
// announcement had held it), the target as far as it got: untouched until the
// source's music is known, then playing that from its first moments. A room still
// being filled by a transfer hands nothing on (the call answers false): its
// playlist is not whole yet.
//
// The work is single sends in sequences named once (Sequences.h), on the
// engine of work over ticks as an announcement's: at its turns, within a
// quarter of each tick's period; a slow player is asked without waiting and
// the work goes on with its answer; a send given up may
// have been carried out, so an entry's put is confirmed by the target's count
// before it is made again. The target is moved to the source's time last, the
// time the source's music has played since it was read, and the time the
// target took to start, added. A line on the debug output names the two rooms
// when a transfer starts and when it ends, or why it gave up.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "announce/PlayerState.h"
#include "platform/Platform.h"
#include "transfer/Sequences.h"
#include "work/Pace.h"
#include "work/Work.h"

class TWinAmpControl;
class TKDOWinampAnnouncer;
struct TKDOWinampRoom;

class TKDOWinampTransfer {
 public:
  using DebugLine = std::function<void(std::string_view)>;
  // A player that lets this many messages be given up while one step waits does not answer within the limit.
  static constexpr uint32_t kMostMisses = 3;

  TKDOWinampTransfer(uint16_t room, TWinAmpControl& link, TKDOWinampAnnouncer& announcer, DebugLine debug);
  TKDOWinampTransfer(const TKDOWinampTransfer&) = delete;
  TKDOWinampTransfer& operator=(const TKDOWinampTransfer&) = delete;

  // Accepted (true) when room `target` is another room of the module, both
  // have an answering player and this room is not being filled by a transfer;
  // nothing is sent otherwise. Ends any transfer either room takes part in,
  // and the announcements in both.
  bool Start(int32_t target, bool keepPlaying);
  // At this room's turn: the next steps of this room's transfer, and of the one filling this room,
  // within the turn's budget. Not `pacer`: an answer's own dispatch.
  void Tick(const TKDOSendBudget& budget, bool asks = true, bool pacer = true);
  // Ends a transfer under way, its line saying why; with `send`, the source's
  // music is put back if the transfer had stopped it.
  void GiveUp(std::string_view why, bool send = true);
  // Room `room` is taken back (a command to it, or its end): a transfer it takes part in ends.
  void TakenBack(uint16_t room, std::string_view why);
  // The next send of this room's transfer, or the one filling it, puts the music itself over (not
  // the entries around it): it goes first.
  bool Urgent() const;
  // A transfer under way from or to that room.
  bool Involves(uint16_t room) const { return FRun && (room == FRoom || room == FRun->Target); }
  // While it lives, this room's slow player is asked without waiting: the question is the room's
  // own, so that it goes with the player's link, and its answer goes on with this room's transfer and the one filling it.
  TWinAmpChannel::Deferring Deferred(bool asks) { return FWork.Deferred(FLink, asks); }
  // This room is the target of a transfer under way from room `from`, until that one ends.
  void Filling(uint16_t from) { FFilledBy = from; }
  void Filled(uint16_t from) {
    if (FFilledBy == from) FFilledBy.reset();
  }

 private:
  using Step = kdo::transfer::Step;
  using Sequence = kdo::transfer::Sequence;
  // Value-initialized: all zero. No member initializers, so that the optional below can make it
  // while this class is still incomplete.
  struct Run {
    uint16_t Target;
    bool KeepPlaying;
    platform::WindowHandle Source, TargetPlayer;  // the players it began with
    std::optional<TKDOPlayerState> Music;         // the source's music, held by an announcement it ended
    std::array<uint32_t, 2> GiveUpsAtStep;  // the source's and the target's give-ups as the last step was done
    bool Look;            // its send was given up and may have been carried out: looked at first
    int32_t Length;
    int32_t Entry;  // the source's entry that the target plays
    int32_t Next;   // the next entry to go over, after that one and then before it
    platform::WindowHandle Playlist;  // the target's, through which entries go before what plays
    bool Shuffle, Repeat;
    std::string File;  // the entry read, to be put
    bool Read;
    int32_t State;     // handed over: 1 playing, 3 paused, 0 stopped
    int32_t Position;  // the source's time, in ms
    uint32_t ReadAt;   // when it was read
    uint32_t Startup;  // how long the target took to start playing
    std::optional<int32_t> JumpTo;  // the time the target is moved to, made again as it was asked
    std::optional<std::string> Ending;  // the line's end ("done", or why it gave up), said once the sends are over
    int32_t TargetState;  // the target's play state before the moment
    bool Stopped, Cleared, Got, Started;  // what the moment has done to the target so far
  };

  // The next steps of this room's transfer.
  // `atTarget` false: on the source's own tick, where a slow target is not asked.
  void Turn(const TKDOSendBudget& budget, bool asks, bool atTarget);
  void Work(TKDOWinampRoom& target, const TKDOSendBudget& budget, bool asks, bool atTarget);
  // One step: false while it is to be made again, or the transfer ends.
  bool Do(Step step, TKDOWinampRoom& target);
  // Done, with the sequence to go on with.
  bool Then(Sequence sequence);
  // The step sends to the target's player (else to the source's).
  bool ToTarget(Step step) const;
  // A step done: the players' give-ups are counted from here.
  void Stepped();
  // Ends the transfer once the step's sends are over (`why` empty: done).
  bool End(std::string why);
  // The send a step made was answered. One given up that `mayHaveLanded` is looked at before it is made again.
  bool Made(TWinAmpControl& link, bool mayHaveLanded);
  // The target's count of entries is `expected` plus one (the put landed), or `expected` (made again).
  bool Landed(TWinAmpControl& to, int32_t expected, bool& landed);
  // One entry of the source's over to the target, where it belongs (two steps: read, put).
  void Carry(TKDOWinampRoom& target, bool before);
  // The music's time on the target, or on the source put back: played, jumped there, paused.
  bool Jump(TWinAmpControl& link, int32_t ms);
  bool PauseUnlessPaused(TWinAmpControl& link);
  // Both players there and answering, or waiting; false when the transfer cannot go on now.
  bool Ready(TKDOWinampRoom& target, Step next);
  void PutBackMusic();
  // A target that played, stopped by the moment and not started again, plays: the entry it got, or its own.
  void PutBackTarget();
  void Finish(std::string_view line);
  std::string Rooms() const;

  uint16_t FRoom;
  TWinAmpControl& FLink;
  TKDOWinampAnnouncer& FAnnouncer;
  DebugLine FDebug;
  std::optional<Run> FRun;
  std::optional<uint16_t> FFilledBy;  // the room whose transfer fills this one
  TKDOWork<Step> FWork;               // cancelled with the transfer, before the link goes
};
