// What the link costs over the bare Windows calls it makes: one full status
// query set (eleven messages and two reads of the player's memory) against a
// bound player.exe, beside the same eleven sends and two reads done directly.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "winamp/WinAmp.h"
#include "win32/ModuleLibrary.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Here() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path, n);
  return p.substr(0, p.find_last_of("\\/") + 1);
}

int32_t Send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR r = 0;
  SendMessageTimeoutA(w, msg, wp, lp, SMTO_NORMAL | SMTO_ABORTIFHUNG, 2000, &r);
  return int32_t(r);
}

std::string BareRead(HWND w, int32_t index, UINT which) {
  char buffer[501] = {};
  const uint32_t address = uint32_t(Send(w, WM_USER, WPARAM(index), which));
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE p = OpenProcess(0x001F0FFF, FALSE, pid);
  SIZE_T got = 0;
  ReadProcessMemory(p, reinterpret_cast<LPCVOID>(uintptr_t(address)), buffer, 500, &got);
  CloseHandle(p);
  return buffer;
}

// The eleven sends and two reads, without the link.
int64_t BareSet(HWND w) {
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

int64_t LinkSet(TWinAmpControl& link) {
  int64_t sink = 0;
  std::string text;
  sink += link.GetTrackPosition();
  sink += link.GetTrackLength();
  link.GetCurrentFile(text);
  sink += int64_t(text.size());
  link.GetCurrentTitle(text);
  sink += int64_t(text.size());
  sink += link.GetVolume();
  sink += link.GetShuffle();
  sink += link.GetRepeat();
  return sink;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
  const int perRound = 200;
  const std::string cls = "WA_BENCH_" + std::to_string(GetCurrentProcessId());

  TWinAmpControl link;
  link.SetWinAmpClassName(cls);
  link.SetWinAmpPath(Here() + "player.exe");
  for (int i = 0; i < 300 && !link.IsBound(); ++i) host::PumpMessages(50);
  if (!link.IsBound()) {
    std::fprintf(stderr, "bench: player.exe did not come up\n");
    return 1;
  }
  const HWND w = HWND(uintptr_t(link.PlayerWindow()));
  link.AddFile("C:\\Music\\A rather ordinary song title.mp3");

  std::vector<double> bare, linked;
  int64_t sink = 0;
  // Sets alternate one by one (which goes first changes every pair), so that
  // the drift of Wine's message passing hits both sides alike.
  for (int r = 0; r < rounds; ++r) {
    double bareUs = 0, linkUs = 0;
    for (int i = 0; i < perRound; ++i) {
      for (int k = 0; k < 2; ++k) {
        const bool linkTurn = (k == 0) == ((i + r) % 2 == 0);
        const auto t0 = Clock::now();
        sink += linkTurn ? LinkSet(link) : BareSet(w);
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        (linkTurn ? linkUs : bareUs) += us;
      }
    }
    bare.push_back(bareUs / perRound);
    linked.push_back(linkUs / perRound);
  }
  const double b = Median(bare), l = Median(linked);
  std::printf("status query set (11 messages, 2 remote reads), median of %d rounds of %d:\n", rounds, perRound);
  std::printf("  bare Windows calls : %9.1f us\n", b);
  std::printf("  through the link   : %9.1f us\n", l);
  std::printf("  ratio link / bare  : %9.3f   (goal < 1.05)\n", l / b);
  std::printf("(checksum %lld)\n", static_cast<long long>(sink % 1000));
  return 0;
}
