#include "transfer/Transfer.h"

#include "announce/Announcer.h"
#include "transfer/Rooms.h"
#include "winamp/WinAmp.h"

namespace {
std::string Changed(uint16_t room) { return "the playlist of room " + std::to_string(room) + " changed"; }
}  // namespace

TKDOWinampTransfer::TKDOWinampTransfer(uint16_t room, TWinAmpControl& link, TKDOWinampAnnouncer& announcer,
                                       DebugLine debug)
    : FRoom(room), FLink(link), FAnnouncer(announcer), FDebug(std::move(debug)) {}

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
  FRun.emplace();
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

void TKDOWinampTransfer::Tick(const TKDOSendBudget& budget) {
  Turn(budget);
  // The transfer filling this room has a turn on this room's ticks too: its player is free now,
  // before this room's mirror asks it again; on the source's ticks alone, the mirror's questions
  // could keep it waiting for ever.
  if (!FFilledBy) return;
  if (TKDOWinampRoom* source = kdo::rooms::Find(*FFilledBy)) source->Transfer.Turn(budget);
}

void TKDOWinampTransfer::Turn(const TKDOSendBudget& budget) {
  if (!FRun) return;
  TKDOWinampRoom* target = kdo::rooms::Find(FRun->Target);
  if (!target) return GiveUp("room " + std::to_string(FRun->Target) + " is gone");
  Work(*target, budget);
}

void TKDOWinampTransfer::Resume() {
  if (!FRun) return;
  if (TKDOWinampRoom* target = kdo::rooms::Find(FRun->Target)) Work(*target, TKDOSendBudget::Unlimited());
}

