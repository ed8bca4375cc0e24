#include "work/Pacer.h"

#include <algorithm>
#include <utility>

#include "winamp/WinAmp.h"

TKDOPacer::TKDOPacer(IKDOModule& instance, TWinAmpControl& link, std::vector<Turn> turns)
    : FInstance(instance), FLink(link), FTurns(std::move(turns)), FAsked(FTurns.size() - 1), FTimer(std::make_unique<platform::Timer>()) {
  FTimer->SetInterval(kdo::pace::kTickMs);
  FTimer->SetOnTimer([this] { Tick(); });
  FTimer->SetEnabled(true);
}

void TKDOPacer::Tick() {
  if (uint32_t(platform::TickMs() - FEndedAt) < FRestMs) return;
  // An event script deleting the instance: it goes when the tick ends.
  const TKDORef<IKDOModule> self(&FInstance);
  const TKDOSendBudget budget = TKDOSendBudget::Of(kdo::pace::kTickBudgetMs);
  // A question that outlived the send limit is given up first, before a turn asks the player
  // anything (and, asking, would seem to be what the player is late with).
  FLink.GiveUpOverdue();
  // Nothing is sent while a question waits at the player: a send would wait behind it.
  if (FLink.QuestionOutstanding()) return;
  const std::size_t count = FTurns.size();
  const auto urgent = std::find_if(FTurns.begin(), FTurns.end(), [](const Turn& turn) { return turn.Urgent && turn.Urgent(); });
  const std::size_t first = urgent != FTurns.end() ? std::size_t(urgent - FTurns.begin()) : (FAsked + 1) % count;
  std::size_t asked = count - 1;  // no question this tick: the next starts at the first row again
  for (std::size_t i = 0; i < count && !FLink.QuestionOutstanding(); ++i) {
    const std::size_t row = (first + i) % count;
    const Turn& turn = FTurns[row];
    const uint32_t left = budget.LeftMs();
    // A spent budget is passed on as it is: each turn still does what asks nothing.
    turn.Take(turn.ShareMs && left ? TKDOSendBudget::Of(std::min(turn.ShareMs, left)) : budget);
    if (FLink.QuestionOutstanding()) asked = row;
  }
  FAsked = asked;
  FEndedAt = platform::TickMs();
  FRestMs = kdo::pace::kRestFactor * budget.SpentMs();
}
