// How messages travel between this (the server's) thread and other threads' windows: natively in the
// simulated world delivering as Windows does, under Wine between real threads. Each scenario asserts
// the order things happened in and how each send ended; the times in it only put a wide margin
// between what comes first and what comes after.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OtherThreads.h"
#include "PlayerNumbers.h"
#include "platform/Platform.h"

namespace {

using platform::SendOutcome;
using threads::Desktop;
using Journal = std::vector<std::string>;

constexpr uint32_t kWmUser = playernumbers::kWmUser;
constexpr uint32_t kLong = 30000;  // a limit that no answer here comes near

bool Has(const Journal& journal, const std::string& entry) {
  return std::find(journal.begin(), journal.end(), entry) != journal.end();
}

// This thread's notes alone, without the other thread's begin and end of each message.
Journal Ours(Journal journal) {
  std::erase_if(journal, [](const std::string& e) { return e.rfind("begin ", 0) == 0 || e.rfind("end ", 0) == 0; });
  return journal;
}

// Sends tag `tag` and notes how it ended.
void Send(Desktop& desktop, threads::OtherThread& other, uint32_t tag, uint32_t limitMs) {
  const platform::SendResult r = platform::SendMessageWait(other.Window(), kWmUser, tag, 0, limitMs);
  const bool answered = r.Outcome == SendOutcome::Answered && r.Reply == int32_t(tag + threads::kReplyOffset);
  desktop.Note((answered ? "answered " : r.Outcome == SendOutcome::GivenUp ? "gave up " : "failed ") +
               std::to_string(tag));
}

// A timer that notes its first tick and stops, and a question of tag 1 whose answer is noted: both
// come through this thread's loop.
struct TickAndAnswer {
  TickAndAnswer(Desktop& desktop, threads::OtherThread& other, uint32_t intervalMs) {
    timer.SetInterval(intervalMs);
    timer.SetOnTimer([this, &desktop] {
      desktop.Note("tick");
      timer.SetEnabled(false);
    });
    asked = question.Ask(other.Window(), kWmUser, 1, 0,
                         [&desktop](int32_t reply) { desktop.Note("answer " + std::to_string(reply)); });
  }
  platform::Timer timer;
  platform::AnswerQuestion question;
  bool asked = false;
};

// A send given up is cancelled when the other thread had not taken it yet (behind a hang, or at once
// to a thread silent for more than five seconds); one its procedure had begun runs to the end after
// the sender stopped waiting. Tag 2, sent with no limit to speak of, shows what the thread did with 1.
TEST(Delivery, ASendGivenUpIsCancelledUnlessTheWindowHadTakenIt) {
  struct Row {
    const char* Name;
    uint32_t HangMs, SpendMs, SilentMs, LimitMs;
    Journal Expected;
  };
  const Row rows[] = {
      {"behind a hang: never handled", 4000, 0, 0, 1000, {"gave up 1", "begin 2", "end 2", "answered 2"}},
      {"inside its procedure: handled to the end after the give-up", 0, 4000, 0, 1000,
       {"begin 1", "gave up 1", "end 1", "begin 2", "end 2", "answered 2"}},
      // Its limit outlasts the hang: only the silence gives it up, before the thread could take it.
      {"to a thread silent for over five seconds: at once, unsent", 9000, 0, 6000, kLong,
       {"gave up 1", "begin 2", "end 2", "answered 2"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    Desktop desktop;
    auto other = desktop.StartThread();
    other->SpendInside(1, row.SpendMs);
    if (row.HangMs) other->Hang(row.HangMs);
    if (row.SilentMs) desktop.Block(row.SilentMs);
    Send(desktop, *other, 1, row.LimitMs);
    if (row.SilentMs) desktop.Block(row.HangMs - row.SilentMs + 1000);  // until it answers again
    Send(desktop, *other, 2, kLong);
    EXPECT_EQ(desktop.Journal(), row.Expected);
  }
}

// While our send waits, nothing comes in: the answer to a question asked without waiting and what
// is posted to this thread wait for its loop, and there the answer comes first, the tick last.
TEST(Delivery, WhileOurSendWaitsNothingRunsInsideItWhatCameMeanwhileRunsAfterInTheLoop) {
  Desktop desktop;
  auto other = desktop.StartThread();
  other->SpendInside(2, 1500);
  other->PostsUs(2, 700, [&] { desktop.Note("posted to us"); });
  const TickAndAnswer looped(desktop, *other, 10);
  ASSERT_TRUE(looped.asked);
  desktop.Note("send 2");
  Send(desktop, *other, 2, kLong);
  ASSERT_TRUE(desktop.RunLoopUntil(
      [&] {
        const Journal j = desktop.Journal();
        return Has(j, "tick") && Has(j, "posted to us");
      },
      kLong));
  EXPECT_EQ(Ours(desktop.Journal()), (Journal{"send 2", "answered 2", "answer 1001", "posted to us", "tick"}));
}

// A window whose procedure sends this thread a message while handling ours: neither can go on until
// our send gives up at its limit; then this thread's loop takes that message and the window ends ours,
// its reply thrown away. Bounded by the limit, not a deadlock.
TEST(Delivery, AWindowThatSendsUsWhileHandlingOursHoldsBothUntilOurLimit) {
  Desktop desktop;
  auto other = desktop.StartThread();
  other->SendsUs(2, 300, [&] { desktop.Note("sent to us"); });
  Send(desktop, *other, 2, 1500);
  ASSERT_TRUE(desktop.RunLoopUntil([&] { return Has(desktop.Journal(), "end 2"); }, kLong));
  EXPECT_EQ(desktop.Journal(), (Journal{"begin 2", "gave up 2", "sent to us", "end 2"}));
}

// Back in its loop after being busy, the thread takes an answer that is due before a tick that was
// due earlier still.
TEST(Delivery, BackInItsLoopTheThreadTakesADueAnswerBeforeAnOverdueTick) {
  Desktop desktop;
  auto other = desktop.StartThread();
  other->SpendInside(1, 300);
  const TickAndAnswer looped(desktop, *other, 50);
  ASSERT_TRUE(looped.asked);
  desktop.Block(2000);  // the tick falls due at 50 ms, the answer at 300 ms: both wait
  ASSERT_TRUE(desktop.RunLoopUntil([&] { return Ours(desktop.Journal()).size() == 2; }, kLong));
  EXPECT_EQ(Ours(desktop.Journal()), (Journal{"answer 1001", "tick"}));
}

}  // namespace
