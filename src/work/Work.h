// TKDOWork: the engine every kind of work over ticks runs on (an
// announcement, a transfer, a fade, the mirror). The work names its steps, one
// send each, and the runs of them it queues in a table (Steps.h); the engine
// holds the steps owed, in order, and runs them while the work lets it (the
// player answers, the turn's budget lasts). A step not done stays at the head
// and is made again.
//
// With a slow player a step's send is asked without waiting instead
// (TWinAmpChannel::Deferring): the work stops there, and goes on with the
// answer, where the same send takes it. The engine holds the work's ticket
// for that question, and nothing else: what is outstanding with the player is
// the channel's. The ticket goes with the work; an answer after it is dropped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

#include "platform/Platform.h"
#include "winamp/WinAmp.h"
#include "work/Steps.h"

// The work's way with a slow player, for work that keeps its own steps (the mirror's round, the fade's line).
class TKDOAsker {
 public:
  // `resume` goes on with the work once an answer has come: it finds its owner again, or does nothing.
  explicit TKDOAsker(std::function<void()> resume) : FResume(std::move(resume)) {}
  TKDOAsker(const TKDOAsker&) = delete;
  TKDOAsker& operator=(const TKDOAsker&) = delete;

  // While the result lives a slow player on `link` is asked without waiting, and the work goes on
  // with its answer. Without `asks` (an answer's own dispatch) it takes that answer and asks nothing
  // new: the player's next question is whoever's turn it is.
  TWinAmpChannel::Deferring Deferred(TWinAmpControl& link, bool asks = true) {
    return link.Deferred(FAsked, FResume, asks);
  }

 private:
  platform::AnswerQuestion FAsked;  // the ticket: cancelled with the work
  std::function<void()> FResume;
};

template <class Step, std::size_t Longest = 12>
class TKDOWork : public TKDOAsker {
 public:
  using Steps = kdo::work::Steps<Step, Longest>;
  using TKDOAsker::TKDOAsker;

  // The steps put first, ahead of what is owed; `keep` leaves out those not owed.
  void DoFirst(const Steps& steps) { FOwed.insert(FOwed.begin(), steps.begin(), steps.end()); }
  template <class Keep>
  void DoFirstIf(const Steps& steps, Keep keep) {
    for (const Step* at = steps.end(); at != steps.begin();)
      if (keep(*--at)) FOwed.push_front(*at);
  }
  bool Idle() const { return FOwed.empty(); }
  Step Next() const { return FOwed.front(); }
  bool Owes(Step step) const { return std::find(FOwed.begin(), FOwed.end(), step) != FOwed.end(); }
  void Clear() { FOwed.clear(); }

  // The owed steps in order while `ready(next)` lets them go; `step(s)` false leaves s at the head.
  template <class Ready, class Do>
  void Run(Ready ready, Do step) {
    while (!FOwed.empty() && ready(FOwed.front())) {
      const Step next = FOwed.front();
      FOwed.pop_front();
      if (!step(next)) FOwed.push_front(next);
    }
  }

 private:
  std::deque<Step> FOwed;
};
