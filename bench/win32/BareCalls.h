// The bare Windows calls a status query set makes, and the pairing of two
// measured sides, shared by the Windows benchmarks.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline int32_t Send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR r = 0;
  SendMessageTimeoutA(w, msg, wp, lp, SMTO_NORMAL | SMTO_ABORTIFHUNG, 2000, &r);
  return int32_t(r);
}

inline std::string BareRead(HWND w, int32_t index, UINT which) {
  char buffer[501] = {};
  const uint32_t address = uint32_t(Send(w, WM_USER, WPARAM(index), which));
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE p = OpenProcess(PROCESS_VM_READ, FALSE, pid);  // as the module opens it for a text
  SIZE_T got = 0;
  ReadProcessMemory(p, reinterpret_cast<LPCVOID>(uintptr_t(address)), buffer, 500, &got);
  CloseHandle(p);
  return buffer;
}

// The eleven sends and two reads of a full status query set, done directly.
inline int64_t BareQuerySet(HWND w) {
  int64_t sink = 0;
  sink += Send(w, WM_USER, 0, 105) / 1000;
  sink += Send(w, WM_USER, 1, 105);
  int32_t pos = Send(w, WM_USER, 0, 125);
  if (pos < Send(w, WM_USER, 0, 124)) sink += int64_t(BareRead(w, pos, 211).size());
  pos = Send(w, WM_USER, 0, 125);
  if (pos < Send(w, WM_USER, 0, 124)) sink += int64_t(BareRead(w, pos, 212).size());
  sink += uint8_t(Send(w, WM_USER, WPARAM(-666), 122));
  sink += Send(w, WM_USER, 0, 250) > 0;
  sink += Send(w, WM_USER, 0, 251) > 0;
  return sink;
}

// The play state's one send, which a poll adds when its variable is chosen.
inline int64_t BarePlayState(HWND w) { return Send(w, WM_USER, 0, 104); }

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs the two sides one at a time, which one goes first changing every pair,
// so that the drift of Wine's message passing hits both alike. Gives the
// medians over the rounds (us per run) and the median of the rounds' ratios a / b.
struct Paired {
  double A = 0, B = 0, Ratio = 0;
};
inline Paired Interleave(int rounds, int perRound, const std::function<void()>& a, const std::function<void()>& b) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> as, bs, ratios;
  for (int r = 0; r < rounds; ++r) {
    double sa = 0, sb = 0;
    for (int i = 0; i < perRound; ++i) {
      for (int k = 0; k < 2; ++k) {
        const bool aTurn = (k == 0) == ((i + r) % 2 == 0);
        const auto t0 = Clock::now();
        (aTurn ? a : b)();
        (aTurn ? sa : sb) += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
      }
    }
    as.push_back(sa / perRound);
    bs.push_back(sb / perRound);
    ratios.push_back(sa / sb);
  }
  return {Median(as), Median(bs), Median(ratios)};
}

}  // namespace bench
