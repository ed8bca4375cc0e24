#include "night/Night.h"

#include <algorithm>

#include "announce/Announcer.h"
#include "announce/Fade.h"
#include "winamp/WinAmp.h"

using kdo::night::Sequence;
using kdo::night::StepsOf;

TKDOWinampNight::TKDOWinampNight(TWinAmpControl& link, TKDOWinampAnnouncer& announcer, TKDOWinampFade& fade)
    : FLink(link), FAnnouncer(announcer), FFade(fade),
      FWork([this] { Tick(TKDOSendBudget::Of(kdo::pace::kResumeBudgetMs), false); }) {}

// Lowered, the player's volume comes down within the call, as far as its one send limit goes.
void TKDOWinampNight::SetCeiling(int32_t volume) {
  FLink.SetVolumeCeiling(uint8_t(std::clamp(volume, 0, 255)));
  if (FWork.Idle() && FLink.VolumeCeiling() < 255) Look();
  Tick(TKDOSendBudget::Unlimited());
}

bool TKDOWinampNight::Sleep(int32_t minutes, int32_t fadeSeconds) {
  if (minutes < 0 || minutes > kLongestMinutes || fadeSeconds < 0 || fadeSeconds > kLongestFadeSeconds ||
      !FLink.HasAnsweringPlayer())
    return false;
  Wake(true);  // a new timer replaces the old
  if (minutes > 0)
    FTimer = Timer{FLink.PlayerWindow(), platform::TickMs() + uint32_t(minutes) * 60000u, fadeSeconds, {}};
  return true;
}

void TKDOWinampNight::Wake(bool giveBack) {
  if (!FTimer) return;
  const std::optional<int32_t> from = FTimer->Fading ? FTimer->From : std::nullopt;
  const bool samePlayer = FLink.PlayerWindow() == FTimer->Player;
  FTimer.reset();
  FWork.Clear();  // the ceiling's look comes again at the next turn
  if (!from) return;
  FFade.End();
  // While an announcement holds the music, the music comes back at it.
  if (giveBack && samePlayer && !FAnnouncer.TakeMusicVolume(*from))
    FAnnouncer.After({TWinAmpCommand::SetVolume, *from});
}

void TKDOWinampNight::Tick(const TKDOSendBudget& budget, bool asks) {
  if (FTimer && FLink.PlayerWindow() != FTimer->Player) Wake(false);  // another player: nothing of it there
  const auto deferred = FWork.Deferred(FLink, asks);
  if (FTimer && FTimer->Fading && FWork.Idle() && !FFade.Running()) {
    // Faded out: stopped, then the volume back for the morning, each after the announcer's work.
    FAnnouncer.After({TWinAmpCommand::Stop});
    FAnnouncer.After({TWinAmpCommand::SetVolume, *FTimer->From});
    FTimer.reset();
  }
  if (FWork.Idle() && FTimer && !FTimer->Fading && int32_t(platform::TickMs() - FTimer->DueAt) >= 0) {
    FTimer->Fading = true;
    FWork.DoFirst(StepsOf(Sequence::Sleep));
  } else if (FWork.Idle() && FLink.VolumeCeiling() < 255) {
    Look();
  }
  FWork.Run([&](Step) { return budget.Left() && FLink.HasAnsweringPlayer() && !FLink.QuestionOutstanding(); },
            [this](Step step) { return Do(step); });
}

// The player's volume, from now: one the module gives meanwhile is held already, and the last word.
void TKDOWinampNight::Look() {
  FVolumesGiven = FLink.VolumesGiven();
  FWork.DoFirst(StepsOf(Sequence::Ceiling));
}

bool TKDOWinampNight::Do(Step step) {
  switch (step) {
    case Step::Volume:
      FVolume = FLink.AnsweredVolume();
      return FVolume >= 0;
    case Step::Lower:
      if (FVolume > FLink.VolumeCeiling() && FLink.VolumesGiven() == FVolumesGiven)
        FLink.SetVolume(FLink.VolumeCeiling());
      return FLink.IsAnswering();
    case Step::From: {
      const std::optional<int32_t> music = FAnnouncer.MusicVolume();
      const int32_t from = music ? *music : FLink.AnsweredVolume();
      if (from >= 0) FTimer->From = from;
      return from >= 0;
    }
    case Step::Fade:
      return FFade.Start(0, FTimer->FadeSeconds, FTimer->From);
  }
  return false;
}
