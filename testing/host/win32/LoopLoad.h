// The server's message loop, timed: how long each dispatch held the thread.
// Waiting for messages is idle time. Used by the Windows tests and benchmarks
// that measure what a misbehaving player costs the server.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>

namespace host {

struct LoopLoad {
  double LongestMs = 0;    // the longest single dispatch
  double Share = 0;        // of the whole run
  double PeriodShare = 0;  // from the first long dispatch's start to the last one's: whole periods (0: fewer than two)
};

// Runs the loop for `ms`; a dispatch of at least `longMs` counts as one period's poll.
inline LoopLoad RunLoopTimed(unsigned ms, double longMs = 100) {
  using Clock = std::chrono::steady_clock;
  auto since = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
  LoopLoad load;
  double busy = 0, firstLong = -1, lastLong = -1, busyAtFirst = 0, busyAtLast = 0;
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::milliseconds(ms);
  for (auto now = begin; now < end; now = Clock::now()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::max(1.0, since(now, end))), QS_ALLINPUT);
    for (bool got = true; got;) {
      const auto t = Clock::now();
      MSG msg;
      got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
      if (got) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      const double took = since(t, Clock::now());
      if (took >= longMs) {
        if (firstLong < 0) firstLong = since(begin, t), busyAtFirst = busy;
        lastLong = since(begin, t);
        busyAtLast = busy;
      }
      busy += took;
      load.LongestMs = std::max(load.LongestMs, took);
    }
  }
  load.Share = busy / since(begin, Clock::now());
  if (lastLong > firstLong) load.PeriodShare = (busyAtLast - busyAtFirst) / (lastLong - firstLong);
  return load;
}

}  // namespace host
