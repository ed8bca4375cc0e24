// The announcer's engine: the queue of single sends owed to the player, what
// each step does, and what the watch makes of the answers. It queues the
// sequences by name and calls nothing of the operations' file.
#include <algorithm>
#include <utility>

#include "announce/Announcer.h"
#include "sdk/KDOText.h"
#include "winamp/WinAmp.h"

static_assert(int(kdo::announce::Step::MusicRepeat) - int(kdo::announce::Step::MusicEntry) == kPlayerStateParts - 1,
              "the music's six steps are a saved state's six parts");

// One step; false when it is to run again (given up, or more to try).
bool TKDOWinampAnnouncer::Do(Step step) {
  Music& m = *FMusic;
  TKDOPlayerState& music = m.State;
  auto answered = [this] { return FLink.IsAnswering(); };
  // A send given up (not merely asked without waiting) may have been carried out: `again` looks first.
  auto lookedAtIfGivenUp = [&](Sequence again) {
    if (answered() || FLink.AskedInstead()) return answered();
    DoFirst(again);
    return true;
  };
  switch (step) {
    case Step::MusicEntry:
    case Step::MusicTime:
    case Step::MusicState:
    case Step::MusicVolume:
    case Step::MusicShuffle:
    case Step::MusicRepeat:
      AskPlayerStatePart(FLink, music, int(step) - int(Step::MusicEntry));  // as a script's save asks it
      return answered();
    case Step::MusicFile: FLink.GetPlaylistFileInRange(music.Entry, m.File); return answered();
    case Step::MusicManualAdvance: m.ManualAdvance = FLink.GetManualAdvance(); return answered();
    case Step::MusicKept: m.Kept = true; return true;
    case Step::AskState: FSeenState = FLink.GetPlayState(); return answered();
    case Step::AskPosition:
      FSeenPosition = FLink.GetPlaylistPosition();
      FSeenPositionAt = platform::TickMs();
      return answered();
    case Step::AskLength: FSeenLength = FLink.GetPlaylistLength(); return answered();
    case Step::AskAnnouncement: {
      // Its entry by name: entries that came and went may leave the playlist as long as it was.
      std::string there;
      if (FAnnouncementEntry >= 0) FLink.GetPlaylistFileInRange(FAnnouncementEntry, there);
      FSeenAnnouncement = FPlaying && kdo::text::EqualIgnoringAZCase(there, FPlaying->File);
      return answered();
    }
    case Step::Judge: Judge(); return true;
    case Step::Locate:
      FSearch.reset();
      DoFirst(Sequence::Find);
      return true;
    case Step::FindAnnouncement: return Find(true);
    case Step::FindMusic: return Find(false);
    case Step::Located: FLength = FSeenLength; return true;
    case Step::JudgeEnd:
      if (FAnnouncementEntry >= 0 && FSeenPosition == FAnnouncementEntry && FSeenState != 0) {
        FSeenPlayingAt = FSeenPositionAt;
        return true;
      }
      if (FAnnouncementEntry >= 0 && FSeenPosition != FAnnouncementEntry) {
        // Skipped in the player: the room has moved on there. What was taken before is dropped; what
        // may have come after the skip is a row of its own once the player is the user's again.
        std::erase_if(FWaiting, [this](const Announcement& a) { return int32_t(a.TakenAt - FSeenPlayingAt) <= 0; });
        FEnding = true;
        DoFirst(Sequence::Skipped);
        return true;
      }
      DoFirst(Sequence::Ended);
      return true;
    case Step::StopAnnouncement: FLink.Stop(); return answered();
    case Step::AskPlaylistWindow:
      // Asked once a row: it is the player's for as long as the player is.
      if (!FPlaying || FPlaylistWindow) return true;
      FPlaylistWindow = FLink.GetPlaylistWindow();
      return answered();
    case Step::CheckAnnouncement: {
      // Right before the removal, and once more after looking again if it is not where it was
      // found: the playlist may have changed while the player did not answer.
      FAnnouncementThere = false;
      if (FAnnouncementEntry < 0 || !FPlaying) return true;
      std::string there;
      FLink.GetPlaylistFileInRange(FAnnouncementEntry, there);
      if (!answered()) return false;
      FAnnouncementThere = kdo::text::EqualIgnoringAZCase(there, FPlaying->File);
      if (!FAnnouncementThere && !FLookedAgain) {
        FLookedAgain = true;
        DoFirst(Sequence::LookAgain);
      }
      return true;
    }
    case Step::RemoveAnnouncement:
      if (FAnnouncementThere && FPlaylistWindow != 0) {
        const bool removed = FLink.RemoveEntryVia(FPlaylistWindow, FAnnouncementEntry);
        if (FLink.AskedInstead()) return false;  // made again to take its answer, or to learn it was given up
        if (!answered()) {
          DoFirst(Sequence::RemoveAgain);  // checked again once it answers
          return true;
        }
        if (removed) {
          if (music.Entry > FAnnouncementEntry) --music.Entry;
          FLength = std::max(FLength - 1, 0);
        }
      }
      FPlaying.reset();
      FAnnouncementEntry = -1;
      FAnnouncementThere = false;
      FLookedAgain = false;
      return true;
    case Step::Next: Next(); return true;
    case Step::LengthBefore: FLengthBefore = FLink.GetPlaylistLength(); return answered();
    case Step::AddAnnouncement:
      FLink.AddFile(FPlaying->File);
      FAnnouncementEntry = FLengthBefore;  // where it goes, if the player takes it
      // Given up, the add may still be carried out (the player had started it): the count after it
      // tells, once the player answers again, and only then is it made again.
      FAddGivenUp = !answered();
      return true;
    case Step::LengthAfter: {
      const int32_t length = FLink.GetPlaylistLength();
      if (!answered()) return false;
      FSeenLength = length;
      if (length == FLengthBefore + 1) return Added(FAnnouncementEntry);  // where it went, moved by our insertions
      // The playlist changed meanwhile (a hang in between): the last entry tells whether it is ours.
      DoFirst(Sequence::CheckAdded);
      return true;
    }
    case Step::CheckAdded:
    case Step::CheckAddedThere: {
      // The last entry; then where it was to go, had the playlist grown only after it landed.
      const bool last = step == Step::CheckAdded;
      const int32_t at = last ? FSeenLength - 1 : FAnnouncementEntry;
      std::string there;
      if (at >= 0) FLink.GetPlaylistFileInRange(at, there);
      if (!answered()) return false;
      if (at >= 0 && kdo::text::EqualIgnoringAZCase(there, FPlaying->File)) return Added(at);
      if (last && FAnnouncementEntry >= 0 && FAnnouncementEntry < FSeenLength - 1) {
        DoFirst(Sequence::CheckAddedThere);
        return true;
      }
      if (FAddGivenUp) {  // it never reached the player: made again, and counted again
        FAddGivenUp = false;
        DoFirst(Sequence::AddAgain);
        return true;
      }
      // Not added: the entries there are not ours.
      FPlaying.reset();
      FAnnouncementEntry = -1;
      DoFirst(Sequence::Next);
      return true;
    }
    case Step::ManualAdvanceOn:
      m.Touched = true;  // from here on the manual advance is owed back
      FLink.SetManualAdvance(true);
      return answered();
    case Step::AnnouncementEntry: FLink.SetPlaylistPosition(FAnnouncementEntry); return answered();
    case Step::AnnouncementVolume: FLink.SetVolume(FPlaying ? FPlaying->Volume : uint8_t(music.Volume)); return answered();
    case Step::AnnouncementPlay:
      FLink.Play();
      FSeenPlayingAt = platform::TickMs();
      return lookedAtIfGivenUp(Sequence::PlayAgain);
    case Step::ManualAdvanceBack:
      FLink.SetManualAdvance(m.ManualAdvance > 0);
      return m.ManualAdvanceGiven = answered();
    case Step::VolumeBack:
      FLink.SetVolume(uint8_t(music.Volume));
      return m.VolumeGiven = answered();
    case Step::ShuffleBack: music.Shuffle ? FLink.ShuffleOn() : FLink.ShuffleOff(); return answered();
    case Step::RepeatBack: music.Repeat ? FLink.RepeatOn() : FLink.RepeatOff(); return answered();
    case Step::EntryBack:
      FLink.SetPlaylistPosition(FLength < 0 ? music.Entry : std::clamp(music.Entry, 0, std::max(FLength - 1, 0)));
      return answered();
    case Step::PlayUnlessPlaying:
      if (FSeenState == 1) return true;
      [[fallthrough]];
    case Step::PlayBack:
      // Made twice, the track starts anew: given up, it is looked at before it is made again.
      FLink.Play();
      return lookedAtIfGivenUp(Sequence::PlayAgain);
    case Step::JumpBack: FLink.JumpToTime(std::max(music.TrackMs, 0)); return answered();
    case Step::PauseUnlessPaused:
      if (FSeenState == 3) return true;
      [[fallthrough]];
    case Step::PauseBack:
      FLink.Pause();  // a toggle
      return lookedAtIfGivenUp(Sequence::PauseAgain);
    case Step::StopBack: FLink.Stop(); return answered();
    case Step::Done: {
      std::deque<Announcement> after = std::exchange(FWaiting, {});
      Drop();
      if (after.empty() || !FLink.HasAnsweringPlayer()) return true;
      FWaiting = std::move(after);
      FMusic = Music{{}, {}, 0, FLink.PlayerWindow()};
      DoFirst(Sequence::Start);
      return true;
    }
  }
  return true;
}

