#include "transfer/Transfer.h"

#include <algorithm>

#include "announce/Announcer.h"
#include "night/Night.h"
#include "transfer/Rooms.h"
#include "winamp/WinAmp.h"

namespace {
std::string Changed(uint16_t room) { return "the playlist of room " + std::to_string(room) + " changed"; }
}  // namespace

TKDOWinampTransfer::TKDOWinampTransfer(uint16_t room, TWinAmpControl& link, TKDOWinampAnnouncer& announcer,
                                       DebugLine debug)
    : FRoom(room), FLink(link), FAnnouncer(announcer), FDebug(std::move(debug)), FWork([room] {
        // An answer's own dispatch: wherever the rooms are by then.
        if (TKDOWinampRoom* self = kdo::rooms::Find(room))
          self->Transfer.Tick(TKDOSendBudget::Unlimited(), self->Transfer.Urgent(), false);
      }) {}

std::string TKDOWinampTransfer::Rooms() const {
  return std::to_string(FRoom) + " to " + (FRun ? std::to_string(FRun->Target) : std::string("?"));
}

bool TKDOWinampTransfer::Start(int32_t target, bool keepPlaying) {
  const std::string rooms = std::to_string(FRoom) + " to " + std::to_string(target);
  TKDOWinampRoom* to = target >= 0 && target <= 0xFFFF && target != FRoom ? kdo::rooms::Find(uint16_t(target)) : nullptr;
  const char* refused = target == FRoom ? "the same room"
                        : !to           ? "no such other room"
                        // Its playlist is not whole yet: handed on now, entries would be lost.
                        : FFilledBy ? "its own transfer has not finished"
                        : !FLink.HasAnsweringPlayer() || !to->Link.HasAnsweringPlayer() ? "a player does not answer"
                                                                                        : nullptr;
  if (refused) {
    FDebug(rooms + ": refused: " + refused);
    return false;
  }
  const uint16_t id = uint16_t(target);
  kdo::rooms::TakeBack(FRoom, "another transfer");
  kdo::rooms::TakeBack(id, "another transfer");
  // The line's server code may have ended the target: look again.
  to = kdo::rooms::Find(id);
  if (!to) return false;
  // Both rooms move on; the source's music, not its announcement, is what goes over.
  std::optional<TKDOPlayerState> music = FAnnouncer.MusicState();
  FAnnouncer.MoveOn();
  to->Announcer.MoveOn();
  // Neither room's music is what a sleep timer was set for: the volume its fade took comes back.
  if (TKDOWinampRoom* self = kdo::rooms::Find(FRoom)) self->Night.Wake(true);
  to->Night.Wake(true);
  FRun.emplace();
  FWork.Clear();
  FWork.DoFirst(kdo::transfer::StepsOf(Sequence::Start));
  FRun->Target = id;
  FRun->KeepPlaying = keepPlaying;
  FRun->Source = FLink.PlayerWindow();
  Stepped();
  FRun->TargetPlayer = to->Link.PlayerWindow();
  FRun->Music = music;
  to->Transfer.Filling(FRoom);
  FDebug(rooms + ": started");
  return true;
}

void TKDOWinampTransfer::Tick(const TKDOSendBudget& budget, bool asks, bool pacer) {
  Turn(budget, asks, !pacer);
  // The transfer filling this room has a turn on this room's ticks too: its player is free now,
  // before this room's mirror asks it again; on the source's ticks alone, the mirror's questions
  // could keep it waiting for ever.
  if (!FFilledBy) return;
  if (TKDOWinampRoom* source = kdo::rooms::Find(*FFilledBy)) source->Transfer.Turn(budget, asks, true);
}

bool TKDOWinampTransfer::Urgent() const {
  if (FRun && !FWork.Idle()) return FWork.Next() != Step::After && FWork.Next() != Step::Before;
  const TKDOWinampRoom* source = FFilledBy ? kdo::rooms::Find(*FFilledBy) : nullptr;
  return source && source->Transfer.FRun && source->Transfer.Urgent();
}

void TKDOWinampTransfer::Turn(const TKDOSendBudget& budget, bool asks, bool atTarget) {
  if (!FRun) return;
  TKDOWinampRoom* target = kdo::rooms::Find(FRun->Target);
  if (!target) return GiveUp("room " + std::to_string(FRun->Target) + " is gone");
  Work(*target, budget, asks, atTarget);
}

