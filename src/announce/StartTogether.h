// TKDOStartTogether: rooms that start one announcement at the same moment.
// Each room's announcer goes as far as the announcement's volume and play, and
// waits there until every room has come that far, or until one send limit has
// passed since the call: a slow room never holds the others back longer, and
// starts itself as soon as it gets there. The last to come lets the others go
// at once, in its own dispatch. Shared by the rooms' announcements: whichever
// room lives longest lets it go.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/Platform.h"

class TKDOStartTogether {
 public:
  // `go` starts the rooms waiting, once all have come: it finds them again, or does nothing.
  explicit TKDOStartTogether(std::function<void()> go)
      : FGo(std::move(go)), FLatest(platform::TickMs() + platform::kSendTimeoutMs) {}

  // One room more to wait for; one less (its player has just been slow: it starts when it can).
  void Expect() { ++FExpected; }
  void Leave() {
    --FExpected;
    Check();
  }
  // Every room has been asked: from now on it opens once all have come.
  void Seal() {
    FSealed = true;
    Check();
  }
  // A room has come as far as its start (`arrived`, the room's own mark, counts it once): may it go?
  bool Pass(bool& arrived) {
    if (!arrived) arrived = true, ++FArrived, Check();
    return Open();
  }
  bool Open() const { return (FSealed && FArrived >= FExpected) || int32_t(platform::TickMs() - FLatest) >= 0; }

 private:
  void Check() {
    if (FGone || !FSealed || FArrived < FExpected) return;
    FGone = true;
    if (FGo) FGo();
  }

  std::function<void()> FGo;
  bool FGone = false;
  uint32_t FLatest;
  int FExpected = 0, FArrived = 0;
  bool FSealed = false;
};
