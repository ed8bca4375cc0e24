// TKDOPacer: a room's share of the server's thread, given out to the work on
// its player. Four times a second it gives each kind of work a turn, in the
// order of its table, within one budget for the tick (a row's share holds a
// turn to less); after a tick that sent for T ms the next waits 3T, so that a
// slow player gets at most a quarter of the thread.
//
// A player takes one question at a time. With a slow one, work that acts for
// the user (a doorbell to ring, music to put back or hand over) goes first
// and goes on with each answer; otherwise the work whose turn asked stops
// there and takes the answer in the answer's own dispatch, asking nothing
// new, and the next question is the next row's. So they take turns, and none
// waits behind another's whole run: the mirror keeps its pace while an
// announcement is watched or a transfer carries the playlist over.
//
// Made last by its instance, it starts its timer at once; destroyed first, it stops it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Platform.h"
#include "sdk/UKDOTypes.h"
#include "work/Pace.h"

class TWinAmpControl;

class TKDOPacer {
 public:
  struct Turn {
    std::function<void(const TKDOSendBudget&)> Take;
    uint32_t ShareMs = 0;  // the most of the tick it takes; 0: what is left
    std::function<bool()> Urgent = {};  // its next step acts for the user: it goes first
  };

  // `instance` is held through each tick: a turn's variable write runs server code that may let it go.
  TKDOPacer(IKDOModule& instance, TWinAmpControl& link, std::vector<Turn> turns);
  TKDOPacer(const TKDOPacer&) = delete;
  TKDOPacer& operator=(const TKDOPacer&) = delete;

  // The timer's tick: the turns, when the pace allows.
  void Tick();

 private:
  IKDOModule& FInstance;
  TWinAmpControl& FLink;
  std::vector<Turn> FTurns;
  std::size_t FAsked;  // the row whose turn asked the last question: the next tick starts after it
  uint32_t FEndedAt = 0;
  uint32_t FRestMs = 0;
  std::unique_ptr<platform::Timer> FTimer;  // last: it ticks only once the rest is made
};
