// What the link costs over the bare Windows calls it makes: one full status
// query set (eleven messages and two reads of the player's memory) against a
// bound player.exe, beside the same eleven sends and two reads done directly.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "BareCalls.h"
#include "winamp/WinAmp.h"
#include "host/win32/ModuleLibrary.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
  const int perRound = 200;
  const std::string cls = "WA_BENCH_" + std::to_string(GetCurrentProcessId());

  TWinAmpControl link;
  link.SetWinAmpClassName(cls);
  link.SetWinAmpPath(host::ProgramDirectory() + "\\player.exe");
  for (int i = 0; i < 300 && !link.IsBound(); ++i) host::PumpMessages(50);
  if (!link.IsBound()) {
    std::fprintf(stderr, "bench: player.exe did not come up\n");
    return 1;
  }
  const HWND w = FindWindowA(cls.c_str(), nullptr);  // the one player of the class, which the link holds
  link.AddFile("C:\\Music\\A rather ordinary song title.mp3");

  int64_t sink = 0;
  const bench::Paired set = bench::Interleave(
      rounds, perRound, [&] { sink += LinkSet(link); }, [&] { sink += bench::BareQuerySet(w); });
  std::printf("status query set (11 messages, 2 remote reads), median of %d rounds of %d:\n", rounds, perRound);
  std::printf("  bare Windows calls : %9.1f us\n", set.B);
  std::printf("  through the link   : %9.1f us\n", set.A);
  std::printf("  ratio link / bare  : %9.3f   (median of the rounds' ratios; goal < 1.05)\n", set.Ratio);
  std::printf("(checksum %lld)\n", static_cast<long long>(sink % 1000));
  return 0;
}
