// TWinAmpChannel: the conversation with the bound player. It holds the
// player's window, knows whether the player answers and how fast, and keeps
// the one question asked without waiting that the player may still be
// handling; every message to the player goes through it.
//
// A player that lets a send be given up counts as not answering: from then on
// every send is given up at once instead of waiting out the limit again, until
// the player is seen to answer (a question that does not wait, one at a time,
// or one send at the next check where the question cannot be asked), or
// another window (or none) is held.
//
// Every dispatch of the server's thread gets one send limit in all
// (platform::Dispatch): a send waits only what is left of it. Once it is
// spent, the player counts as not answering until the dispatch ends, so that
// its callers stop where they are and go on at a later tick. A send cut short
// by that, or queued behind a question of ours, does not make the player count
// as not answering afterwards: the time was ours, not the player's.
//
// One question without waiting is out at a time, recorded here alone with
// the one clock it is judged by: a send meanwhile waits behind it, and one
// not answered within the send limit counts as a send given up.
//
// Work that goes on over ticks (the announcer's) does not wait for a slow
// player at all: within a Deferring scope, a send to a player whose last two
// answers each took kSlowMs or more is asked without waiting instead (unless
// it carries an address of ours). That send is not made; the player counts
// as not answering until the scope ends, so the work stops with that step
// still to do; and once the answer has come, the work resumes and the same
// send takes the answer at once. Given up unanswered, the same send, made
// again once the player answers, is given up at once instead of being asked
// again: it may have been carried out.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/Platform.h"

class TWinAmpChannel {
 public:
  TWinAmpChannel() = default;
  TWinAmpChannel(const TWinAmpChannel&) = delete;
  TWinAmpChannel& operator=(const TWinAmpChannel&) = delete;

  // The window held (0: none): another value means another player.
  platform::WindowHandle Window() const { return FPlayerWindow; }
  // Holds `window` from now on; another window (or none) ends "not answering",
  // forgets the question and the answer times, and gives the memory reserved
  // in the player let go of back.
  void Hold(platform::WindowHandle window);

  // False while the held player counts as not answering, once the dispatch's
  // time is spent, and in a Deferring scope once a send was asked instead or
  // learnt that it was given up.
  bool IsAnswering() const { return !FSilentSince && FStopped == Stopped::No && platform::Dispatch::LeftMs() > 0; }

  // In a Deferring scope, a send was asked without waiting instead.
  bool AskedInstead() const { return FStopped == Stopped::AskedInstead; }
  // What exactly this send, asked instead, has learnt waits for it: its answer, or that it was given up.
  bool HasLearnt(platform::WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam) const {
    return FQuestion && FQuestion->State != Question::Now::Waiting &&
           FQuestion->Is(window, message, wParam, lParam);
  }
  // An answer this slow, twice in a row, makes a slow player.
  static constexpr uint32_t kSlowMs = 250;
  bool Slow() const { return FSlowAnswers >= 2; }
  // A send found the held window gone (the player ended): known long before the process watch looks again.
  bool Gone() const { return FGone; }
  // How many times the player has let a send or a question be given up, in all.
  uint32_t GiveUps() const { return FGiveUps; }
  // How long the last answer took, from the send or the question to its reply.
  uint32_t LastAnswerMs() const { return FLastAnswerMs; }
  // While it lives, sends to a slow player are asked through `question`;
  // `resume` runs with the answer (in a scope of its own, where the same send
  // takes it). `question` belongs to the work: gone, its answer is dropped.
  // Without `asks` (an answer's own dispatch), a send takes what was asked
  // but asks nothing new: the work stops there, and the player's next
  // question is whoever's turn it is.
  class Deferring {
   public:
    Deferring(TWinAmpChannel& channel, platform::AnswerQuestion& question, std::function<void()> resume,
              bool asks = true);
    ~Deferring();
    Deferring(const Deferring&) = delete;
    Deferring& operator=(const Deferring&) = delete;

   private:
    TWinAmpChannel& FChannel;
    bool FOuter;
  };
  // The held player counts as not answering (its dispatch's time aside).
  bool Silent() const { return FSilentSince.has_value(); }
  // How long the held player has not answered: 0 while it answers.
  uint32_t SilentForMs() const { return FSilentSince ? uint32_t(platform::TickMs() - *FSilentSince) : 0; }

  // Sends to a window of the held player's (its main window, or another of its
  // thread's), at once as given up while the player does not answer. It waits
  // what is left of the dispatch's send limit.
  platform::SendResult Send(platform::WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam);

