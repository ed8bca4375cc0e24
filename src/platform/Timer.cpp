// The timer's behaviour common to both platforms; starting and stopping the
// underlying timer (Restart, the destructor) belongs to each platform.
#include "platform/Platform.h"
#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"

namespace platform {

Timer::Timer() = default;

void Timer::SetInterval(uint32_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Restart();
}

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Restart();
}

void Timer::SetOnTimer(std::function<void()> handler) {
  onTimer_ = std::move(handler);
  Restart();
}

// Ticks come from the message loop: nothing may escape into it. The handler
// runs from a copy, since it may end this timer's owner (and the timer with it).
void Timer::Tick() {
  const Dispatch dispatch;
  KDOGuard(kdo::text::Const<"a timer's tick">(), [&] {
    if (const std::function<void()> handler = onTimer_) handler();
  });
}

}  // namespace platform
