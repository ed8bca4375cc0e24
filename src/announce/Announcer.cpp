// The announcer's operations: they queue its named sequences and run the
// queue; the steps' file does the sends.
#include "announce/Announcer.h"

#include <algorithm>
#include <utility>

#include "sdk/KDOText.h"
#include "winamp/WinAmp.h"

bool TKDOWinampAnnouncer::OnPlayer() const { return FMusic && FLink.PlayerWindow() == FMusic->Player; }
bool TKDOWinampAnnouncer::Held() const { return OnPlayer() && FMusic->Kept; }

bool TKDOWinampAnnouncer::SaveState() {
  if (Held()) {
    FSaved = FMusic->State;  // the music, not the announcement
    return true;
  }
  std::optional<TKDOPlayerState> state = CapturePlayerState(FLink);
  if (!state) return false;
  FSaved = state;
  return true;
}

// Put back as the music after an announcement is, step by step: what the
// call's one send limit leaves undone goes on in the ticks, never half done.
// Not while a row still gives the player back.
bool TKDOWinampAnnouncer::RestoreState() {
  if (!FSaved || !FLink.HasAnsweringPlayer() || FMusic) return false;
  FMusic = Music{*FSaved, {}, 0, FLink.PlayerWindow()};
  FMusic->Kept = true;
  FLength = -1;  // not known: the saved entry is given as it is, as saved
  PutBack();
  const auto deferred = Deferred();
  Run(TKDOSendBudget::Unlimited());
  return true;
}

bool TKDOWinampAnnouncer::Announce(std::string_view fileName, int32_t volume,
                                   std::shared_ptr<TKDOStartTogether> together, const TKDOSendBudget& budget) {
  if (!TWinAmpControl::IsFileName(fileName)) return false;
  const std::string_view file = TrimBlanksAndControls(fileName);  // as the player reports names
  // With a slow player, a row that plays is followed in the ticks, not in the call: sends that wait
  // would spend the call's time (an event script's, inside a write, has little) and refuse it.
  const bool joins = OnPlayer() && FPlaying && !FGaveUp && !FEnding && FLink.IsSlow();
  if (!joins) FollowNow();
  // What a row given up on, or a put-back, still owes the player comes first.
  if (FMusic && (FGaveUp || FEnding)) {
    Run(TKDOSendBudget::Unlimited());
    if (FMusic) return false;
  }
  if (!FWords.empty()) Run(TKDOSendBudget::Unlimited());  // the user's commands first
  // In a group, a room the call has no time left for starts in its own ticks.
  const bool answers = FLink.HasAnsweringPlayer() || (together && FLink.IsBound() && !FLink.IsHung());
  if (!answers || FWaiting.size() >= kMostWaiting || !FWords.empty()) return false;
  FWaiting.push_back({std::string(file), uint8_t(std::clamp(volume, 0, 255)), platform::TickMs()});
  if (FMusic) return true;  // it follows the one that plays
  if (together) together->Expect(), FWaiting.back().Together = std::move(together);
  FMusic = Music{{}, {}, 0, FLink.PlayerWindow()};
  DoFirst(Sequence::Start);
  // A new row asks a slow player without waiting: the call returns at once. (The row under way
  // above was followed with sends that wait: what the call does next depends on it.)
  const auto deferred = Deferred();
  Run(budget);
  // A player that has just answered slowly is not waited for: its room starts as soon as it can.
  Announcement* started = FPlaying ? &*FPlaying : FWaiting.empty() ? nullptr : &FWaiting.front();
  if (started && started->Together && !started->Arrived && FLink.LastAnswerMs() >= TWinAmpChannel::kSlowMs)
    std::exchange(started->Together, nullptr)->Leave();
  return FMusic.has_value();  // ended already: the player did not add it
}

void TKDOWinampAnnouncer::Go() {
  // Only a room waiting at its start: one still on its way goes on in its ticks, and the room
  // whose start let the group go goes on by itself.
  if (!OnPlayer() || FRunning || FWork.Idle() || FWork.Next() != Step::AnnouncementVolume) return;
  const auto deferred = Deferred();
  Run(TKDOSendBudget::Unlimited());
}

// The row as it is now, not as the last tick saw it: the room may have moved
// on since, and entries may have come and gone before its own.
void TKDOWinampAnnouncer::FollowNow() {
  if (FMusic && !OnPlayer()) Drop();  // another player: nothing to put back there
  if (!FMusic || FGaveUp) return;
  Run(TKDOSendBudget::Unlimited());
  if (FMusic && FPlaying && !FEnding && FWork.Idle() && FLink.HasAnsweringPlayer()) {
    DoFirst(Sequence::Watch);
    Run(TKDOSendBudget::Unlimited());
  }
}

