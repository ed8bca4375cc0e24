#include "cover/Lookup.h"

#include <atomic>

#include "cover/Find.h"

// What the lookup's thread shares with the poll: the question, then the
// answer, which the poll reads only once Done says it is there.
struct TKDOWinampCover::Lookup {
  platform::WindowHandle Player = 0;
  std::string File;
  std::string Answer;
  std::atomic<bool> Done{false};
  std::atomic<bool> Wanted{true};  // false once the mirror has gone
};

TKDOWinampCover::~TKDOWinampCover() {
  if (FLookup) FLookup->Wanted.store(false, std::memory_order_release);
}

bool TKDOWinampCover::Step(platform::WindowHandle player, const std::string& file, std::string& value) {
  if (FLookup && FLookup->Done.load(std::memory_order_acquire)) {
    FPlayer = FLookup->Player;
    FFile = std::move(FLookup->File);
    FAnswer = std::move(FLookup->Answer);
    FLookup.reset();
  }
  if (!Knows(player, file)) {
    if (FLookup) return false;  // the entry after it waits for it
    FPlayer = player;
    FFile = file;
    FAnswer.clear();
    // No entry, or a stream: no picture, and nothing to look up.
    if (!file.empty() && !kdo::cover::IsStream(file)) {
      auto lookup = std::make_shared<Lookup>();
      lookup->Player = player;
      lookup->File = file;
      const bool started = platform::RunOffThread([lookup] {
        try {
          lookup->Answer = kdo::cover::FindCover(lookup->File, platform::CoversFolder(), kdo::cover::kCoverBounds,
                                                 [&lookup] { return lookup->Wanted.load(std::memory_order_acquire); });
        } catch (...) {
          lookup->Answer.clear();  // out of memory: no cover
        }
        lookup->Done.store(true, std::memory_order_release);
      });
      if (started) {
        FPlayer = 0;
        FLookup = std::move(lookup);
        return false;
      }
    }
  }
  value.assign(FAnswer);
  return true;
}
