// What an instance costs over the bare Windows calls it makes, against a bound
// player.exe:
// - one status poll with all seven identifiers set, beside the eleven sends and
//   two reads of the player's memory that poll needs;
// - one script call (WAC_Play through the server's dispatcher into the
//   handler), beside one bare send of the same message.
// The instance is made from the module's code with the stand-in server's
// kernel, so that its poll can be called directly. Nothing changes during the
// polls (the track is stopped), so the poll writes no variable.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "KDOHost.h"
#include "instance/Device.WinampControl_Interface.h"
#include "module/Device.WinampControl.h"
#include "win32/ModuleLibrary.h"
#include "winamp/WinAmp.h"

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

// The eleven sends and two reads of a poll with all seven identifiers, without the module.
int64_t BarePoll(HWND w) {
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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs the two sides one at a time, which one goes first changing every pair,
// so that the drift of Wine's message passing hits both alike. Gives the
// medians over the rounds (us per run) and the median of the rounds' ratios a / b.
struct Paired {
  double A = 0, B = 0, Ratio = 0;
};
Paired Interleave(int rounds, int perRound, const std::function<void()>& a, const std::function<void()>& b) {
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

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
  const int perRound = 200;
  const uint16_t id = uint16_t(50000 + GetCurrentProcessId() % 10000);

  int rc = 0;
  {
    host::Server server;
    const char* const keys[] = {"TrackPosVar", "TrackLenVar", "TrackFileVar", "TrackTitleVar",
                                "VolumeVar",   "ShuffleVar",  "RepeatVar"};
    const host::Value initial[] = {host::Value::S(""), host::Value::S(""), host::Value::S(""), host::Value::S(""),
                                   host::Value::I(0),  host::Value::B(false), host::Value::B(false)};
    auto* made = new TKDOWinampControl(server.Kernel(), id, &WinampControlModuleInfo());
    TKDORef<IKDOModule> instance(made->ModuleInterface());
    TKDOWinampControlSettings s;
    s.WinampLocation = TKDOText(Here() + "player.exe");
    for (int i = 0; i < 7; ++i) {
      server.DefineVariable(keys[i], initial[i]);
      s.*KDOWinampControlSettingsKeys[std::size_t(i + 1)].Field = TKDOText(keys[i]);
    }
    made->SetSettings(s);
    for (int i = 0; i < 300 && !made->PlayerLink().IsBound(); ++i) host::PumpMessages(50);
    if (!made->PlayerLink().IsBound()) {
      std::fprintf(stderr, "bench: player.exe did not come up\n");
      return 1;
    }
    const HWND w = HWND(uintptr_t(made->PlayerLink().PlayerWindow()));
    made->AddFile("C:\\Music\\Some Artist - A Rather Ordinary Song Title.mp3");
    made->StatusPoll();  // fills the variables: the polls measured change nothing
    int writes = 0;
    for (const char* k : keys) writes += server.VariableWrites(k);

    int64_t sink = 0;
    const Paired poll = Interleave(rounds, perRound, [&] { made->StatusPoll(); }, [&] { sink += BarePoll(w); });
    int writesAfter = 0;
    for (const char* k : keys) writesAfter += server.VariableWrites(k);

    int64_t calls = 0;
    const Paired call = Interleave(
        rounds, 5 * perRound,
        [&] {
          sink += server.Call("WAC_Play", id, {}).Bool;
          if ((++calls & 1023) == 0) server.ClearDebug();  // the stand-in keeps every debug line
        },
        [&] { sink += Send(w, WM_COMMAND, 40045, 0); });

    std::printf("status poll, all seven identifiers (11 messages, 2 remote reads), median of %d rounds of %d:\n",
                rounds, perRound);
    std::printf("  bare Windows calls : %9.1f us\n", poll.B);
    std::printf("  instance's poll    : %9.1f us\n", poll.A);
    std::printf("  ratio poll / bare  : %9.3f   (median of the rounds' ratios; goal < 1.05)\n", poll.Ratio);
    std::printf("  variables written during the measured polls: %d (nothing changed)\n", writesAfter - writes);
    std::printf("script call WAC_Play (server's dispatcher, handler, one send), median of %d rounds of %d:\n", rounds,
                5 * perRound);
    std::printf("  bare send          : %9.1f us\n", call.B);
    std::printf("  script call        : %9.1f us\n", call.A);
    std::printf("  ratio call / bare  : %9.3f   (median of the rounds' ratios; goal < 1.05)\n", call.Ratio);
    std::printf("(checksum %lld)\n", static_cast<long long>(sink % 1000));
    if (writesAfter != writes) rc = 1;

    instance.reset();  // closes the player
  }
  host::PumpMessages(200);
  return rc;
}