// The announcement's entry is at `at`: the manual advance goes on before the first is played.
bool TKDOWinampAnnouncer::Added(int32_t at) {
  FAnnouncementEntry = at;
  FLength = FSeenLength;
  if (!FMusic->Touched) DoFirst(Sequence::ManualAdvanceOn);
  return true;
}

// What the watch saw. Entries that came or went before ours move them: they
// are looked for where they may be now, the likeliest places first.
void TKDOWinampAnnouncer::Judge() {
  const bool plays = FSeenAnnouncement && FSeenPosition == FAnnouncementEntry && FSeenState != 0;
  const bool moved = !FSeenAnnouncement || FSeenLength != FLength;
  // Once the playlist changed, the entries are found again by name before anything is decided; with
  // the announcement where it was, the music's entry is looked at before its end is.
  FSearch.reset();
  DoFirst(moved ? Sequence::JudgeAfterLocating : plays ? Sequence::JudgeAsSeen : Sequence::JudgeWhereSeen);
}

// One look for the announcement's entry (or the music's) at one place: the
// likeliest places first, then every entry from where it was down to the
// first and on to the last. True once found or given up.
bool TKDOWinampAnnouncer::Find(bool announcement) {
  TKDOPlayerState& music = FMusic->State;
  const int32_t old = announcement ? FAnnouncementEntry : music.Entry;
  const std::string_view file = !announcement ? std::string_view(FMusic->File)
                                : FPlaying ? std::string_view(FPlaying->File)
                                           : std::string_view();
  const int32_t length = FSeenLength;
  const bool fresh = !FSearch;
  Search& search = fresh ? FSearch.emplace() : *FSearch;
  if (fresh) {
    const int32_t shifted = old + (length - FLength);
    for (int32_t at : {announcement ? FSeenPosition : -1, shifted, old, announcement ? length - 1 : -1})
      if (at >= 0 && at < length && std::find(search.Candidates, search.Candidates + search.Count, at) ==
                                        search.Candidates + search.Count)
        search.Candidates[search.Count++] = at;
  }
  auto done = [&](int32_t found) {
    if (announcement) {
      FAnnouncementEntry = found;
    } else if (found >= 0) {
      music.Entry = found;
    } else if (!file.empty()) {
      music.TrackMs = 0;  // the music's entry went: the one that took its place, from its start
      FMusic->File.clear();
    }
    FSearch.reset();
    return true;
  };
  if (old < 0 || file.empty()) return done(old);  // nothing to look for
  const int32_t from = std::clamp(old, 0, std::max(length - 1, 0));
  const int32_t looks = int32_t(search.Count) + std::min(length, kLongestSearch);
  if (search.Looks >= looks) return done(-1);
  const int32_t k = search.Looks - int32_t(search.Count);
  const int32_t at = k < 0 ? search.Candidates[search.Looks] : k <= from ? from - k : k;
  std::string there;
  FLink.GetPlaylistFileInRange(at, there);
  if (!FLink.IsAnswering()) return false;
  if (kdo::text::EqualIgnoringAZCase(there, file)) return done(at);
  return ++search.Looks >= looks ? done(-1) : false;
}

