#include "winamp/WinAmpChannel.h"

#include <utility>

void TWinAmpChannel::Hold(platform::WindowHandle window) {
  if (window != FPlayerWindow) {
    FSilentSince.reset();
    FAnswerQuestion.Cancel();
    FQuestion.reset();  // it waits at the window let go of, if anywhere
    FSlowAnswers = 0;
    FGone = false;
    FBusyUntil = platform::TickMs();
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
  if (FSilentSince || left == 0) return {platform::SendOutcome::GivenUp, 0};
  if (FDeferQuestion && message != platform::WM_COPYDATA_) {
    if (const auto learnt = Take(window, message, wParam, lParam)) return *learnt;
    if (Slow()) return Defer(window, message, wParam, lParam);
  }
  const bool behindQuestion = QuestionOutstanding();
  const uint32_t sent = platform::TickMs();
  const platform::SendResult result = platform::SendMessageWait(window, message, wParam, lParam, left);
  if (result.Outcome == platform::SendOutcome::GivenUp) {
    if (left >= platform::kSendTimeoutMs && !behindQuestion)
      StopAnswering();
    else
      platform::Dispatch::Spent(), MayStillHandle();
  }
  if (result.Outcome == platform::SendOutcome::NoWindow && window == FPlayerWindow) FGone = true;
  if (result.Outcome == platform::SendOutcome::Answered) {
    FQueryMemoryOut = false;  // whatever the player was given before, it is done with
    if (!behindQuestion) Timed(sent);
  }
  return result;
}

std::optional<platform::SendResult> TWinAmpChannel::Take(platform::WindowHandle window, uint32_t message,
                                                         uint32_t wParam, uintptr_t lParam) {
  if (!HasLearnt(window, message, wParam, lParam)) return std::nullopt;
  const bool answered = FQuestion->State == Question::Now::Answered;
  const int32_t reply = FQuestion->Reply;
  FQuestion.reset();  // one send takes it; the next one is asked
  if (answered) return platform::SendResult{platform::SendOutcome::Answered, reply};
  // As a send given up: the work stops here, and goes on later knowing it.
  FStopped = Stopped::GivenUp;
  return platform::SendResult{platform::SendOutcome::GivenUp, 0};
}

platform::SendResult TWinAmpChannel::Defer(platform::WindowHandle window, uint32_t message, uint32_t wParam,
                                           uintptr_t lParam) {
  const platform::SendResult notMade{platform::SendOutcome::GivenUp, 0};
  if (FStopped != Stopped::No) return notMade;
  FStopped = Stopped::AskedInstead;
  if (!FAsks) return notMade;
  GiveUpOverdue();
  if (FSilentSince || Waiting()) return notMade;  // one question at a time
  const platform::WindowHandle asked = FPlayerWindow;
  if (!FDeferQuestion->Ask(window, message, wParam, uint32_t(lParam), [this, asked, resume = FResume](int32_t reply) {
        if (!Heard(asked)) return;
        if (FSilentSince) return FQuestion.reset();
        FQuestion->State = Question::Now::Answered;
        FQuestion->Reply = reply;
        if (resume) resume();
        // Not taken: asked again when the work comes to it.
        if (FQuestion && FQuestion->State == Question::Now::Answered) FQuestion.reset();
      }))
    return notMade;
  FQuestion = Question{window, message, wParam, lParam, platform::TickMs(), DueFromNow()};
  return notMade;
}

TWinAmpChannel::Deferring::Deferring(TWinAmpChannel& channel, platform::AnswerQuestion& question,
                                     std::function<void()> resume, bool asks)
    : FChannel(channel), FOuter(channel.FDeferQuestion == nullptr) {
  if (!FOuter) return;
  FChannel.FDeferQuestion = &question;
  FChannel.FResume = std::move(resume);
  FChannel.FAsks = asks;
  FChannel.FStopped = Stopped::No;
}

TWinAmpChannel::Deferring::~Deferring() {
  if (!FOuter) return;
  FChannel.FDeferQuestion = nullptr;
  FChannel.FResume = nullptr;
  FChannel.FAsks = true;
  FChannel.FStopped = Stopped::No;
}

void TWinAmpChannel::MayStillHandle() {
  // Behind a question still out, it comes after that one's answer.
  uint32_t from = platform::TickMs();
  if (Waiting()) {
    const uint32_t answered = FQuestion->DueFrom + FLastAnswerMs;
    if (int32_t(answered - from) > 0) from = answered;
  }
  FBusyUntil = from + FLastAnswerMs;
}

bool TWinAmpChannel::Heard(platform::WindowHandle asked) {
  // Never trusted once the player may have changed; a late answer to one given up is dropped.
  if (FPlayerWindow != asked || !Waiting()) return false;
  // The player's pace: from when it could come to the question.
  Timed(int32_t(platform::TickMs() - FQuestion->DueFrom) >= 0 ? FQuestion->DueFrom : FQuestion->AskedAt);
  return true;
}

void TWinAmpChannel::GiveUpOverdue() {
  if (!Waiting() || AgeMs() < platform::kSendTimeoutMs) return;
  FQuestion->State = Question::Now::GivenUp;
  if (!FSilentSince) StopAnswering();
}

void TWinAmpChannel::StopAnswering() {
  ++FGiveUps;
  FSilentSince = platform::TickMs();
  CheckAnswering(false);
}

void TWinAmpChannel::CheckAnswering(bool sendWhenNoQuestion) {
  if (FAnswerQuestion.Pending()) return;  // one question at a time: its answer is still to come
  if (FAnswerQuestion.Ask(FPlayerWindow, [this] { FSilentSince.reset(); })) return;
  const uint32_t left = platform::Dispatch::LeftMs();
  if (sendWhenNoQuestion && left > 0 &&
      platform::SendMessageWait(FPlayerWindow, platform::WM_NULL_, 0, 0, left).Outcome ==
          platform::SendOutcome::Answered)
    FSilentSince.reset();
}