// Within the turn's budget, and of each tick's time at most a quarter: the house goes on meanwhile. A
// slow player is asked without waiting, and the work goes on with its answer, wherever the rooms are by then.
void TKDOWinampTransfer::Work(TKDOWinampRoom& target, const TKDOSendBudget& budget, bool asks, bool atTarget) {
  const TKDOSendBudget slice = TKDOSendBudget::Of(kdo::pace::kSliceMs);
  {
    const auto source = Deferred(asks);
    const auto there = target.Transfer.Deferred(asks);
    FWork.Run(
        [&](Step next) {
          // A slow target is asked on its own room's ticks, and in its answers': there its mirror has turns too.
          if (!atTarget && target.Link.IsSlow() && ToTarget(next)) return false;
          return FRun && !FRun->Ending && Ready(target, next) && budget.Left() && slice.Left();
        },
        [&](Step step) {
          if (!Do(step, target)) return false;
          FRun->Look = false;
          Stepped();
          return true;
        });
  }
  // Said once the sends are over: the line's server code may end rooms.
  if (FRun && FRun->Ending) {
    const std::string why = *FRun->Ending;
    why.empty() ? Finish("done") : GiveUp(why);
  }
}

// Both players still the ones it began with, and either answering or within their time: a slow
// answer, a question of another's still out or a dispatch's time spent are waited for. A player
// silent for 10 s ends it, and so does one that lets three sends be given up while one step waits.
bool TKDOWinampTransfer::Ready(TKDOWinampRoom& target, Step next) {
  Run& run = *FRun;
  const struct {
    TWinAmpControl& Link;
    uint16_t Room;
    platform::WindowHandle Player;
  } rooms[] = {{FLink, FRoom, run.Source}, {target.Link, run.Target, run.TargetPlayer}};
  for (const auto& room : rooms) {
    if (room.Link.PlayerWindow() != room.Player) return End("another player in room " + std::to_string(room.Room));
    const bool missing = room.Link.GiveUps() - run.GiveUpsAtStep[&room.Link == &FLink ? 0 : 1] >= kMostMisses;
    if ((room.Link.IsHung() && room.Link.SilentForMs() > kdo::pace::kGiveUpAfterMs) || missing)
      return End("the player of room " + std::to_string(room.Room) + " does not answer");
  }
  // The player the next step asks must be free: a send would wait behind a question.
  TWinAmpControl& asked = ToTarget(next) ? target.Link : FLink;
  if (!asked.IsAnswering() || asked.QuestionOutstanding()) return false;
  // An announcement's end goes first.
  return !FAnnouncer.Owes() && !target.Announcer.Owes();
}

bool TKDOWinampTransfer::ToTarget(Step step) const {
  using enum kdo::transfer::Step;  // (an alias in a using-enum is more than older compilers take)
  if (step == Before || step == After) return FRun->Read;  // read from the source, put to the target
  static constexpr Step kAtSource[] = {Length, Shuffle, Repeat, Entry, File, State, Time, Recheck, Unchanged,
                                       Source, SourcePlay, SourceJump, SourcePause, Done};
  return std::ranges::find(kAtSource, step) == std::end(kAtSource);
}

bool TKDOWinampTransfer::Then(Sequence sequence) {
  FWork.DoFirst(kdo::transfer::StepsOf(sequence));
  return true;
}

void TKDOWinampTransfer::Stepped() {
  FRun->GiveUpsAtStep[0] = FLink.GiveUps();
  if (TKDOWinampRoom* target = kdo::rooms::Find(FRun->Target)) FRun->GiveUpsAtStep[1] = target->Link.GiveUps();
}

bool TKDOWinampTransfer::End(std::string why) {
  FRun->Ending = std::move(why);
  return false;
}

bool TKDOWinampTransfer::Made(TWinAmpControl& link, bool mayHaveLanded) {
  if (link.IsAnswering()) return true;
  // Asked without waiting, it is made again to take its answer; given up, it may have been carried out.
  if (mayHaveLanded && !link.AskedInstead()) FRun->Look = true;
  return false;
}

bool TKDOWinampTransfer::Landed(TWinAmpControl& to, int32_t expected, bool& landed) {
  const int32_t length = to.GetPlaylistLength();
  if (!Made(to, false)) return false;
  if (length != expected && length != expected + 1)
    return End(Changed(FRun->Target));
  FRun->Look = false;
  landed = length == expected + 1;
  return true;
}

