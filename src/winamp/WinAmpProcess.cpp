#include "winamp/WinAmpProcess.h"

#include <algorithm>
#include <cmath>

#include "sdk/KDOText.h"

namespace {

constexpr uint32_t kClose = 40001;  // WM_COMMAND

// Whole seconds between two day-count times, fractions dropped. Rounded to the
// millisecond first, so 61.000 s is 61 and 60.999 s is 60 whatever the double's last bits.
int64_t WholeSecondsBetween(double a, double b) {
  const double ms = std::fabs(a - b) * 86400000.0;
  if (!(ms < 9.0e18)) return INT64_MAX;  // far apart (or not a number): always "long ago"
  return std::llround(ms) / 1000;
}

}  // namespace

TWinAmpProcess::TWinAmpProcess(TWinAmpChannel& channel)
    : FChannel(channel), FCheckTimer(std::make_unique<platform::Timer>()) {
  FCheckTimer->SetOnTimer([this] { CheckPlayer(); });
}

TWinAmpProcess::~TWinAmpProcess() {
  FCheckTimer.reset();  // stopped and released; not touched again
  // A player we started may show its window only now: look once more, so that
  // it is not left running with nobody to close it.
  // Nothing may escape a destructor: the lookup and a close command given up
  // (which asks after the player) can each need memory.
  try {
    if (!FChannel.Window() && FLaunchTime != 0 && (StartedLately() || FStarted.Running()))
      FChannel.Hold(LookUp());
    ClosePlayer();
  } catch (...) {
    // Out of memory: the late player is left to the next instance of its class.
  }
  FChannel.Hold(0);
}

void TWinAmpProcess::SetPath(std::string_view path) {
  if (kdo::text::EqualIgnoringAZCase(path, FPath)) return;
  Unbind();
  FPath = path;
  FStarted = {};  // a copy of the old location that never showed its window is left to itself
  Bind();
  // A player found at once is watched like one the link started, so that its exit is noticed.
  if (FChannel.Window()) {
    FCheckTimer->SetInterval(kWatchInterval);
    FCheckTimer->SetEnabled(true);
  }
}

bool TWinAmpProcess::StartedLately() const {
  return WholeSecondsBetween(FLaunchTime, platform::Now()) <= kRestartAfterSeconds;
}

// A window told to close may still be closing, or hang with the command in its
// queue: it is not our player any more, but another window of the class is.
platform::WindowHandle TWinAmpProcess::LookUp() {
  if (FClosing.empty()) return platform::FindWindowByClass(FClassName);
  const std::vector<platform::WindowHandle> windows = platform::FindWindowsByClass(FClassName);
  auto listed = [](const std::vector<platform::WindowHandle>& list, platform::WindowHandle w) {
    return std::find(list.begin(), list.end(), w) != list.end();
  };
  // Gone windows are forgotten: Windows may give their handles to new ones.
  std::erase_if(FClosing, [&](platform::WindowHandle w) { return !listed(windows, w); });
  for (platform::WindowHandle window : windows)
    if (!listed(FClosing, window)) return window;
  return 0;
}

void TWinAmpProcess::Bind() {
  FChannel.Hold(LookUp());
  if (FChannel.Window()) return;
  if (!platform::FileExists(FPath)) return;
  FLaunchTime = platform::Now();
  FCheckTimer->SetInterval(kStartInterval);
  FCheckTimer->SetEnabled(true);
  FStarted = platform::ShellOpen(FPath, "/CLASS=\"" + FClassName + "\"", platform::SW_MINIMIZE_);
}

void TWinAmpProcess::Unbind() {
  FCheckTimer->SetEnabled(false);
  if (const platform::WindowHandle window = FChannel.Window()) {
    ClosePlayer();
    FClosing.push_back(window);
  }
  FChannel.Hold(0);
}

void TWinAmpProcess::CheckPlayer() {
  FChannel.Hold(LookUp());
  if (FChannel.Window()) {
    if (!FChannel.IsAnswering()) FChannel.CheckAnswering(true);
    if (FCheckTimer->Interval() == kStartInterval) FCheckTimer->SetInterval(kWatchInterval);
    return;
  }
  // The copy started last may still be coming up (a first-run dialog, a slow
  // disk): another one is started only once it has ended.
  if (!StartedLately() && !FStarted.Running()) Bind();
}

// A player that does not answer gets the close command in its queue rather
// than a second wait: it closes when it comes back, instead of lingering
// beside the player started in its place. A send given up never reached the
// window: the command is then queued as well.
void TWinAmpProcess::ClosePlayer() {
  const platform::WindowHandle window = FChannel.Window();
  if (!window) return;
  if (!FChannel.IsAnswering() ||
      FChannel.Send(window, platform::WM_COMMAND_, kClose, 0).Outcome == platform::SendOutcome::GivenUp)
    platform::PostMessageNoWait(window, platform::WM_COMMAND_, kClose, 0);
}