// After an announcement: the next one, or the music back.
void TKDOWinampAnnouncer::Next() {
  FPlaying.reset();
  FAnnouncementEntry = -1;
  if (!FWaiting.empty() && !FGaveUp) {
    FPlaying = std::move(FWaiting.front());
    FWaiting.pop_front();
    DoFirst(Sequence::AddNext);
    return;
  }
  if (!FMusic->Touched) return Drop();  // nothing was played: the music was left alone
  PutBack();
}

// The music as it was; the manual advance first (the table says why).
void TKDOWinampAnnouncer::PutBack() {
  FEnding = true;
  const int32_t state = FMusic->State.PlayState;
  DoFirstOwed(state == 1   ? Sequence::PutBackPlaying
           : state == 3 ? Sequence::PutBackPaused
                        : Sequence::PutBackStopped);
}

void TKDOWinampAnnouncer::DoFirst(Sequence sequence) { FWork.DoFirst(kdo::announce::StepsOf(sequence)); }

void TKDOWinampAnnouncer::DoFirstOwed(Sequence sequence) {
  FWork.DoFirstIf(kdo::announce::StepsOf(sequence), [this](Step step) { return Owed(step); });
}

bool TKDOWinampAnnouncer::Starts() {
  return !FPlaying || !FPlaying->Together || FPlaying->Together->Pass(FPlaying->Arrived);
}

