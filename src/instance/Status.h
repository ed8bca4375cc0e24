// TKDOWinampStatus: the status mirror of a control instance. At each of its
// turns (the pacer's, four a second) the bound player's state goes into the
// variables the user chose, each written only when its value changed.
//
// It borrows the instance's services, settings and link for its whole life
// and reads the settings afresh at every poll.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "work/Pace.h"
#include "work/Work.h"
#include "instance/Services.h"
#include "instance/Tags.h"
#include "control/Device.WinampControl_Types.h"
#include "platform/Platform.h"
#include "winamp/WinAmpChannel.h"

class TWinAmpControl;
enum class TWinAmpQuestion : uint8_t;

// The step the next poll starts with, and whether it goes on with an item left unfinished.
struct TStatusPollProgress {
  uint8_t Step = 0;
  bool Resume = false;
};

// What the steps have of their item's answer, kept while an item goes on over polls.
struct TStatusPollAnswer {
  int32_t Number = 0;
  int32_t Index = 0;
  int32_t Length = 0;
  bool Spread = false;  // the item's steps fell into more than one poll
};

class TKDOWinampStatus {
 public:
  TKDOWinampStatus(const TKDOWinampServices& services, IKDOModule& instance, TWinAmpControl& link,
                   const TKDOWinampInstanceSettings& settings);
  TKDOWinampStatus(const TKDOWinampStatus&) = delete;
  TKDOWinampStatus& operator=(const TKDOWinampStatus&) = delete;

  // One poll: asks a bound, answering player within the budget, and goes on
  // next time where it stopped; never starts or commands it. A slow player is
  // asked without waiting, and the poll goes on with the answer.
  void Poll(const TKDOSendBudget& budget, bool asks = true);

 private:
  // Without a player that answers, the play state variable says so (-1).
  void WriteNoPlayer();
  // None bound, or the bound one does not answer: not merely this dispatch's time spent.
  bool NoPlayer() const;
  // The answer of a complete item into its variable.
  void WriteAnswer(const TKDOSettingsKey& row, const TKDOText& ident);
  void Write(const TKDOSettingsKey& row, KDOString ident, int32_t number, std::string_view text);
  void UpdateStringVariable(KDOString ident, std::string_view text);
  void UpdateIntegerVariable(KDOString ident, int32_t value);
  void UpdateBooleanVariable(KDOString ident, bool value);

  const TKDOWinampServices& FServices;
  IKDOModule& FInstance;
  TWinAmpControl& FLink;
  const TKDOWinampInstanceSettings& FSettings;
  std::string FPolledText;  // the poll's text buffer, kept between ticks so that a quiet tick allocates nothing
  TStatusPollProgress FPoll;
  TStatusPollAnswer FAnswer;
  TKDOWinampTags FTags;
  TKDOAsker FAsker;  // cancelled with the mirror
};
