// What an instance costs over the bare Windows calls it makes, against a bound
// player.exe:
// - one status poll with all eleven settings set, beside the twelve sends and
//   two reads of the player's memory that poll needs;
// - one script call (WAC_Play through the server's dispatcher into the
//   handler), beside one bare send of the same message.
// The instance is made from the module's code with the stand-in server's
// kernel, and its mirror is polled directly. Nothing changes during the
// polls (the track is stopped), so the poll writes no variable.
#include <windows.h>

#include <cstdio>
#include <string>

#include "BareCalls.h"
#include "BoundInstance.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
  const int perRound = 200;
  const uint16_t id = uint16_t(50000 + GetCurrentProcessId() % 10000);

  int rc = 0;
  {
    host::Server server;
    bench::BoundInstance bound(server, id);
    if (!bound.Bound()) return 1;
    bench::MirrorProbe& mirror = bound.Mirror();
    const HWND w = bound.Window();
    bound.Interface().AddFile(TKDOText("C:\\Music\\Some Artist - A Rather Ordinary Song Title.mp3").get());
    mirror.Poll();  // fills the variables: the polls measured change nothing
    const int writes = bound.Writes();

    int64_t sink = 0;
    // One whole poll each time: the pace that spaces the timer's polls is not what is measured.
    const bench::Paired poll =
        bench::Interleave(rounds, perRound, [&] { mirror.Poll(); }, [&] { sink += bench::BareQuerySet(w) + bench::BarePlayState(w); });
    const int writesAfter = bound.Writes();

    int64_t calls = 0;
    const bench::Paired call = bench::Interleave(
        rounds, 5 * perRound,
        [&] {
          sink += server.Call("WAC_Play", id, {}).Bool;
          if ((++calls & 1023) == 0) server.ClearDebug();  // the stand-in keeps every debug line
        },
        [&] { sink += bench::Send(w, WM_COMMAND, 40045, 0); });

    std::printf("status poll, all eleven settings (12 messages, 2 remote reads), median of %d rounds of %d:\n",
                rounds, perRound);
    std::printf("  bare Windows calls : %9.1f us\n", poll.B);
    std::printf("  instance's poll    : %9.1f us\n", poll.A);
    std::printf("  ratio poll / bare  : %9.3f   (median of the rounds' ratios; goal <= 1.03)\n", poll.Ratio);
    std::printf("  variables written during the measured polls: %d (nothing changed)\n", writesAfter - writes);
    std::printf("script call WAC_Play (server's dispatcher, handler, one send), median of %d rounds of %d:\n", rounds,
                5 * perRound);
    std::printf("  bare send          : %9.1f us\n", call.B);
    std::printf("  script call        : %9.1f us\n", call.A);
    std::printf("  ratio call / bare  : %9.3f   (median of the rounds' ratios; goal < 1.05)\n", call.Ratio);
    std::printf("(checksum %lld)\n", static_cast<long long>(sink % 1000));
    if (writesAfter != writes) rc = 1;
  }
  return rc;
}