// Within the tick's budget, and of each tick's time at most a quarter: the house goes on meanwhile. A
// slow player is asked without waiting, and the work goes on with its answer, wherever the rooms are by then.
void TKDOWinampTransfer::Work(TKDOWinampRoom& target, const TKDOSendBudget& budget) {
  const TKDOSendBudget slice{platform::TickMs(), kSliceMs};
  {
    const auto resume = [room = FRoom] {
      if (TKDOWinampRoom* self = kdo::rooms::Find(room)) self->Transfer.Resume();
    };
    const auto source = FLink.Deferred(FAsked, resume);
    const auto there = target.Link.Deferred(target.Transfer.Asked(), resume);
    while (FRun && !FRun->Ending && Ready(target) && budget.Left() && slice.Left() && Step(target)) {
    }
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
bool TKDOWinampTransfer::Ready(TKDOWinampRoom& target) {
  Run& run = *FRun;
  const struct {
    TWinAmpControl& Link;
    uint16_t Room;
    platform::WindowHandle Player;
  } rooms[] = {{FLink, FRoom, run.Source}, {target.Link, run.Target, run.TargetPlayer}};
  for (const auto& room : rooms) {
    if (room.Link.PlayerWindow() != room.Player) return End("another player in room " + std::to_string(room.Room));
    const bool missing = room.Link.GiveUps() - run.GiveUpsAtStep[&room.Link == &FLink ? 0 : 1] >= kMostMisses;
    if ((room.Link.IsHung() && room.Link.SilentForMs() > kGiveUpAfterMs) || missing)
      return End("the player of room " + std::to_string(room.Room) + " does not answer");
  }
  // The player the next step asks must be free: a send would wait behind a question.
  TWinAmpControl& asked = ToTarget() ? target.Link : FLink;
  if (!asked.IsAnswering() || asked.QuestionOutstanding()) return false;
  // An announcement's end goes first.
  return !FAnnouncer.Owes() && !target.Announcer.Owes();
}

bool TKDOWinampTransfer::ToTarget() const {
  switch (FRun->At) {
    case Phase::Length: case Phase::Shuffle: case Phase::Repeat: case Phase::Entry: case Phase::File:
    case Phase::State: case Phase::Time: case Phase::Recheck: case Phase::Unchanged: case Phase::Source:
    case Phase::SourcePlay: case Phase::SourceJump: case Phase::SourcePause: case Phase::Done:
      return false;
    case Phase::Before: case Phase::After:
      return FRun->Read;  // read from the source, put to the target
    default:
      return true;
  }
}

bool TKDOWinampTransfer::To(Phase next) {
  FRun->At = next;
  FRun->Look = false;
  Stepped();
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

bool TKDOWinampTransfer::Step(TKDOWinampRoom& target) {
  Run& run = *FRun;
  TWinAmpControl& to = target.Link;
  switch (run.At) {
    case Phase::Length:
      run.Length = FLink.GetPlaylistLength();
      return Made(FLink, false) && To(Phase::Shuffle);
    case Phase::Shuffle:
      run.Shuffle = FLink.GetShuffle();
      return Made(FLink, false) && To(Phase::Repeat);
    case Phase::Repeat:
      run.Repeat = FLink.GetRepeat();
      return Made(FLink, false) && To(Phase::Entry);
    case Phase::Entry:
      run.Entry = FLink.GetPlaylistPosition();
      if (!Made(FLink, false)) return false;
      if (run.Length == 0) return To(Phase::StopTarget);  // nothing plays: an empty playlist goes over
      if (run.Entry < 0 || run.Entry >= run.Length) return End(Changed(FRoom));
      return To(Phase::File);
    case Phase::File:
      FLink.GetPlaylistFileInRange(run.Entry, run.File);
      if (!Made(FLink, false)) return false;
      return run.File.empty() ? End(Changed(FRoom)) : To(Phase::State);
    case Phase::State:
      run.State = run.Music ? run.Music->PlayState : FLink.GetPlayState();
      return Made(FLink, false) && To(Phase::StopTarget);
    // The target is touched only once the source's music is known: until then, given up, it plays on.
    case Phase::StopTarget:
      to.Stop();
      return Made(to, false) && To(Phase::ClearTarget);
    case Phase::ClearTarget:
      to.ClearPlaylist();
      if (!Made(to, false)) return false;
      return To(run.Length == 0 ? Phase::TargetPlays : Phase::AddEntry);
    case Phase::AddEntry:
      if (run.Look) {
        bool landed = false;
        if (!Landed(to, 0, landed)) return false;
        if (landed) return To(Phase::FirstEntry);
      }
      to.AddFile(run.File);
      return Made(to, true) && To(Phase::FirstEntry);
    case Phase::FirstEntry:
      to.SetPlaylistPosition(0);
      if (!Made(to, false)) return false;
      return To(run.State == 1 || run.State == 3 ? Phase::PlayTarget : Phase::Recheck);
    case Phase::PlayTarget:
      // Made again, it starts the track anew: the jump after it sets the time.
      to.Play();
      if (!Made(to, false)) return false;
      run.Startup = to.LastAnswerMs();
      return To(Phase::Time);
    case Phase::Time:
      if (run.Music) {
        run.Position = run.Music->TrackMs;  // held by the announcement: it has not moved since
      } else {
        run.Position = FLink.GetTrackPositionMs();
        if (!Made(FLink, false)) return false;
      }
      run.ReadAt = platform::TickMs();
      return To(Phase::Jump);
    case Phase::Jump: {
      // The source has played on since its time was read, and goes on while the jump reaches the
      // target, which takes about what the start took.
      const bool moves = run.State == 1 && !run.Music;
      const int32_t ms = run.Position + (moves ? int32_t(platform::TickMs() - run.ReadAt + run.Startup) : 0);
      return Jump(to, ms, Phase::Pause);
    }
    case Phase::Pause:
      return run.State == 3 ? PauseUnlessPaused(to, Phase::Recheck) : To(Phase::Recheck);
    case Phase::Recheck: {
      // With a slow player the moment spans ticks: skipped in the player meanwhile, the source is on
      // another entry than the one its time was read for, and the moment is made again.
      const int32_t entry = FLink.GetPlaylistPosition();
      if (!Made(FLink, false)) return false;
      return To(entry == run.Entry ? Phase::TargetPlays : Phase::Entry);
    }
    case Phase::TargetPlays: {
      if (run.State != 1) return To(Phase::PlaylistWindow);
      const int32_t state = to.GetPlayState();
      if (!Made(to, false)) return false;
      return state == 1 ? To(Phase::PlaylistWindow) : End("room " + std::to_string(run.Target) + " does not play");
    }
    case Phase::PlaylistWindow:
      run.Playlist = run.Entry > 0 ? to.GetPlaylistWindow() : 0;
      if (!Made(to, false)) return false;
      run.Next = run.Entry + 1;
      if (run.Entry > 0 && !run.Playlist) return End("room " + std::to_string(run.Target) + " has no playlist window");
      return To(Phase::After);
    // What follows the song first: with a slow player the entries take long, and the song ends meanwhile.
    case Phase::After:
      if (run.Next < run.Length) return Carry(target, false);
      run.Next = 0;
      return To(Phase::Before);
    case Phase::Before:
      if (run.Next < run.Entry) return Carry(target, true);
      return To(Phase::ShuffleTarget);
    case Phase::ShuffleTarget:
      run.Shuffle ? to.ShuffleOn() : to.ShuffleOff();
      return Made(to, false) && To(Phase::RepeatTarget);
    case Phase::RepeatTarget:
      run.Repeat ? to.RepeatOn() : to.RepeatOff();
      return Made(to, false) && To(Phase::Unchanged);
    case Phase::Unchanged: {
      // What went over is the source's playlist only if it is the one it had all along.
      const int32_t length = FLink.GetPlaylistLength();
      if (!Made(FLink, false)) return false;
      return length == run.Length ? To(Phase::Source) : End(Changed(FRoom));
    }
    case Phase::Source:
      if (run.KeepPlaying) {
        // Both play on: the source's music too, if an announcement had held it.
        if (!run.Music) return To(Phase::Done);
        return To(run.Music->PlayState == 1 || run.Music->PlayState == 3 ? Phase::SourcePlay : Phase::Done);
      }
      // The music has gone over: an announcement's end left the source stopped already.
      if (!run.Music && run.State != 0) {
        FLink.Stop();
        if (!Made(FLink, false)) return false;
      }
      run.Music.reset();
      return To(Phase::Done);
    case Phase::SourcePlay:
      FLink.Play();
      return Made(FLink, false) && To(Phase::SourceJump);
    case Phase::SourceJump:
      return Jump(FLink, run.Music->TrackMs, Phase::SourcePause);
    case Phase::SourcePause:
      if (run.Music->PlayState != 3) return To(Phase::Done);
      return PauseUnlessPaused(FLink, Phase::Done);
    case Phase::Done:
      run.Music.reset();
      return End({});
  }
  return false;
}

// The time is worked out once, and made again as it was: asked without waiting, the same send
// takes its answer. Given up, it is worked out afresh.
bool TKDOWinampTransfer::Jump(TWinAmpControl& link, int32_t ms, Phase next) {
  Run& run = *FRun;
  if (!run.JumpTo) run.JumpTo = ms;
  link.JumpToTime(*run.JumpTo);
  if (!Made(link, false)) {
    if (!link.AskedInstead()) run.JumpTo.reset();
    return false;
  }
  run.JumpTo.reset();
  return To(next);
}

// A pause given up may have been carried out: a second one would play on.
bool TKDOWinampTransfer::PauseUnlessPaused(TWinAmpControl& link, Phase next) {
  if (FRun->Look) {
    const int32_t state = link.GetPlayState();
    if (!Made(link, false)) return false;
    FRun->Look = false;
    if (state == 3) return To(next);
  }
  link.Pause();
  return Made(link, true) && To(next);
}

// Read from the source, then put: before what plays through the playlist window, which keeps it
// current; after it, appended. A put given up is counted in the target before it is made again.
bool TKDOWinampTransfer::Carry(TKDOWinampRoom& target, bool before) {
  Run& run = *FRun;
  TWinAmpControl& to = target.Link;
  if (!run.Read) {
    FLink.GetPlaylistFileInRange(run.Next, run.File);
    if (!Made(FLink, false)) return false;
    // An entry without a file: the playlist changed under the transfer.
    if (run.File.empty()) return End(Changed(FRoom));
    run.Read = true;
    return true;
  }
  bool landed = false;
  // The target holds the song and what went after it so far, and then what went before it so far.
  const int32_t holds = before ? run.Length - run.Entry + run.Next : run.Next - run.Entry;
  if (run.Look && !Landed(to, holds, landed)) return false;
  if (!landed) {
    before ? to.InsertEntryVia(run.Playlist, run.File, run.Next) : to.AddFile(run.File);
    if (!Made(to, true)) return false;
  }
  run.Read = false;
  run.Look = false;
  Stepped();
  ++run.Next;
  return true;
}

void TKDOWinampTransfer::TakenBack(uint16_t room, std::string_view why) {
  // When this room is the one gone, nothing more is sent to its player.
  if (Involves(room)) GiveUp(why, kdo::rooms::Find(FRoom) != nullptr);
}

void TKDOWinampTransfer::PutBackMusic() {
  if (!FRun || !FRun->Music || FLink.PlayerWindow() != FRun->Source || !FLink.HasAnsweringPlayer()) return;
  const TKDOPlayerState music = *FRun->Music;
  FRun->Music.reset();
  if (music.PlayState != 1 && music.PlayState != 3) return;
  FLink.Play();
  FLink.JumpToTime(music.TrackMs);
  if (music.PlayState == 3) FLink.Pause();
}

void TKDOWinampTransfer::GiveUp(std::string_view why, bool send) {
  if (!FRun) return;
  // The source never stays silent for a transfer that did not happen.
  if (send) PutBackMusic();
  Finish("given up: " + std::string(why));
}

void TKDOWinampTransfer::Finish(std::string_view line) {
  const std::string said = Rooms() + ": " + std::string(line);
  if (TKDOWinampRoom* target = kdo::rooms::Find(FRun->Target)) target->Transfer.Filled(FRoom);
  FRun.reset();
  FDebug(said);
}
