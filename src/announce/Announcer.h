// TKDOWinampAnnouncer: what a control instance remembers of its player's state,
// and the announcements that interrupt the music and then put it back.
//
// WAC_SaveState and WAC_RestoreState keep and restore one state for scripts.
// WAC_Announce saves the music's state (once, before the first of a row of
// announcements), appends the file and, once the player has added it, turns
// the player's manual advance on (so that nothing of the next entry is heard),
// jumps to it, sets its volume and plays it. The status ticks watch it: when it
// has ended, its entry is removed and the next announcement follows, or, after
// the last, the music is put back: the manual advance first, the volume,
// shuffle, repeat, the entry, the play state and the time.
//
// Who owns the player while a row plays: the announcer holds the music's
// state, and the user's word changes that state rather than being undone by
// it. A volume, shuffle or repeat command applies at once and is what the
// music comes back with; a fade runs along the music's volume; a saved state
// is the music's. A transport or position command, or a skip in the player,
// means the room has moved on (MoveOn): the waiting announcements are dropped,
// the announcement is stopped and its entry removed, the player is back on the
// music's entry (so that Next and Prev go on from the music), the volume and
// manual advance are the user's again, and nothing else is put back.
//
// It follows its own entry and the music's when entries before them go or
// come: the instance's own removals and insertions it is told of; others it
// finds again by file name, as the player reports names. It removes only an
// entry that holds its file.
//
// All work on the player is a queue of single sends on the engine of work over
// ticks (TKDOWork): a turn runs them within its budget and goes on at the
// next, and a send the player lets be given up is sent again once it answers,
// so a hang halfway leaves nothing half done.
// Another player (a new location, the player gone) ends everything at once,
// with nothing put back there. A player that does not answer for more than
// 10 s drops the waiting announcements; once it answers again the entry is
// removed and the music put back. The instance going ends everything without
// a word to the player.
//
// The sends go in sequences named once, in Sequences.h. The operations
// (Announcer.cpp) only queue them and run the queue; the steps' file
// (Steps.cpp) does each send, and calls nothing back.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "announce/PlayerState.h"
#include "announce/Sequences.h"
#include "announce/StartTogether.h"
#include "platform/Platform.h"
#include "winamp/WinAmp.h"
#include "work/Pace.h"
#include "work/Work.h"

class TKDOWinampAnnouncer {
 public:
  static constexpr std::size_t kMostWaiting = 16;
  // Entries looked at, at most, to find a moved entry again by its name.
  static constexpr int32_t kLongestSearch = 1024;

  explicit TKDOWinampAnnouncer(TWinAmpControl& link) : FLink(link), FWork([this] { Resume(); }) {}
  TKDOWinampAnnouncer(const TKDOWinampAnnouncer&) = delete;
  TKDOWinampAnnouncer& operator=(const TKDOWinampAnnouncer&) = delete;

  // The music's state while a row is on; otherwise the player's. False without
  // an answering player (a state saved before stays).
  bool SaveState();
  // False without a saved state, without an answering player, or while an
  // announcement's row still gives the player back. The rest of what one
  // send limit leaves undone goes on in the ticks.
  bool RestoreState();
  // False for an empty or blank name, without an answering player, with 16
  // waiting, or when the player did not add the file (as far as the call's
  // one send limit could tell: with a slow player the row goes on in ticks,
  // and the call answers true). The volume is held to 0..255. With a slow
  // player, one that comes while a row plays joins it at once; the row is
  // followed in the ticks. With `together`, a row it starts waits at its
  // volume and play for the other rooms' (one that joins a row does not);
  // the new row's sends in the call stop at `budget`, and go on in the ticks.
  bool Announce(std::string_view fileName, int32_t volume, std::shared_ptr<TKDOStartTogether> together = nullptr,
                const TKDOSendBudget& budget = TKDOSendBudget::Unlimited());
  // The row goes on now: its start, once every room of its group has come that far.
  void Go();
  // At its turn: follows the announcement within the turn's budget. A slow
  // player is asked without waiting, one step a turn, the work taking each
  // answer as it comes.
  void Tick(const TKDOSendBudget& budget);
  // The room has moved on: ends the row, giving the player back to the user.
  void MoveOn();
  // Work is still owed to the player (a row, or words waiting for it to end):
  // a command of the user's then waits its turn (After) rather than going first.
  bool Owes() const { return FMusic.has_value() || !FWords.empty(); }
  // The user's words wait their turn.
  bool Waits() const { return !FWords.empty(); }
  // Sent once the work owed before it is done, in the order given; once only:
  // one given up is not sent again (the player may still carry it out).
  // Dropped when the player does not answer for more than 10 s.
  void After(TWinAmpWord word);
  // An entry put before `index` (-1: right after the current entry; past the end, last), and with
  // `plays` made current and played, in its turn among the commands: one send a turn, a slow player
  // asked without waiting. Not put when `index` lies past the end, or the player gives no playlist window.
  void InsertAfter(std::string_view file, int32_t index, bool plays);
  // Its next send acts for the user (not merely watching an announcement play): it goes first.
  bool Urgent() const;

