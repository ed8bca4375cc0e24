// The command set: messages, reply conversions and the remote text read.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <tuple>

#include "LinkFixture.h"
#include "platform/Platform.h"

namespace linktest {
namespace {

using sent::kMain;
using sent::kSent;
namespace user = pn::user;
namespace ask = sent::ask;

class Commands : public LinkTest {
 protected:
  void SetUp() override {
    player = &StartWindow("WA_KDO_1");
    link.SetWinAmpClassName("WA_KDO_1");
    world.Advance(1000);
    ASSERT_TRUE(link.IsBound());
    world.ClearSent();
  }
  void TearDown() override { player->reply = nullptr; }

  // Answers every message with `value`.
  void ReplyAlways(int32_t value) {
    player->reply = [value](uint32_t, uint32_t, uintptr_t) { return value; };
  }
  // A playlist of `length` entries whose texts live in the player's memory at `address`.
  void ServeText(int32_t length, uint32_t address) {
    player->reply = [length, address](uint32_t msg, uint32_t, uintptr_t l) -> int32_t {
      if (msg != pn::kWmUser) return 0;
      if (l == user::kCount) return length;
      if (l == user::kCurrent) return 0;
      if (l == user::kFileAddress || l == user::kTitleAddress) return int32_t(address);
      return 0;
    };
  }
  uint32_t PlaceText(const std::string& text, uint32_t pages = 1) {
    sim::AddressSpace* mem = world.Memory(player->pid);
    uint32_t at = mem->Map(pages);
    mem->Write(at, text.c_str(), text.size() + 1);
    return at;
  }

  // The player's traffic since the sends were last cleared.
  sent::Sequence Traffic() const { return sent::Of(world, player->handle); }

  ScriptedWindow* player = nullptr;
  TWinAmpControl link;
};

TEST_F(Commands, TransportAndSettersSendTheirMessages) {
  const std::pair<void (TWinAmpControl::*)(), sent::Msg> rows[] = {
      {&TWinAmpControl::Play, {kSent, kMain, pn::kWmCommand, pn::cmd::kPlay, 0}},
      {&TWinAmpControl::Pause, {kSent, kMain, pn::kWmCommand, pn::cmd::kPause, 0}},
      {&TWinAmpControl::Stop, {kSent, kMain, pn::kWmCommand, pn::cmd::kStop, 0}},
      {&TWinAmpControl::PreviousTrack, {kSent, kMain, pn::kWmCommand, pn::cmd::kPrevious, 0}},
      {&TWinAmpControl::NextTrack, {kSent, kMain, pn::kWmCommand, pn::cmd::kNext, 0}},
      {&TWinAmpControl::ClearPlaylist, {kSent, kMain, pn::kWmUser, 0, user::kClearPlaylist}},
      {&TWinAmpControl::ShuffleOn, {kSent, kMain, pn::kWmUser, 1, user::kSetShuffle}},
      {&TWinAmpControl::ShuffleOff, {kSent, kMain, pn::kWmUser, 0, user::kSetShuffle}},
      {&TWinAmpControl::RepeatOn, {kSent, kMain, pn::kWmUser, 1, user::kSetRepeat}},
      {&TWinAmpControl::RepeatOff, {kSent, kMain, pn::kWmUser, 0, user::kSetRepeat}},
  };
  for (const auto& [op, message] : rows) {
    world.ClearSent();
    (link.*op)();
    EXPECT_EQ(Traffic(), sent::Sequence{message});
  }
  world.ClearSent();
  link.SetVolume(255);
  link.SetPlaylistPosition(-1);
  link.SetPlaylistPosition(INT_MAX);
  const sent::Sequence expected = {
      {kSent, kMain, pn::kWmUser, 255, user::kVolume},
      {kSent, kMain, pn::kWmUser, 0xFFFFFFFFu, user::kSetCurrent},  // any index passes unchecked
      {kSent, kMain, pn::kWmUser, 0x7FFFFFFFu, user::kSetCurrent},
  };
  EXPECT_EQ(Traffic(), expected);
}

// A dispatch's time belongs to the outermost one: one inside it (an event script in a tick's variable
// write) has only what is left, and once that is spent nothing more is sent.
TEST_F(Commands, ADispatchInsideAnotherSharesItsTimeAndOnceSpentSendsNothing) {
  const platform::Dispatch outer;
  world.Advance(1500);
  {
    const platform::Dispatch inner;
    EXPECT_EQ(platform::Dispatch::LeftMs(), platform::kSendTimeoutMs - 1500);
  }
  platform::Dispatch::Spent();
  world.ClearSent();
  link.Play();
  EXPECT_EQ(Traffic(), sent::Sequence{}) << "nothing sent once the time is spent";
}

TEST_F(Commands, TrackPositionIsTruncatedToWholeSeconds) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 0},      {999, 0},        {1000, 1},
                                               {1999, 1},   {-1, 0},         {-1999, -1},
                                               {INT_MIN, INT_MIN / 1000}, {INT_MAX, INT_MAX / 1000}};
  for (auto [reply, seconds] : cases) {
    ReplyAlways(reply);
    EXPECT_EQ(link.GetTrackPosition(), seconds) << reply;
  }
  EXPECT_EQ(world.Sent().back(), (sim::SentMessage{player->handle, pn::kWmUser, user::kPositionMs, user::kTime}));
}

