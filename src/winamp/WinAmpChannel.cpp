#include "winamp/WinAmpChannel.h"

#include <utility>

void TWinAmpChannel::Hold(platform::WindowHandle window) {
  if (window != FPlayerWindow) {
    FNotAnswering = false;
    FAnswerQuestion.Cancel();
    FQuestionOut = false;  // it waits at the window let go of, if anywhere
    FSlowAnswers = 0;
    FDeferAnswer.reset();
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
  // Given up at once: the limit was waited out once for this hang, or this dispatch's time is spent.
  const uint32_t left = platform::Dispatch::LeftMs();
  if (FNotAnswering || left == 0) return {platform::SendOutcome::GivenUp, 0};
  if (FDeferQuestion && (Slow() || FDeferAnswer) && message != platform::WM_COPYDATA_)
    return Defer(window, message, wParam, lParam);
  const bool behindQuestion = QuestionOutstanding();
  const uint32_t sent = platform::TickMs();
  const platform::SendResult result = platform::SendMessageWait(window, message, wParam, lParam, left);
  if (result.Outcome == platform::SendOutcome::GivenUp) {
    if (left >= platform::kSendTimeoutMs && !behindQuestion)
      StopAnswering();
    else
      platform::Dispatch::Spent();
  }
  if (result.Outcome == platform::SendOutcome::Answered) {
    FQueryMemoryOut = false;  // whatever the player was given before, it is done with
    if (!behindQuestion) Timed(sent);
  }
  return result;
}

platform::SendResult TWinAmpChannel::Defer(platform::WindowHandle window, uint32_t message, uint32_t wParam,
                                           uintptr_t lParam) {
  const platform::SendResult notMade{platform::SendOutcome::GivenUp, 0};
  if (FDeferAnswer) {
    const Answer a = *FDeferAnswer;
    FDeferAnswer.reset();  // one send takes it; the next one is asked
    if (a.Window == window && a.Message == message && a.WParam == wParam && a.LParam == lParam)
      return {platform::SendOutcome::Answered, a.Reply};
  }
  if (FDeferredAsked) return notMade;
  FDeferredAsked = true;
  if (FDeferQuestion->Pending()) {
    // Not answered within a send limit: the player counts as not answering, as after a send given up.
    if (uint32_t(platform::TickMs() - FDeferAskedAt) >= platform::kSendTimeoutMs) {
      FDeferQuestion->Cancel();
      FQuestionOut = false;
      StopAnswering();
    }
    return notMade;
  }
  if (QuestionOutstanding()) return notMade;  // one question at a time
  const platform::WindowHandle asked = FPlayerWindow;
  const Answer key{window, message, wParam, lParam, 0};
  if (!FDeferQuestion->Ask(window, message, wParam, uint32_t(lParam),
                           [this, asked, key, resume = FResume](int32_t reply) {
                             if (FPlayerWindow != asked) return;  // never trusted once the player may have changed
                             FQuestionOut = false;
                             Timed(FDeferAskedAt);
                             if (FNotAnswering) return;
                             FDeferAnswer = key;
                             FDeferAnswer->Reply = reply;
                             if (resume) resume();
                             FDeferAnswer.reset();  // not taken: asked again when the work comes to it
                           }))
    return notMade;
  FQuestionOut = true;
  FQuestionAskedAt = FDeferAskedAt = platform::TickMs();
  return notMade;
}

TWinAmpChannel::Deferring::Deferring(TWinAmpChannel& channel, platform::AnswerQuestion& question,
                                     std::function<void()> resume)
    : FChannel(channel), FOuter(channel.FDeferQuestion == nullptr) {
  if (!FOuter) return;
  FChannel.FDeferQuestion = &question;
  FChannel.FResume = std::move(resume);
  FChannel.FDeferredAsked = false;
}

TWinAmpChannel::Deferring::~Deferring() {
  if (!FOuter) return;
  FChannel.FDeferQuestion = nullptr;
  FChannel.FResume = nullptr;
  FChannel.FDeferredAsked = false;
}

bool TWinAmpChannel::Ask(platform::AnswerQuestion& question, uint32_t message, uint32_t wParam, uint32_t lParam,
                         std::function<void(int32_t reply)> onAnswer) {
  const platform::WindowHandle asked = FPlayerWindow;
  if (!question.Ask(FPlayerWindow, message, wParam, lParam,
                    [this, asked, onAnswer = std::move(onAnswer)](int32_t reply) {
                      if (FPlayerWindow != asked) return;  // never trusted once the player may have changed
                      FQuestionOut = false;
                      Timed(FQuestionAskedAt);
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
  const uint32_t left = platform::Dispatch::LeftMs();
  if (sendWhenNoQuestion && left > 0 &&
      platform::SendMessageWait(FPlayerWindow, platform::WM_NULL_, 0, 0, left).Outcome ==
          platform::SendOutcome::Answered)
    FNotAnswering = false;
}
