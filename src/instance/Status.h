// TKDOWinampStatus: the status mirror of a control instance. Four times a
// second the bound player's state goes into the variables the user chose,
// each written only when its value changed.
//
// Made by its instance after the player link, it starts its 250 ms timer at
// once; destroyed, it stops it. It borrows the instance's services, settings
// and link for its whole life and reads the settings afresh at every poll.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "winamp/SendBudget.h"
#include "instance/Services.h"
#include "instance/Tags.h"
#include "control/Device.WinampControl_Types.h"
#include "platform/Platform.h"
#include "winamp/WinAmpChannel.h"

class TWinAmpControl;
enum class TWinAmpQuestion : uint8_t;

// The step the next poll starts with, whether it goes on with an item left
// unfinished, and the rest it owes the thread: three times the last poll's sending time.
struct TStatusPollProgress {
  uint8_t Step = 0;
  bool Resume = false;
  uint32_t EndedAt = 0;
  uint32_t RestMs = 0;
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
  // The status timer's interval: four ticks a second.
  static constexpr uint32_t kTickMs = 250;
  // Sending time after which a poll starts no further send: an answer as long makes a slow one.
  static constexpr uint32_t kPollBudgetMs = 250;
  static_assert(kPollBudgetMs == TWinAmpChannel::kSlowMs);
  // After a poll that sent for T ms, the next waits kRestFactor * T: a slow
  // player gets at most a quarter of the thread.
  static constexpr uint32_t kRestFactor = 3;

  // `playerWork` runs on every paced tick before the poll (a fade's step, an
  // announcement's watch) within the tick's budget, which the poll shares.
  TKDOWinampStatus(const TKDOWinampServices& services, IKDOModule& instance, TWinAmpControl& link,
                   const TKDOWinampInstanceSettings& settings,
                   std::function<void(const TKDOSendBudget&)> playerWork = {});
  TKDOWinampStatus(const TKDOWinampStatus&) = delete;
  TKDOWinampStatus& operator=(const TKDOWinampStatus&) = delete;

  // The timer's tick: a poll when the pace allows (a slow player gets a quarter of the thread).
  void Tick();
  // One poll: asks a bound, answering player within a 250 ms sending budget
  // (of which `spent` ms are gone already) and goes on next time where it
  // stopped; never starts or commands it.
  void Poll(uint32_t spent = 0);

 private:
  // Without a player that answers, the play state variable says so (-1).
  void WriteNoPlayer();
  // None bound, or the bound one does not answer: not merely this dispatch's time spent.
  bool NoPlayer() const;
  // The answer of a complete item into its variable.
  void WriteAnswer(const TKDOSettingsKey& row, const TKDOText& ident);
  // A slow player's step asked without waiting; false when it cannot be.
  bool AskWithoutWaiting(uint8_t at, TWinAmpQuestion question, int32_t index);
  void Answered(uint8_t at, int32_t answer, uint32_t asked);
  // Forgets a question still waited for: its item starts afresh.
  void StopWaiting();
  void Write(const TKDOSettingsKey& row, KDOString ident, int32_t number, std::string_view text);
  void UpdateStringVariable(KDOString ident, std::string_view text);
  void UpdateIntegerVariable(KDOString ident, int32_t value);
  void UpdateBooleanVariable(KDOString ident, bool value);

  const TKDOWinampServices& FServices;
  IKDOModule& FInstance;
  TWinAmpControl& FLink;
  const TKDOWinampInstanceSettings& FSettings;
  std::function<void(const TKDOSendBudget&)> FPlayerWork;
  std::string FPolledText;  // the poll's text buffer, kept between ticks so that a quiet tick allocates nothing
  TStatusPollProgress FPoll;
  TStatusPollAnswer FAnswer;
  TKDOWinampTags FTags;
  // A slow player (the link's word: its last two answers took a whole budget
  // each) is asked without waiting, one question a tick, until it answers
  // within a budget again.
  platform::AnswerQuestion FWaiting;  // cancelled with the mirror
  platform::AnswerQuestion FTagQuestion;  // a tag step's, asked without waiting; cancelled with the mirror
  uint8_t FWaitingAt = 0;             // the step asked, plus 1; 0: none
  std::unique_ptr<platform::Timer> FTimer;  // last: it ticks only once the rest is made
};