  // A question asked without waiting that the player may still be handling
  // (unanswered, asked less than a send limit ago): a send now waits behind it.
  bool QuestionOutstanding() const { return Waiting() && AgeMs() < platform::kSendTimeoutMs; }
  // The question not answered within the send limit: the player counts as not
  // answering from now on, as after a send given up. A send that it was asked
  // instead of learns that it was given up, when the work makes it again.
  void GiveUpOverdue();
  // Asks whether the player answers again; where that cannot be asked, one send decides.
  void CheckAnswering(bool sendWhenNoQuestion);

  // The tag request's memory in the held player, made on first use.
  platform::RemoteMemory& QueryMemory() { return FQueryMemory; }
  // A send that handed the player that memory was given up: the player may
  // still be inside it, writing its answer there. The memory stays the
  // player's until it has answered a later send (it handles them in order),
  // or, let go of before that, until its process ends.
  void QueryMemoryGivenUp() { FQueryMemoryOut = true; }

 private:
  void StopAnswering();
  void Timed(uint32_t since) {
    FLastAnswerMs = uint32_t(platform::TickMs() - since);
    const bool slow = FLastAnswerMs >= kSlowMs;
    FSlowAnswers = slow ? uint8_t(FSlowAnswers < 2 ? FSlowAnswers + 1 : 2) : 0;
  }
  // A send within a Deferring scope to a slow player: asked instead, or answered from what came.
  platform::SendResult Defer(platform::WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam);
  // The one question asked without waiting, from when it is asked until its
  // answer is dropped or taken. It is a send's: the work makes the send again
  // and takes the answer, or learns it was given up.
  struct Question {
    enum class Now : uint8_t { Waiting, Answered, GivenUp };
    platform::WindowHandle Window;
    uint32_t Message, WParam;
    uintptr_t LParam;
    uint32_t AskedAt;
    uint32_t DueFrom;  // when the player can come to it: after what of ours it may still be handling
    Now State = Now::Waiting;
    int32_t Reply = 0;
    bool Is(platform::WindowHandle w, uint32_t m, uint32_t wp, uintptr_t lp) const {
      return Window == w && Message == m && WParam == wp && LParam == lp;
    }
  };
  bool Waiting() const { return FQuestion && FQuestion->State == Question::Now::Waiting; }
  // How long the player has had the question: its send limit counts from when it could come to it.
  uint32_t AgeMs() const {
    const int32_t age = int32_t(platform::TickMs() - FQuestion->DueFrom);
    return age > 0 ? uint32_t(age) : 0;
  }
  // A send given up for want of our time, not the player's, may still be in its queue: until it
  // has handled that, at about its usual pace, it cannot come to a question asked meanwhile.
  void MayStillHandle();
  // When a question asked now can be come to.
  uint32_t DueFromNow() const {
    const uint32_t now = platform::TickMs();
    return int32_t(FBusyUntil - now) > 0 ? FBusyUntil : now;
  }
  // The question's answer has come: false when it is not the one waited for (given up, or another player's).
  bool Heard(platform::WindowHandle asked);
  // What a send asked instead learnt: its answer, or that it was given up; nothing while it waits.
  std::optional<platform::SendResult> Take(platform::WindowHandle window, uint32_t message, uint32_t wParam,
                                           uintptr_t lParam);

  platform::WindowHandle FPlayerWindow = 0;
  std::optional<uint32_t> FSilentSince;      // counts as not answering: since the send was given up
  platform::AnswerQuestion FAnswerQuestion;  // whether it answers again; cancelled with the channel
  std::optional<Question> FQuestion;
  platform::RemoteMemory FQueryMemory;
  bool FQueryMemoryOut = false;  // handed over in a send given up, not answered after
  uint8_t FSlowAnswers = 0;      // answers in a row that took kSlowMs or more (at most 2)
  uint32_t FLastAnswerMs = 0;
  uint32_t FBusyUntil = 0;  // the player may be handling a send of ours given up until then
  bool FGone = false;
  uint32_t FGiveUps = 0;
  // The Deferring scope under way: its question and what resumes the work.
  platform::AnswerQuestion* FDeferQuestion = nullptr;
  std::function<void()> FResume;
  bool FAsks = true;
  // Where the scope's work stops: a send was asked instead, or learnt that it was given up.
  enum class Stopped : uint8_t { No, AskedInstead, GivenUp } FStopped = Stopped::No;
};
