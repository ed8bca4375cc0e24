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
#pragma once

#include <cstdint>
#include <functional>

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

  // False while the held player counts as not answering.
  bool IsAnswering() const { return !FNotAnswering; }
  // How long the held player has not answered: 0 while it answers.
  uint32_t SilentForMs() const { return FNotAnswering ? uint32_t(platform::TickMs() - FSilentSince) : 0; }

  // Sends to a window of the held player's (its main window, or another of its
  // thread's), at once as given up while the player does not answer. It waits
  // the send limit, and what an outstanding question may still take.
  platform::SendResult Send(platform::WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam);

  // Asks the held player without waiting; `onAnswer` gets its reply, unless
  // `question` was cancelled or asked again meanwhile. An answer from a player
  // no longer held, or while the player counts as not answering, is dropped.
  // False, and nothing asked, where the platform cannot ask so.
  bool Ask(platform::AnswerQuestion& question, uint32_t message, uint32_t wParam, uint32_t lParam,
           std::function<void(int32_t reply)> onAnswer);
  // A question asked without waiting that the player may still be handling
  // (unanswered, asked less than a send limit ago): a send now waits behind it.
  bool QuestionOutstanding() const {
    return FQuestionOut && uint32_t(platform::TickMs() - FQuestionAskedAt) < platform::kSendTimeoutMs;
  }
  // A question asked of `asked` without waiting and not answered within the
  // send limit: that player, if still held, counts as not answering from now
  // on, as after a send given up.
  void GiveUpWaiting(platform::WindowHandle asked);
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
  void Answered(uint32_t ms) { FAnswerMs[0] = FAnswerMs[1], FAnswerMs[1] = ms; }

  platform::WindowHandle FPlayerWindow = 0;
  bool FNotAnswering = false;
  uint32_t FSilentSince = 0;                 // when the send was given up
  platform::AnswerQuestion FAnswerQuestion;  // whether it answers again; cancelled with the channel
  // A question asked without waiting that the player may still be handling:
  // a send meanwhile waits behind it, so its wait is longer by what the
  // question may still take, judged by the player's last two answers (the
  // quicker: one answer slowed by a short hang does not make a player slow).
  bool FQuestionOut = false;
  uint32_t FQuestionAskedAt = 0;
  uint32_t FAnswerMs[2] = {};
  platform::RemoteMemory FQueryMemory;
  bool FQueryMemoryOut = false;  // handed over in a send given up, not answered after
};