TEST_F(Commands, RepliesAndTheirConversions) {
  ReplyAlways(300);
  EXPECT_EQ(link.GetVolume(), 44);
  EXPECT_EQ(world.Sent().back(), (sim::SentMessage{player->handle, pn::kWmUser, user::kAskVolume, user::kVolume}));
  EXPECT_EQ(link.GetTrackLength(), 300);
  EXPECT_EQ(world.Sent().back().WParam, user::kLengthSeconds);
  EXPECT_EQ(link.GetPlaylistLength(), 300);
  EXPECT_EQ(link.GetPlaylistPosition(), 300);
  for (auto [reply, on] : {std::pair{1, true}, {0, false}, {-1, false}, {INT_MIN, false}, {7, true}}) {
    ReplyAlways(reply);
    EXPECT_EQ(link.GetShuffle(), on) << reply;
    EXPECT_EQ(world.Sent().back().LParam, user::kGetShuffle);
    EXPECT_EQ(link.GetRepeat(), on) << reply;
    EXPECT_EQ(world.Sent().back().LParam, user::kGetRepeat);
  }
}

TEST_F(Commands, PlayStateAndJumpPassTheRepliesOnUnchanged) {
  for (int32_t reply : {0, 1, 3, -1, 7}) {
    ReplyAlways(reply);
    EXPECT_EQ(link.GetPlayState(), reply);
    EXPECT_EQ(world.Sent().back(), (sim::SentMessage{player->handle, pn::kWmUser, 0, user::kPlayState}));
    EXPECT_EQ(link.JumpToTime(90000), reply);
    EXPECT_EQ(world.Sent().back(), (sim::SentMessage{player->handle, pn::kWmUser, 90000, user::kJump}));
  }
  link.JumpToTime(INT_MAX);
  EXPECT_EQ(world.Sent().back().WParam, 0x7FFFFFFFu);
  link.JumpToTime(-1);
  EXPECT_EQ(world.Sent().back().WParam, 0xFFFFFFFFu) << "the link passes any time on; callers clamp";
}

TEST_F(Commands, AddFileSendsTheRecordWithItsTerminatingZero) {
  uint32_t dwData = 0, cbData = 0;
  std::string received;
  player->reply = [&](uint32_t msg, uint32_t wParam, uintptr_t lParam) {
    EXPECT_EQ(msg, pn::kWmCopyData);
    EXPECT_EQ(wParam, 0u);
    const auto* record = reinterpret_cast<const platform::CopyDataRecord*>(lParam);
    dwData = uint32_t(record->dwData);
    cbData = record->cbData;
    const char* data = static_cast<const char*>(record->lpData);
    received.assign(data, cbData - 1);
    EXPECT_EQ(data[cbData - 1], '\0');
    return 0;
  };
  EXPECT_TRUE(link.AddFile("C:\\Music\\song one.mp3"));
  EXPECT_EQ(dwData, pn::copydata::kAddFile);
  EXPECT_EQ(cbData, 22u);
  EXPECT_EQ(received, "C:\\Music\\song one.mp3");
  cbData = 0;
  EXPECT_FALSE(link.AddFile("")) << "no file name: nothing sent";
  EXPECT_EQ(cbData, 0u);
}

TEST_F(Commands, TextReadComesFromThePlayersMemoryTrimmed) {
  ServeText(3, PlaceText(" \t\r\n inner  blanks stay \n\x01"));
  std::string text = "stale";
  link.GetPlaylistTitle(2, text);
  EXPECT_EQ(text, "inner  blanks stay");
  EXPECT_EQ(Traffic(), (sent::Sequence{ask::kCount, ask::Title(2)})) << "length first";
  link.GetPlaylistFile(1, text);
  EXPECT_EQ(world.Sent().back(), (sim::SentMessage{player->handle, pn::kWmUser, 1, user::kFileAddress}));
  EXPECT_EQ(world.OpenProcessCalls(), 2);
  EXPECT_EQ(world.OpenProcessHandles(), 0) << "every handle closed";
}

