#include "winamp/WinAmpChannel.h"

#include <algorithm>
#include <utility>

void TWinAmpChannel::Hold(platform::WindowHandle window) {
  if (window != FPlayerWindow) {
    FNotAnswering = false;
    FAnswerQuestion.Cancel();
    FQuestionOut = false;  // it waits at the window let go of, if anywhere
    FAnswerMs[0] = FAnswerMs[1] = 0;  // the extra wait behind a question is judged by this player's answers
    // A player let go of, closed or not, gets its memory back, unless it may still be writing there.
    if (FQueryMemoryOut)
      FQueryMemory.LeaveToProcess();
    else
      FQueryMemory.Release();
    FQueryMemoryOut = false;
  }
  FPlayerWindow = window;
}

platform::SendResult TWinAmpChannel::Send(platform::WindowHandle window, uint32_t message, uint32_t wParam,
                                          uintptr_t lParam) {
  // Given up at once: the limit was waited out once for this hang.
  if (FNotAnswering) return {platform::SendOutcome::GivenUp, 0};
  uint32_t limit = platform::kSendTimeoutMs;
  const uint32_t sent = platform::TickMs();
  const uint32_t answerMs = std::min(FAnswerMs[0], FAnswerMs[1]);
  if (QuestionOutstanding() && answerMs > sent - FQuestionAskedAt)
    limit += std::min(answerMs - (sent - FQuestionAskedAt), platform::kSendTimeoutMs);
  const platform::SendResult result = platform::SendMessageWait(window, message, wParam, lParam, limit);
  if (result.Outcome == platform::SendOutcome::GivenUp) StopAnswering();
  if (result.Outcome == platform::SendOutcome::Answered) {
    Answered(uint32_t(platform::TickMs() - sent));
    FQueryMemoryOut = false;  // whatever the player was given before, it is done with
  }
  return result;
}

bool TWinAmpChannel::Ask(platform::AnswerQuestion& question, uint32_t message, uint32_t wParam, uint32_t lParam,
                         std::function<void(int32_t reply)> onAnswer) {
  const platform::WindowHandle asked = FPlayerWindow;
  if (!question.Ask(FPlayerWindow, message, wParam, lParam,
                    [this, asked, onAnswer = std::move(onAnswer)](int32_t reply) {
                      if (FPlayerWindow != asked) return;  // never trusted once the player may have changed
                      FQuestionOut = false;
                      Answered(uint32_t(platform::TickMs() - FQuestionAskedAt));
                      if (!FNotAnswering && onAnswer) onAnswer(reply);
                    }))
    return false;
  FQuestionOut = true;
  FQuestionAskedAt = platform::TickMs();
  return true;
}

void TWinAmpChannel::GiveUpWaiting(platform::WindowHandle asked) {
  if (FPlayerWindow && FPlayerWindow == asked && !FNotAnswering) StopAnswering();
}

void TWinAmpChannel::StopAnswering() {
  FNotAnswering = true;
  FSilentSince = platform::TickMs();
  CheckAnswering(false);
}

void TWinAmpChannel::CheckAnswering(bool sendWhenNoQuestion) {
  if (FAnswerQuestion.Pending()) return;  // one question at a time: its answer is still to come
  if (FAnswerQuestion.Ask(FPlayerWindow, [this] { FNotAnswering = false; })) return;
  if (sendWhenNoQuestion &&
      platform::SendMessageWait(FPlayerWindow, platform::WM_NULL_, 0, 0).Outcome == platform::SendOutcome::Answered)
    FNotAnswering = false;
}