void TKDOWinampAnnouncer::Tick(const TKDOSendBudget& budget) {
  // The user's commands to a player silent for that long go nowhere, as the waiting announcements.
  if (FLink.SilentForMs() > kdo::pace::kGiveUpAfterMs) FWords.clear(), FWordLength = -1, FWordPlaylist = 0;
  if (!FMusic) {
    if (FWords.empty()) return;
    const auto deferred = Deferred();
    return Run(budget);
  }
  if (FLink.PlayerWindow() != FMusic->Player) return Drop();  // another player, or none: nothing to put back there
  if (!FLink.IsAnswering()) {
    if (!FGaveUp && FLink.SilentForMs() > kdo::pace::kGiveUpAfterMs) {
      FGaveUp = true;
      FWaiting.clear();
      // Moving on owes what it owes as it is: only a row still on puts the music back.
      if (FPlaying && !FEnding) {
        FWork.Clear();
        DoFirst(Sequence::GiveUp);
      }
    }
    return;
  }
  if (FWork.Idle() && FPlaying) DoFirst(Sequence::Watch);
  const auto deferred = Deferred();
  Run(budget);
}

bool TKDOWinampAnnouncer::Urgent() const {
  if (!FMusic) return !FWords.empty();
  // A watch while it plays is not, until it sees the player stopped: the announcement has ended.
  return !FWork.Idle() && !(FWork.Owes(Step::Judge) && FSeenState != 0);
}

void TKDOWinampAnnouncer::MoveOn() {
  if (!FMusic) return;
  if (!Held()) return Drop();  // another player, or nothing touched yet: only questions were asked
  FWaiting.clear();
  FWork.Clear();
  FGaveUp = false;
  FEnding = true;
  // The manual advance and the volume go back only where they are still owed.
  DoFirstOwed(FPlaying ? Sequence::MoveOn : Sequence::GiveBack);
  Run(TKDOSendBudget::Unlimited());
}

void TKDOWinampAnnouncer::After(TWinAmpWord word) {
  if (FWords.empty()) FWordsPlayer = FLink.PlayerWindow();
  FWords.push_back({word, {}, false, false});
  Run(TKDOSendBudget::Unlimited());
}

void TKDOWinampAnnouncer::InsertAfter(std::string_view file, int32_t index, bool plays) {
  if (FWords.empty()) FWordsPlayer = FLink.PlayerWindow();
  FWords.push_back({{TWinAmpCommand::SetPlaylistPosition, index}, std::string(file), index < 0, plays});
  const auto deferred = Deferred();
  Run(TKDOSendBudget::Unlimited());
}

std::optional<int32_t> TKDOWinampAnnouncer::MusicVolume() const {
  if (!Held() || FMusic->VolumeGiven) return std::nullopt;
  return FMusic->State.Volume;
}

// While the music is being kept, what was asked already takes the word too,
// and the player is given it as well.
bool TKDOWinampAnnouncer::TakeMusicVolume(int32_t volume) {
  if (!OnPlayer()) return false;
  FMusic->State.Volume = volume;
  return FMusic->Kept && !FMusic->VolumeGiven;
}

void TKDOWinampAnnouncer::TakeMusicShuffle(bool on) {
  if (OnPlayer()) FMusic->State.Shuffle = on;
}

void TKDOWinampAnnouncer::TakeMusicRepeat(bool on) {
  if (OnPlayer()) FMusic->State.Repeat = on;
}

// Our own removal: the entries after it move up by one. Where ours are is
// only known for sure once they are found again by name, before any is removed.
// What a watch under way has seen (it may span ticks) moves with them, and a
// search under way starts again over the entries as they are now.
void TKDOWinampAnnouncer::EntryRemoved(int32_t index) {
  if (!OnPlayer()) return;
  if (FLength >= 0) FLength = std::max(FLength - 1, 0);
  if (index < FAnnouncementEntry) --FAnnouncementEntry;
  if (index < FMusic->State.Entry) --FMusic->State.Entry;
  if (index < FSeenLength) --FSeenLength;
  if (index < FSeenPosition) --FSeenPosition;
  FSearch.reset();
}

// Our own insertion: the entries from `index` on move down by one. An announcement
// being added is counted with it, so that the count after tells it was taken,
// and one to be checked as the last entry is looked for where it went.
void TKDOWinampAnnouncer::EntryInserted(int32_t index) {
  if (!OnPlayer()) return;
  auto owes = [this](Step step) { return FWork.Owes(step); };
  if (FLength >= 0) ++FLength;
  if (owes(Step::LengthAfter)) ++FLengthBefore;
  if (!owes(Step::CheckAdded) || index < FSeenLength) ++FSeenLength;
  if (index <= FSeenPosition) ++FSeenPosition;
  if (FAnnouncementEntry >= 0 && index <= FAnnouncementEntry) ++FAnnouncementEntry;
  if (index <= FMusic->State.Entry) ++FMusic->State.Entry;
  FSearch.reset();
}

// Where that entry stands now. A music entry that went leaves its index to
// the entry after it; where that is the announcement's, the put-back returns to the
// one after the announcement.
std::optional<int32_t> TKDOWinampAnnouncer::MusicEntry() {
  FollowNow();
  if (!Held()) return std::nullopt;
  const int32_t entry = FMusic->State.Entry;
  return FAnnouncementEntry >= 0 && entry == FAnnouncementEntry ? entry + 1 : entry;
}

std::optional<TKDOPlayerState> TKDOWinampAnnouncer::MusicState() {
  const std::optional<int32_t> entry = MusicEntry();
  if (!entry) return std::nullopt;
  TKDOPlayerState state = FMusic->State;
  state.Entry = *entry;
  return state;
}
