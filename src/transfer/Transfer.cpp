#include "transfer/Transfer.h"

#include "announce/Announcer.h"
#include "transfer/Rooms.h"
#include "winamp/WinAmp.h"

namespace {
// Starts the current entry `ms` in: played, or (state 3) paused there; a stopped state starts nothing.
void StartAt(TWinAmpControl& link, int32_t state, int32_t ms) {
  if (state != 1 && state != 3) return;
  link.Play();
  link.JumpToTime(ms);
  if (state == 3) link.Pause();
}
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
  if (!to || !FLink.HasAnsweringPlayer() || !to->Link.HasAnsweringPlayer()) {
    FDebug(rooms + ": refused: " + (target == FRoom ? "the same room" : !to ? "no such other room" : "a player does not answer"));
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
  FRun->TargetPlayer = to->Link.PlayerWindow();
  FRun->Music = music;
  FDebug(rooms + ": started");
  return true;
}

// Within the tick's budget, and of each tick's time at most a quarter: the house goes on meanwhile.
void TKDOWinampTransfer::Tick(const TKDOSendBudget& budget) {
  const TKDOSendBudget slice{platform::TickMs(), kSliceMs};
  while (FRun) {
    TKDOWinampRoom* target = kdo::rooms::Find(FRun->Target);
    if (!target) return GiveUp("room " + std::to_string(FRun->Target) + " is gone");
    if (FLink.PlayerWindow() != FRun->Source) return GiveUp("another player in room " + std::to_string(FRoom));
    if (target->Link.PlayerWindow() != FRun->TargetPlayer)
      return GiveUp("another player in room " + std::to_string(FRun->Target));
    if (!Answered(FLink, FRoom) || !Answered(target->Link, FRun->Target)) return;
    // A send would wait behind a question asked without waiting; an announcement's end goes first.
    if (FLink.QuestionOutstanding() || target->Link.QuestionOutstanding()) return;
    if (FAnnouncer.Owes() || target->Announcer.Owes()) return;
    if (!budget.Left() || !slice.Left() || !Step(*target)) return;
  }
}

// A room taken back ends a transfer it takes part in; when this room is the one gone, nothing more
// is sent to its player.
void TKDOWinampTransfer::TakenBack(uint16_t room, std::string_view why) {
  if (Involves(room)) GiveUp(why, kdo::rooms::Find(FRoom) != nullptr);
}

// A player that does not answer ends the transfer (a hang, or one gone); true while both answer.
bool TKDOWinampTransfer::Answered(TWinAmpControl& link, uint16_t room) {
  if (link.HasAnsweringPlayer()) return true;
  GiveUp("the player of room " + std::to_string(room) + " does not answer");
  return false;
}

bool TKDOWinampTransfer::Step(TKDOWinampRoom& target) {
  Run& run = *FRun;
  TWinAmpControl& to = target.Link;
  switch (run.At) {
    case Phase::Length:
      run.Length = FLink.GetPlaylistLength();
      run.At = Phase::Shuffle;
      return Answered(FLink, FRoom);
    case Phase::Shuffle:
      run.Shuffle = FLink.GetShuffle();
      run.At = Phase::Repeat;
      return Answered(FLink, FRoom);
    case Phase::Repeat:
      run.Repeat = FLink.GetRepeat();
      run.At = Phase::StopTarget;
      return Answered(FLink, FRoom);
    case Phase::StopTarget:
      to.Stop();
      run.At = Phase::ClearTarget;
      return Answered(to, run.Target);
    case Phase::ClearTarget:
      to.ClearPlaylist();
      run.At = Phase::Moment;
      return Answered(to, run.Target);
    case Phase::Moment:
      return Moment(target);
    case Phase::TargetPlays:
      run.At = Phase::PlaylistWindow;
      if (run.State != 1) return true;
      if (to.GetPlayState() == 1) return true;
      if (Answered(to, run.Target)) GiveUp("room " + std::to_string(run.Target) + " does not play");
      return false;
    case Phase::PlaylistWindow:
      run.Playlist = run.Entry > 0 ? to.GetPlaylistWindow() : 0;
      if (!Answered(to, run.Target)) return false;
      run.At = Phase::Before;
      run.Next = 0;
      if (run.Entry == 0 || run.Playlist) return true;
      GiveUp("room " + std::to_string(run.Target) + " has no playlist window");
      return false;
    case Phase::Before:
      if (run.Next < run.Entry) return Carry(target, true);
      run.At = Phase::After;
      run.Next = run.Entry + 1;
      return true;
    case Phase::After:
      if (run.Next < run.Length) return Carry(target, false);
      run.At = Phase::ShuffleTarget;
      return true;
    case Phase::ShuffleTarget:
      run.Shuffle ? to.ShuffleOn() : to.ShuffleOff();
      run.At = Phase::RepeatTarget;
      return Answered(to, run.Target);
    case Phase::RepeatTarget:
      run.Repeat ? to.RepeatOn() : to.RepeatOff();
      run.At = Phase::Unchanged;
      return Answered(to, run.Target);
    case Phase::Unchanged: {
      // What went over is the source's playlist only if it is the one it had all along.
      const int32_t length = FLink.GetPlaylistLength();
      if (!Answered(FLink, FRoom)) return false;
      run.At = Phase::Source;
      if (length == run.Length) return true;
      GiveUp("the playlist of room " + std::to_string(FRoom) + " changed");
      return false;
    }
    case Phase::Source:
      run.At = Phase::Done;
      if (run.KeepPlaying) {
        PutBackMusic();  // both play on: the source's music too, if an announcement had held it
        return Answered(FLink, FRoom);
      }
      // The music has gone over: an announcement's end left the source stopped already.
      if (run.Music) {
        run.Music.reset();
        return true;
      }
      if (run.State != 0) FLink.Stop();
      return Answered(FLink, FRoom);
    case Phase::Done:
      FDebug(Rooms() + ": done");
      FRun.reset();
      return false;
  }
  return false;
}

bool TKDOWinampTransfer::Carry(TKDOWinampRoom& target, bool before) {
  Run& run = *FRun;
  if (!run.Read) {
    FLink.GetPlaylistFileInRange(run.Next, run.File);
    run.Read = true;
    if (!Answered(FLink, FRoom)) return false;
    // An entry without a file: the playlist changed under the transfer.
    if (!run.File.empty()) return true;
    GiveUp("the playlist of room " + std::to_string(FRoom) + " changed");
    return false;
  }
  // Before what plays, through the playlist window, which keeps it current; after it, appended.
  before ? target.Link.InsertEntryVia(run.Playlist, run.File, run.Next) : target.Link.AddFile(run.File);
  run.Read = false;
  ++run.Next;
  return Answered(target.Link, run.Target);
}

// The moment: where the source is, and the target started there with that entry, in one go.
bool TKDOWinampTransfer::Moment(TKDOWinampRoom& target) {
  Run& run = *FRun;
  TWinAmpControl& to = target.Link;
  const int32_t length = FLink.GetPlaylistLength();
  run.Entry = FLink.GetPlaylistPosition();
  if (!Answered(FLink, FRoom)) return false;
  if (length != run.Length || run.Entry < 0 || (run.Length > 0 && run.Entry >= run.Length)) {
    GiveUp("the playlist of room " + std::to_string(FRoom) + " changed");
    return false;
  }
  run.At = Phase::TargetPlays;
  if (run.Length == 0) {
    run.State = 0;  // nothing plays: an empty playlist goes over
    return true;
  }
  FLink.GetPlaylistFileInRange(run.Entry, run.File);
  if (!Answered(FLink, FRoom)) return false;
  int32_t position = 0;
  uint32_t readAt = platform::TickMs();
  if (run.Music) {
    run.State = run.Music->PlayState;
    position = run.Music->TrackMs;
  } else {
    run.State = FLink.GetPlayState();
    readAt = platform::TickMs();
    position = FLink.GetTrackPositionMs();
  }
  if (!Answered(FLink, FRoom)) return false;
  to.AddFile(run.File);
  to.SetPlaylistPosition(0);
  if (run.State == 1 && !run.Music) {
    // The source has played on since its time was read, and goes on while the move reaches the
    // target, which takes about what the start took.
    const uint32_t playAt = platform::TickMs();
    to.Play();
    const uint32_t now = platform::TickMs();
    to.JumpToTime(position + int32_t(now - readAt + (now - playAt)));
  } else {
    StartAt(to, run.State, position);
  }
  return Answered(to, run.Target);
}

void TKDOWinampTransfer::PutBackMusic() {
  if (!FRun || !FRun->Music || FLink.PlayerWindow() != FRun->Source || !FLink.HasAnsweringPlayer()) return;
  const TKDOPlayerState music = *FRun->Music;
  FRun->Music.reset();
  StartAt(FLink, music.PlayState, music.TrackMs);
}

void TKDOWinampTransfer::GiveUp(std::string_view why, bool send) {
  if (!FRun) return;
  // The source never stays silent for a transfer that did not happen.
  if (send) PutBackMusic();
  const std::string line = Rooms() + ": given up: " + std::string(why);
  FRun.reset();
  FDebug(line);
}