  // The user's word on the music while a row is on. The volume: true when the
  // music will come back at it (the player is then left alone).
  std::optional<int32_t> MusicVolume() const;
  bool TakeMusicVolume(int32_t volume);
  void TakeMusicShuffle(bool on);
  void TakeMusicRepeat(bool on);
  // The entry at `index` (from 0) was removed through this instance.
  void EntryRemoved(int32_t index);
  // An entry was inserted before `index` (from 0) through this instance.
  void EntryInserted(int32_t index);
  // While a row is on, the music's entry (from 0): where the put-back returns
  // to. Follows the row first, as it is now.
  std::optional<int32_t> MusicEntry();
  // While a row is on, the music's state as it comes back (its entry as MusicEntry gives it).
  std::optional<TKDOPlayerState> MusicState();

 private:
  using Step = kdo::announce::Step;
  using Sequence = kdo::announce::Sequence;
  struct Announcement {
    std::string File;  // as the player reports names: without blanks around it
    uint8_t Volume;
    uint32_t TakenAt;
    std::shared_ptr<TKDOStartTogether> Together = nullptr;  // the rooms it starts with
    bool Arrived = false;                                   // this room has come as far as its start
  };
  struct Music {
    TKDOPlayerState State;
    std::string File;  // the music's entry, to find it again
    int32_t ManualAdvance;
    platform::WindowHandle Player;
    bool Touched = false;             // the manual advance was turned on: it is owed back
    bool ManualAdvanceGiven = false;  // given back
    bool VolumeGiven = false;         // the music's volume given back: from here on the player has it
    bool Kept = false;                // all of the above asked: until then the player has the music
  };
  // A row is on, on the player the link holds now (another player has nothing
  // of it), and its music is kept: until then the player's state is the music's.
  bool OnPlayer() const;
  bool Held() const;
  void FollowNow();
  // The engine, in the steps' file: it calls nothing of the operations above.
  void Run(const TKDOSendBudget& budget);
  // Goes on with the work once an answer asked without waiting has come.
  void Resume();
  // While it lives, a slow player is asked without waiting, and the work resumes with each answer.
  TWinAmpChannel::Deferring Deferred() { return FWork.Deferred(FLink); }
  // The sequence's steps put first, ahead of the work owed. DoFirstOwed leaves out a give-back not
  // owed: the manual advance never turned on, or either given back already.
  void DoFirst(Sequence sequence);
  void DoFirstOwed(Sequence sequence);
  bool Owed(Step step) const;
  // The announcement may start: alone, or with its group.
  bool Starts();
  bool Do(Step step);
  bool Added(int32_t at);
  void Judge();
  bool Find(bool announcement);
  void Next();
  void PutBack();
  void Drop();

  TWinAmpControl& FLink;
  std::optional<TKDOPlayerState> FSaved;  // the scripts' own
  std::optional<Music> FMusic;            // a row is on
  std::optional<Announcement> FPlaying;   // added, or being added
  std::deque<Announcement> FWaiting;
  TKDOWork<Step> FWork;                   // sends owed to the player, in order
  bool FRunning = false;                  // in Run: a group's start lets the others go from inside it
  int32_t FAnnouncementEntry = -1;               // where FPlaying's entry is; -1 while none
  int32_t FLength = 0;                    // the playlist's length as last known
  // Answers that steps leave to the steps after them.
  int32_t FSeenState = 0, FSeenPosition = 0, FSeenLength = 0, FLengthBefore = 0;
  // When the position was last answered, and when the announcement was last known to play on its entry:
  // a skip came after that.
  uint32_t FSeenPositionAt = 0, FSeenPlayingAt = 0;
  platform::WindowHandle FPlaylistWindow = 0;
  bool FSeenAnnouncement = false;    // the watch found it where it was
  bool FAnnouncementThere = false;   // checked right before its removal
  bool FLookedAgain = false;  // looked for once more after a check that missed it
  bool FAddGivenUp = false;   // the add was given up: it may or may not have been carried out
  // The search under way for a moved entry: the likeliest places, then the looks made so far.
  struct Search {  // made value-initialized: all zero
    int32_t Candidates[4];
    uint8_t Count;
    int32_t Looks;
  };
  std::optional<Search> FSearch;
  bool FGaveUp = false;  // silent too long: the waiting are dropped, the rest put back when it answers
  bool FEnding = false;  // the row takes no more announcements: it gives the player back
  // The user's word waiting its turn: a command, or an entry to put (`Inserts` not empty).
  struct Word {
    TWinAmpWord Command;  // an insertion's index in its value (-1 until the current entry is known)
    std::string Inserts;
    bool AfterCurrent = false;  // past the end it goes last, where an index past the end is refused
    bool Plays = false;
  };
  // One send of the word at the head: Again (asked instead: made again), On (more to send), Done.
  enum class Said : uint8_t { Again, On, Done };
  Said Say(Word& word);
  std::deque<Word> FWords;                  // the user's words waiting for the row's work
  platform::WindowHandle FWordsPlayer = 0;  // the player they are for
  int32_t FWordLength = -1;                 // an insertion's: the playlist's length, once asked
  platform::WindowHandle FWordPlaylist = 0; // and the playlist window
};
