#include "announce/Fade.h"

#include <algorithm>

#include "announce/Announcer.h"
#include "winamp/WinAmp.h"

// A fade that cannot start leaves a running one be: the call did nothing.
bool TKDOWinampFade::Start(int32_t volume, int32_t seconds, std::optional<int32_t> given) {
  if (!FLink.HasAnsweringPlayer()) return false;
  const int32_t to = std::clamp(volume, 0, 255);
  const std::optional<int32_t> music = given ? given : FAnnouncer.MusicVolume();
  const int32_t from = music ? *music : FLink.AnsweredVolume();
  if (from < 0) return false;
  End();
  const int32_t duration = std::clamp(seconds, 0, kLongestSeconds);
  if (duration == 0) return Give(to);
  FRunning = Ramp{FLink.PlayerWindow(), from, to, platform::TickMs(), uint32_t(duration) * 1000u, from};
  return true;
}

bool TKDOWinampFade::Give(int32_t volume) {
  if (FAnnouncer.TakeMusicVolume(volume)) return true;
  if (!FLink.HasAnsweringPlayer()) return false;
  FLink.SetVolume(uint8_t(volume));
  return FLink.IsAnswering();
}

// The volume due now, on the straight line from the start to the target: each
// tick sets it, so the steps are even however the ticks fall, and a tick that
// was skipped is not made up for.
void TKDOWinampFade::Tick(const TKDOSendBudget& budget, bool asks) {
  if (!FRunning) return;
  Ramp& f = *FRunning;
  if (FLink.PlayerWindow() != f.Player) return End();
  const uint32_t elapsed = std::min(uint32_t(platform::TickMs() - f.StartedAt), f.DurationMs);
  const int32_t due = f.From + int32_t(int64_t(f.To - f.From) * elapsed / f.DurationMs);
  if (due != f.Sent && budget.Left()) {
    const auto deferred = FAsker.Deferred(FLink, asks);
    if (Give(due)) f.Sent = due;
  }
  if (elapsed == f.DurationMs && f.Sent == f.To) End();
}