// The manual advance is owed back once turned on, each give-back until it is given.
bool TKDOWinampAnnouncer::Owed(Step step) const {
  if (step == Step::ManualAdvanceBack) return FMusic->Touched && !FMusic->ManualAdvanceGiven;
  if (step == Step::VolumeBack) return !FMusic->VolumeGiven;
  return true;
}

// The owed sends in order, while the budget lasts and the player answers;
// then the user's words that waited for them.
void TKDOWinampAnnouncer::Run(const TKDOSendBudget& budget) {
  const struct Running {
    bool& Flag;
    bool Was;
    ~Running() { Flag = Was; }
  } running{FRunning, FRunning};
  FRunning = true;
  FWork.Run(
      [&](Step next) {
        if (!FMusic) return false;
        if (FLink.PlayerWindow() != FMusic->Player) {
          Drop();
          return false;
        }
        // A removal follows its check in the same dispatch: a turn between them would let the user's
        // own changes in the player move another entry to where the check found the announcement's.
        return FLink.HasAnsweringPlayer() && (budget.Left() || next == Step::RemoveAnnouncement) &&
               (next != Step::AnnouncementVolume || Starts());
      },
      [this](Step step) { return Do(step); });
  while (!FMusic && !FWords.empty()) {
    if (FLink.PlayerWindow() != FWordsPlayer) {  // said to another player
      FWords.clear(), FWordLength = -1, FWordPlaylist = 0;
      return;
    }
    // A send would wait behind a question of ours: the words go once its answer is in.
    if (!FLink.HasAnsweringPlayer() || FLink.QuestionOutstanding() || !budget.Left()) return;
    const Said said = Say(FWords.front());
    if (said == Said::Again) return;
    if (said == Said::Done) FWords.pop_front(), FWordLength = -1, FWordPlaylist = 0;
  }
}

// Asked without waiting instead, a send is made again to take its answer; given up, never again.
TKDOWinampAnnouncer::Said TKDOWinampAnnouncer::Say(Word& word) {
  auto made = [this] { return FLink.AskedInstead() ? Said::Again : FLink.IsAnswering() ? Said::On : Said::Done; };
  if (word.Inserts.empty()) {
    FLink.Send(word.Command);
    return made() == Said::Again ? Said::Again : Said::Done;
  }
  // An insertion: where, the length, the playlist window, then the entry put there (and played).
  int32_t& index = word.Command.Value;
  if (index < 0) {
    const int32_t current = FLink.GetPlaylistPosition();
    if (made() == Said::On) index = std::max(current + 1, 0);
    return made();
  }
  if (FWordLength < 0) {
    const int32_t length = FLink.GetPlaylistLength();
    if (made() != Said::On) return made();
    FWordLength = length;
    return index > length && !word.AfterCurrent ? Said::Done : Said::On;
  }
  if (!FWordPlaylist) {
    FWordPlaylist = FLink.GetPlaylistWindow();
    return made() != Said::On ? made() : FWordPlaylist ? Said::On : Said::Done;
  }
  if (!FLink.InsertEntryVia(FWordPlaylist, word.Inserts, std::min(index, FWordLength)) || !word.Plays)
    return Said::Done;
  // Played at once: its own commands, next in turn.
  const int32_t at = std::min(index, FWordLength);
  FWords.insert(FWords.begin() + 1, {Word{{TWinAmpCommand::SetPlaylistPosition, at}, {}, false, false},
                                     Word{{TWinAmpCommand::Play}, {}, false, false}});
  return Said::Done;
}

// Within a poll's budget, in the answer's own dispatch.
void TKDOWinampAnnouncer::Resume() {
  const auto deferred = FWork.Deferred(FLink, Urgent());
  Run(TKDOSendBudget::Of(kdo::pace::kResumeBudgetMs));
}

void TKDOWinampAnnouncer::Drop() {
  FMusic.reset();
  FPlaying.reset();
  FWaiting.clear();
  FWork.Clear();
  FAnnouncementEntry = -1;
  FAnnouncementThere = false;
  FLookedAgain = false;
  FAddGivenUp = false;
  FPlaylistWindow = 0;
  FGaveUp = false;
  FEnding = false;
  FSearch.reset();
}