// A title read out of the player's memory: where its bytes lie, and what the read makes of them.
TEST_F(Commands, TitleReadsTrimTheBlanksAndStopAtTheEndOfTheTextOrOfReadableMemory) {
  enum Where { kPageStart, kEndWithItsZero, kEndWithoutAZero };
  const std::tuple<const char*, std::string, Where, std::string> rows[] = {
      {"bytes above 127 are not trimmed", "\xA0" "Caf\xE9\xFF", kPageStart, "\xA0" "Caf\xE9\xFF"},
      {"the first 500 characters, trimmed", std::string(499, 'x') + "  and more", kPageStart, std::string(499, 'x')},
      {"the first 500 characters", std::string(600, 'y'), kPageStart, std::string(500, 'y')},
      {"a short text right before the end of readable memory", "  Last Song\t", kEndWithItsZero, "Last Song"},
      {"what lies before the end, and never a byte beyond", "0123456789", kEndWithoutAZero, "0123456789"},
  };
  for (const auto& [what, bytes, where, expected] : rows) {
    sim::AddressSpace* mem = world.Memory(player->pid);
    const uint32_t page = mem->Map(1);
    const std::size_t size = bytes.size() + (where == kEndWithoutAZero ? 0 : 1);  // with its zero, if any
    const uint32_t at = where == kPageStart ? page : page + 4096 - uint32_t(size);
    mem->Write(at, bytes.c_str(), size);
    ServeText(1, at);
    std::string text;
    link.GetPlaylistTitle(0, text);
    EXPECT_EQ(text, expected) << what;
  }
  for (uint32_t unreadable : {0xDEAD0000u, 0u}) {
    ServeText(1, unreadable);
    std::string text = "stale";
    link.GetPlaylistTitle(0, text);
    EXPECT_EQ(text, "") << std::hex << unreadable;
  }
  EXPECT_EQ(world.OpenProcessHandles(), 0);
}

TEST_F(Commands, OutOfRangeIndexAsksOnlyTheLength) {
  ServeText(2, PlaceText("t"));
  std::string text = "stale";
  link.GetPlaylistFile(2, text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(Traffic(), sent::Sequence{ask::kCount});
  world.ClearSent();
  link.GetPlaylistTitle(-1, text);
  link.GetPlaylistTitle(INT_MIN, text);
  EXPECT_TRUE(world.Sent().empty()) << "a negative index asks nothing";
  EXPECT_EQ(world.OpenProcessCalls(), 0);
}

TEST_F(Commands, CurrentEntryTakesThreeMessages) {
  ServeText(1, PlaceText("current.mp3"));
  std::string text;
  link.GetCurrentFile(text);
  EXPECT_EQ(text, "current.mp3");
  EXPECT_EQ(Traffic(), (sent::Sequence{ask::kCurrent, ask::kCount, ask::File(0)}));
}

TEST_F(Commands, DeadHandleRepliesZero) {
  player->Vanish();  // the window is gone but the link has not looked yet
  ASSERT_TRUE(link.IsBound());
  std::string text = "stale";
  link.GetCurrentTitle(text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(link.GetPlaylistLength(), 0);
  EXPECT_EQ(link.GetTrackPosition(), 0);
  EXPECT_EQ(link.GetTrackLength(), 0);
  EXPECT_EQ(link.GetVolume(), 0);
  EXPECT_FALSE(link.GetShuffle());
}

TEST(CommandsUnbound, AnswerWithoutSending) {
  sim::World world;
  TWinAmpControl link;
  std::string text = "stale";
  link.Play();
  link.SetVolume(1);
  link.AddFile("x");
  EXPECT_EQ(link.GetTrackLength(), -1);
  EXPECT_EQ(link.GetPlaylistLength(), -1);
  EXPECT_EQ(link.GetPlaylistPosition(), -1);
  EXPECT_EQ(link.GetTrackPosition(), 0);
  EXPECT_EQ(link.GetVolume(), 255);
  EXPECT_FALSE(link.GetShuffle());
  EXPECT_FALSE(link.GetRepeat());
  EXPECT_EQ(link.GetPlayState(), -1);
  EXPECT_EQ(link.JumpToTime(1000), -1);
  link.GetCurrentFile(text);
  EXPECT_EQ(text, "");
  link.GetPlaylistTitle(0, text);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(world.OpenProcessCalls(), 0);
}

}  // namespace
}  // namespace linktest