bool TKDOWinampTransfer::Do(Step step, TKDOWinampRoom& target) {
  Run& run = *FRun;
  TWinAmpControl& to = target.Link;
  switch (step) {
    case Step::Length:
      run.Length = FLink.GetPlaylistLength();
      return Made(FLink, false);
    case Step::Shuffle:
      run.Shuffle = FLink.GetShuffle();
      return Made(FLink, false);
    case Step::Repeat:
      run.Repeat = FLink.GetRepeat();
      return Made(FLink, false);
    case Step::Entry:
      run.Entry = FLink.GetPlaylistPosition();
      if (!Made(FLink, false)) return false;
      if (run.Length == 0) return Then(Sequence::Empty);  // nothing plays: an empty playlist goes over
      if (run.Entry < 0 || run.Entry >= run.Length) return End(Changed(FRoom));
      return Then(Sequence::Moment);
    case Step::File:
      FLink.GetPlaylistFileInRange(run.Entry, run.File);
      if (!Made(FLink, false)) return false;
      return run.File.empty() ? End(Changed(FRoom)) : true;
    case Step::State:
      run.State = run.Music ? run.Music->PlayState : FLink.GetPlayState();
      return Made(FLink, false);
    case Step::TargetState:
      run.TargetState = to.GetPlayState();
      return Made(to, false);
    case Step::StopTarget:
      to.Stop();
      run.Stopped = true;  // given up, it may have been carried out
      run.Started = false;
      return Made(to, false);
    case Step::ClearTarget:
      to.ClearPlaylist();
      run.Cleared = true;
      return Made(to, false);
    case Step::AddEntry:
      if (run.Look) {
        bool landed = false;
        if (!Landed(to, 0, landed)) return false;
        if (landed) return run.Got = true;
      }
      to.AddFile(run.File);
      return run.Got = Made(to, true);
    case Step::FirstEntry:
      to.SetPlaylistPosition(0);
      if (!Made(to, false)) return false;
      return Then(run.State == 1 || run.State == 3 ? Sequence::Playing : Sequence::Still);
    case Step::PlayTarget:
      // Made again, it starts the track anew: the jump after it sets the time.
      to.Play();
      if (!Made(to, false)) return false;
      run.Startup = to.LastAnswerMs();
      return run.Started = true;
    case Step::Time:
      if (run.Music) {
        run.Position = run.Music->TrackMs;  // held by the announcement: it has not moved since
      } else {
        run.Position = FLink.GetTrackPositionMs();
        if (!Made(FLink, false)) return false;
      }
      run.ReadAt = platform::TickMs();
      return true;
    case Step::Jump: {
      // The source has played on since its time was read, and goes on while the jump reaches the
      // target, which takes about what the start took.
      const bool moves = run.State == 1 && !run.Music;
      const int32_t ms = run.Position + (moves ? int32_t(platform::TickMs() - run.ReadAt + run.Startup) : 0);
      return Jump(to, ms);
    }
    case Step::Pause:
      return run.State != 3 || PauseUnlessPaused(to);
    case Step::Recheck: {
      const int32_t entry = FLink.GetPlaylistPosition();
      if (!Made(FLink, false)) return false;
      return Then(entry == run.Entry ? Sequence::Rest : Sequence::Again);
    }
    case Step::TargetPlays: {
      if (run.State != 1) return true;
      const int32_t state = to.GetPlayState();
      if (!Made(to, false)) return false;
      return state == 1 || End("room " + std::to_string(run.Target) + " does not play");
    }
    case Step::PlaylistWindow:
      run.Playlist = run.Entry > 0 ? to.GetPlaylistWindow() : 0;
      if (!Made(to, false)) return false;
      run.Next = run.Entry + 1;
      if (run.Entry > 0 && !run.Playlist) return End("room " + std::to_string(run.Target) + " has no playlist window");
      return true;
    // One entry a time, the step staying until all have gone.
    case Step::After:
      if (run.Next < run.Length) {
        Carry(target, false);
        return false;
      }
      run.Next = 0;
      return true;
    case Step::Before:
      if (run.Next >= run.Entry) return true;
      Carry(target, true);
      return false;
    case Step::ShuffleTarget:
      run.Shuffle ? to.ShuffleOn() : to.ShuffleOff();
      return Made(to, false);
    case Step::RepeatTarget:
      run.Repeat ? to.RepeatOn() : to.RepeatOff();
      return Made(to, false);
    case Step::Unchanged: {
      // What went over is the source's playlist only if it is the one it had all along.
      const int32_t length = FLink.GetPlaylistLength();
      if (!Made(FLink, false)) return false;
      return length == run.Length || End(Changed(FRoom));
    }
    case Step::Source:
      if (run.KeepPlaying) {
        const bool held = run.Music && (run.Music->PlayState == 1 || run.Music->PlayState == 3);
        return !held || Then(Sequence::SourceBack);
      }
      // The music has gone over: an announcement's end left the source stopped already.
      if (!run.Music && run.State != 0) {
        FLink.Stop();
        if (!Made(FLink, false)) return false;
      }
      run.Music.reset();
      return true;
    case Step::SourcePlay:
      FLink.Play();
      return Made(FLink, false);
    case Step::SourceJump:
      return Jump(FLink, run.Music->TrackMs);
    case Step::SourcePause:
      return run.Music->PlayState != 3 || PauseUnlessPaused(FLink);
    case Step::Done:
      run.Music.reset();
      return End({});
  }
  return false;
}

