// The link under a player that stops answering: one send limit per hang, then
// nothing waits until the player is seen to answer again; a slow player that
// answers within the limit is never counted as hung.
#include <gtest/gtest.h>

#include <optional>
#include <memory>
#include <string>

#include "LinkFixture.h"

namespace linktest {
namespace {

constexpr int64_t kLimit = platform::kSendTimeoutMs;  // the longest wait for one answer

class Hang : public LinkTest {
 protected:
  void SetUp() override {
    player = &StartWindow("WA_KDO_1");
    player->reply = [](uint32_t msg, uint32_t, uintptr_t l) {
      return msg == pn::kWmUser && l == pn::user::kCount ? 5 : 0;
    };
    link.SetWinAmpClassName("WA_KDO_1");
    world.Advance(1000);  // bound, watched every 30 s
    ASSERT_TRUE(link.IsBound());
  }
  void TearDown() override { player->reply = nullptr; }
  // Gives up one send on the hung player.
  void GiveUpOnce() {
    world.SetHung(player->handle, true);
    const int64_t before = world.ElapsedMs();
    EXPECT_EQ(link.GetPlaylistLength(), -1) << "a player that does not answer counts as none";
    EXPECT_EQ(world.ElapsedMs() - before, 2000) << "the first send waits out the limit the README promises";
    EXPECT_FALSE(link.IsAnswering());
  }
  // Every command and query against the link, timed and counted.
  void EverySendReturnsAtOnce() {
    const int64_t before = world.ElapsedMs();
    const std::size_t sent = world.Sent().size();
    std::string text = "stale";
    EXPECT_EQ(link.GetPlaylistLength(), -1);
    EXPECT_EQ(link.GetTrackLength(), -1);
    EXPECT_EQ(link.GetVolume(), 255);
    EXPECT_FALSE(link.GetShuffle());
    link.GetCurrentTitle(text);
    EXPECT_EQ(text, "");
    link.Play();
    link.AddFile("a.mp3");
    EXPECT_EQ(world.ElapsedMs(), before) << "no wait";
    EXPECT_EQ(world.Sent().size(), sent) << "nothing queued at the hung player";
    EXPECT_EQ(world.OpenProcessCalls(), 0);
  }

  ScriptedWindow* player = nullptr;
  TWinAmpControl link;
};

TEST_F(Hang, OneSendLimitPerHangThenNothingWaitsUntilTheAnswerComesThroughTheLoop) {
  GiveUpOnce();
  EverySendReturnsAtOnce();
  EXPECT_EQ(world.QuestionsAsked(), 1) << "asked once, without waiting";

  world.Advance(125000);  // four check ticks
  EXPECT_FALSE(link.IsAnswering()) << "still hung";
  EXPECT_EQ(world.QuestionsAsked(), 1) << "one question outstanding, never a pile of them";
  EverySendReturnsAtOnce();
  world.SetHung(player->handle, false);
  EXPECT_FALSE(link.IsAnswering()) << "the answer arrives through the message loop, not before";
  world.Advance(0);
  EXPECT_TRUE(link.IsAnswering());
  EXPECT_EQ(link.GetPlaylistLength(), 5) << "sends normally again";
  EXPECT_EQ(HeldWindow(link), player->handle);
}

TEST_F(Hang, ATextWhoseAddressWasNotGivenIsNotReadFromThePlayersMemory) {
  world.OnSend = [this](const sim::SentMessage& m) {
    // hangs right after answering the length
    if (m.LParam == pn::user::kFileAddress) world.SetHung(player->handle, true);
  };
  std::string text = "stale";
  link.GetPlaylistFile(1, text);
  world.OnSend = nullptr;
  EXPECT_EQ(text, "");
  EXPECT_FALSE(link.IsAnswering());
  EXPECT_EQ(world.OpenProcessCalls(), 0);
}

TEST_F(Hang, SlowPlayerAnsweringWithinTheLimitIsNeverGivenUp) {
  world.SetReplyDelay(player->handle, 1900);
  for (int i = 0; i < 3; ++i) {
    const int64_t before = world.ElapsedMs();
    EXPECT_EQ(link.GetPlaylistLength(), 5);
    EXPECT_EQ(world.ElapsedMs() - before, 1900);
    EXPECT_TRUE(link.IsAnswering());
  }
  EXPECT_EQ(world.QuestionsAsked(), 0);
}

// One question at a time per player, whoever asks: a second is refused until the first is answered.
TEST_F(Hang, ASecondQuestionWaitsForTheFirstsAnswer) {
  world.SetReplyDelay(player->handle, 300);
  link.GetVolume(), link.GetVolume();  // two slow answers: a slow player, asked without waiting
  platform::AnswerQuestion first, second;
  int answers = 0;
  const auto ask = [&](platform::AnswerQuestion& question, TWinAmpQuestion q) {
    const auto deferred = link.Deferred(question, [&] { ++answers; });
    link.Ask(q);
  };
  ask(first, TWinAmpQuestion::Volume);
  ask(second, TWinAmpQuestion::Shuffle);
  EXPECT_EQ(world.QuestionsAsked(), 1);
  world.Advance(300);
  EXPECT_EQ(answers, 1);
  ask(second, TWinAmpQuestion::Shuffle);
  EXPECT_EQ(world.QuestionsAsked(), 2);
}

TEST_F(Hang, ASlowAnswerToTheQuestionEndsTheStateOnlyWhenItArrives) {
  GiveUpOnce();
  world.SetHandlingTime(player->handle, [](const sim::SentMessage& m) {
    return m.Message == pn::kWmNull ? std::optional<uint32_t>(700) : std::nullopt;
  });
  world.SetHung(player->handle, false);
  world.Advance(699);
  EXPECT_FALSE(link.IsAnswering());
  world.Advance(1);
  EXPECT_TRUE(link.IsAnswering());
}

TEST_F(Hang, WithoutTheQuestionOneSendAtTheNextCheckTickDecides) {
  world.SetQuestionsPossible(false);
  GiveUpOnce();
  EverySendReturnsAtOnce();
  world.ClearSent();
  const int64_t tick = 1000 + 30000;
  world.Advance(tick - world.ElapsedMs());  // the check tick while still hung: one send, given up
  ASSERT_EQ(world.Sent().size(), 1u);
  EXPECT_EQ(world.Sent()[0].Message, pn::kWmNull);
  EXPECT_EQ(world.ElapsedMs(), tick) << "at once: its thread has retrieved nothing for over five seconds";
  EXPECT_FALSE(link.IsAnswering());
  EverySendReturnsAtOnce();

  world.SetHung(player->handle, false);
  world.Advance(29999);
  EXPECT_FALSE(link.IsAnswering()) << "not before the next check tick";
  world.Advance(1);
  EXPECT_TRUE(link.IsAnswering());
  EXPECT_EQ(link.GetPlaylistLength(), 5);
}

TEST_F(Hang, ALookupThatFindsAnotherWindowOrNoneEndsTheState) {
  GiveUpOnce();
  player->Vanish();
  ScriptedWindow& other = StartWindow("WA_KDO_1");
  other.reply = [](uint32_t, uint32_t, uintptr_t) { return 9; };
  world.Advance(31000 - world.ElapsedMs());
  EXPECT_EQ(HeldWindow(link), other.handle);
  EXPECT_TRUE(link.IsAnswering());
  EXPECT_EQ(link.GetPlaylistLength(), 9);

  world.SetHung(other.handle, true);
  EXPECT_EQ(link.GetPlaylistLength(), -1);
  ASSERT_FALSE(link.IsAnswering());
  other.Vanish();
  world.Advance(61000 - world.ElapsedMs());
  EXPECT_FALSE(link.IsBound());
  EXPECT_TRUE(link.IsAnswering()) << "nothing held, nothing hung";
  other.reply = nullptr;
}

TEST_F(Hang, TheSameWindowFoundAgainStaysNotAnswering) {
  GiveUpOnce();
  world.Advance(31000 - world.ElapsedMs());
  EXPECT_FALSE(link.IsAnswering());
  // Still that window: once it answers, the link's sends go to it.
  world.SetHung(player->handle, false);
  world.Advance(0);
  ASSERT_TRUE(link.IsAnswering());
  EXPECT_EQ(HeldWindow(link), player->handle);
}

TEST_F(Hang, AnAnswerForAWindowLetGoOfIsDropped) {
  world.AddFile(kExe);
  GiveUpOnce();
  link.SetWinAmpPath(kExe);  // the close command is not waited for; another player is started
  EXPECT_FALSE(link.IsBound());
  world.SetHung(player->handle, false);
  world.Advance(0);
  EXPECT_FALSE(link.IsBound()) << "the old window's answer binds nothing";
  EXPECT_TRUE(link.IsAnswering());
}

TEST(HangLink, DestroyingALinkWhosePlayerDoesNotAnswerDoesNotWait) {
  sim::World world;
  ScriptedWindow w(world, "WA_KDO_2");
  {
    TWinAmpControl link;
    link.SetWinAmpClassName("WA_KDO_2");
    world.Advance(1000);
    ASSERT_TRUE(link.IsBound());
    world.SetHung(w.handle, true);
    link.Play();
    ASSERT_FALSE(link.IsAnswering());
    world.ClearSent();
  }
  EXPECT_EQ(sent::Of(world, w.handle), sent::Sequence{sent::kClosePosted})
      << "no close command waits on a hung player: it is queued for when the player comes back";
  EXPECT_TRUE(world.WindowAlive(w.handle)) << "not handled while the player hangs";
  world.SetHung(w.handle, false);
  EXPECT_FALSE(world.WindowAlive(w.handle)) << "the player closes once it answers again";
  world.Advance(100);  // the dropped question's answer finds nobody
}

TEST_F(Hang, ANewLocationQueuesTheCloseForTheHungPlayerAndWaitsForNothing) {
  world.AddFile(kExe);
  GiveUpOnce();
  const int64_t before = world.ElapsedMs();
  link.SetWinAmpPath(kExe);
  EXPECT_EQ(world.ElapsedMs(), before) << "no second wait for the close command";
  ASSERT_EQ(world.Posted().size(), 1u);
  EXPECT_EQ(world.Posted()[0], (sim::SentMessage{player->handle, pn::kWmCommand, pn::cmd::kClose, 0}));
  EXPECT_EQ(world.ShellCalls().size(), 1u) << "the new location is started at once";
}

// Getting away from a hung player by a new location: the new player is bound at
// the next check tick and stays bound while the old one hangs on, and the
// server waited for the hang once in all.
TEST_F(Hang, AfterANewLocationNoLookupTakesTheHungPlayerAgain) {
  ScriptedWindow* fresh = nullptr;
  world.AddFile(kExe, [&](const std::string&) {
    fresh = &StartWindow("WA_KDO_1");
    return fresh->pid;
  });
  GiveUpOnce();
  const int64_t changedAt = world.ElapsedMs();
  link.SetWinAmpPath(kExe);
  world.Advance(61000);  // the check tick at +1 s, then the watch's at +31 s and +61 s
  EXPECT_EQ(world.ElapsedMs() - changedAt, 61000) << "nothing more waited on the hung player";
  EXPECT_TRUE(link.IsAnswering());
  EXPECT_EQ(HeldWindow(link), fresh->handle);
}

TEST(HangLink, DestroyedRightAfterANewLocationClosesTheNewPlayerAndWaitsForNothing) {
  sim::World world;
  ScriptedWindow hung(world, "WA_KDO_2");
  std::unique_ptr<ScriptedWindow> fresh;
  world.AddFile("C:\\winamp.exe", [&](const std::string&) {
    fresh = std::make_unique<ScriptedWindow>(world, "WA_KDO_2");
    return fresh->pid;
  });
  {
    TWinAmpControl link;
    link.SetWinAmpClassName("WA_KDO_2");
    world.Advance(1000);
    world.SetHung(hung.handle, true);
    link.Play();
    link.SetWinAmpPath("C:\\winamp.exe");
    ASSERT_NE(fresh, nullptr);
    world.ClearSent();
  }
  EXPECT_EQ(world.ElapsedMs(), 1000 + kLimit) << "the one send given up, nothing after";
  EXPECT_EQ(sent::Of(world, fresh->handle), sent::Sequence{sent::kCloseSent});
  EXPECT_FALSE(world.WindowAlive(fresh->handle));
}

TEST_F(Hang, ASeekThatWasNotAnsweredDidNotMove) {
  player->reply = [](uint32_t, uint32_t, uintptr_t) { return 0; };  // "moved there" to every seek it answers
  EXPECT_EQ(link.JumpToTime(5000), 0);
  world.SetHung(player->handle, true);
  EXPECT_EQ(link.JumpToTime(5000), -1) << "the send was given up: nothing moved";
  EXPECT_EQ(link.JumpToTime(5000), -1) << "and at once while the player does not answer";
  EXPECT_EQ(world.Posted().size(), 0u);
}

}  // namespace
}  // namespace linktest