// The time is worked out once, and made again as it was: asked without waiting, the same send
// takes its answer. Given up, it is worked out afresh.
bool TKDOWinampTransfer::Jump(TWinAmpControl& link, int32_t ms) {
  Run& run = *FRun;
  if (!run.JumpTo) run.JumpTo = ms;
  link.JumpToTime(*run.JumpTo);
  if (!Made(link, false)) {
    if (!link.AskedInstead()) run.JumpTo.reset();
    return false;
  }
  run.JumpTo.reset();
  return true;
}

// A pause given up may have been carried out: a second one would play on.
bool TKDOWinampTransfer::PauseUnlessPaused(TWinAmpControl& link) {
  if (FRun->Look) {
    const int32_t state = link.GetPlayState();
    if (!Made(link, false)) return false;
    FRun->Look = false;
    if (state == 3) return true;
  }
  link.Pause();
  return Made(link, true);
}

// Read from the source, then put: before what plays through the playlist window, which keeps it
// current; after it, appended. A put given up is counted in the target before it is made again.
void TKDOWinampTransfer::Carry(TKDOWinampRoom& target, bool before) {
  Run& run = *FRun;
  TWinAmpControl& to = target.Link;
  if (!run.Read) {
    FLink.GetPlaylistFileInRange(run.Next, run.File);
    if (!Made(FLink, false)) return;
    // An entry without a file: the playlist changed under the transfer.
    if (run.File.empty()) return void(End(Changed(FRoom)));
    run.Read = true;
    return;
  }
  bool landed = false;
  // The target holds the song and what went after it so far, and then what went before it so far.
  const int32_t holds = before ? run.Length - run.Entry + run.Next : run.Next - run.Entry;
  if (run.Look && !Landed(to, holds, landed)) return;
  if (!landed) {
    before ? to.InsertEntryVia(run.Playlist, run.File, run.Next) : to.AddFile(run.File);
    if (!Made(to, true)) return;
  }
  run.Read = false;
  run.Look = false;
  Stepped();
  ++run.Next;
}

void TKDOWinampTransfer::TakenBack(uint16_t room, std::string_view why) {
  // When this room is the one gone, nothing more is sent to its player.
  if (Involves(room)) GiveUp(why, kdo::rooms::Find(FRoom) != nullptr);
}

// In turn, as the user's commands wait theirs: a slow player is given them as it can take them.
void TKDOWinampTransfer::PutBackMusic() {
  if (!FRun || !FRun->Music || FLink.PlayerWindow() != FRun->Source || !FLink.HasAnsweringPlayer()) return;
  const TKDOPlayerState music = *FRun->Music;
  FRun->Music.reset();
  if (music.PlayState != 1 && music.PlayState != 3) return;
  FAnnouncer.After({TWinAmpCommand::Play});
  FAnnouncer.After({TWinAmpCommand::JumpToTime, std::max(music.TrackMs, 0)});
  if (music.PlayState == 3) FAnnouncer.After({TWinAmpCommand::Pause});
}

void TKDOWinampTransfer::PutBackTarget() {
  const Run& run = *FRun;
  TKDOWinampRoom* target = kdo::rooms::Find(run.Target);
  if (!target || run.TargetState != 1 || !run.Stopped || run.Started) return;
  if (target->Link.PlayerWindow() != run.TargetPlayer || !target->Link.HasAnsweringPlayer()) return;
  TKDOWinampAnnouncer& to = target->Announcer;
  // A cleared playlist is on its first entry: the one it got, or the song that was on its way.
  if (run.Cleared && !run.Got) return to.InsertAfter(run.File, 0, true);
  to.After({TWinAmpCommand::Play});
}

void TKDOWinampTransfer::GiveUp(std::string_view why, bool send) {
  if (!FRun) return;
  // Neither room stays silent for a transfer that did not happen.
  if (send) PutBackMusic();
  PutBackTarget();
  Finish("given up: " + std::string(why));
}

void TKDOWinampTransfer::Finish(std::string_view line) {
  const std::string said = Rooms() + ": " + std::string(line);
  if (TKDOWinampRoom* target = kdo::rooms::Find(FRun->Target)) target->Transfer.Filled(FRoom);
  FRun.reset();
  FWork.Clear();
  FDebug(said);
}
