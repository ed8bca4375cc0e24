// One announcement in several rooms at once: the rooms start together, each puts its own music back;
// a slow room does not hold the others back, one that does not answer is left out, and a call that
// names no list of other rooms changes nothing anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "InstanceFixture.h"

namespace instancetest {
namespace {

using host::Value;
using player::PlayState;

constexpr const char* kBell = "C:\\Sounds\\bell.wav";

class Group : public InstanceTest {
 protected:
  // Rooms 1, 2 and 3, each playing its own two songs 30 s in at its own volume, its play state
  // mirrored; from here on the moment each player is told to play is recorded.
  void RoomsPlay(std::vector<uint32_t> replyMs = {0, 0, 0}) {
    for (uint16_t id : {1, 2, 3}) {
      server.DefineVariable("state" + std::to_string(id), Value::I(0));
      Store(id, "PlayStateVar", "state" + std::to_string(id));
      Create(id);
    }
    world.Advance(2000);  // every room's player bound
    for (uint16_t id : {1, 2, 3}) {
      for (const char* song : {"One", "Two"})
        Call(id, "WAC_AddFile", {Value::S("C:\\Room" + std::to_string(id) + "\\" + song + ".mp3")});
      Call(id, "WAC_Play");
      Call(id, "WAC_SetTrackPosition", {Value::I(30)});
      Call(id, "WAC_SetVolume", {Value::I(100 + id)});
      Player(id)->SetReplyDelay(replyMs[id - 1u]);
    }
    world.ClearSent();
    server.ClearDebug();
    world.OnSend = [this](const sim::SentMessage& m) {
      for (uint16_t id : {1, 2, 3})
        if (Player(id) && m.Window == Player(id)->Window() && m.Message == pn::kWmCommand && m.WParam == pn::cmd::kPlay)
          played[id].push_back(world.ElapsedMs());
    };
  }
  // Announcements of two seconds, once added.
  void Pass(int64_t ms) {
    for (; ms > 0; ms -= 250) {
      world.Advance(250);
      for (uint16_t id : {1, 2, 3})
        for (std::size_t i = 0; Player(id) && i < Model(id).Count(); ++i)
          if (Model(id).At(i).FileName == kBell) Model(id).SetLength(int32_t(i), 2);
    }
  }
  // The room's own music as it was, and nothing of the announcement left.
  void ExpectMusicBack(uint16_t id) {
    SCOPED_TRACE(id);
    Player(id)->CatchUp();
    const player::PlayerModel& m = Model(id);
    ASSERT_EQ(m.Count(), 2u);
    EXPECT_EQ(m.CurrentIndex(), 0);
    EXPECT_EQ(m.State(), PlayState::Playing);
    EXPECT_EQ(m.Volume(), 100 + id);
    EXPECT_FALSE(m.ManualAdvance());
  }
  std::map<uint16_t, std::vector<int64_t>> played;
};

// Quick rooms start at the same moment, however many; each room's music comes back on its own.
TEST_F(Group, QuickRoomsStartTogetherAndEachPutsItsMusicBack) {
  RoomsPlay({1, 1, 1});
  const int64_t called = world.ElapsedMs();
  ASSERT_EQ(Call(1, "WAC_AnnounceWith", {Value::S("3, 2"), Value::S(kBell), Value::I(230)}).Bool, 1);
  std::vector<int64_t> starts;
  for (uint16_t id : {1, 2, 3}) {
    ASSERT_EQ(played[id].size(), 1u) << id;
    starts.push_back(played[id][0]);
    EXPECT_EQ(Model(id).Volume(), 230);
  }
  EXPECT_LE(*std::max_element(starts.begin(), starts.end()) - *std::min_element(starts.begin(), starts.end()), 6)
      << "a volume and a play apart";
  EXPECT_LT(starts[0] - called, 100) << "within the call";
  Pass(5000);
  for (uint16_t id : {1, 2, 3}) ExpectMusicBack(id);
}

// Nothing is sent to any player for a call that names no list of other rooms or no file.
TEST_F(Group, AListThatNamesNoOtherRoomsChangesNothing) {
  RoomsPlay();
  for (const char* rooms : {"", " ", "2,,3", ",2", "2,", "2 x", "2;3", "-2", "70000", "1", "2, 1", "9", "2 9"}) {
    SCOPED_TRACE(rooms);
    EXPECT_EQ(Call(1, "WAC_AnnounceWith", {Value::S(rooms), Value::S(kBell), Value::I(230)}).Bool, 0);
  }
  EXPECT_EQ(Call(1, "WAC_AnnounceWith", {Value::S("2"), Value::S(" "), Value::I(230)}).Bool, 0) << "no file";
  EXPECT_TRUE(world.Sent().empty());
  for (const char* rooms : {"2,3", " 2 3 ", "2\t,\t3", "3 , 2, 3"}) {
    SCOPED_TRACE(rooms);
    played.clear();
    EXPECT_EQ(Call(1, "WAC_AnnounceWith", {Value::S(rooms), Value::S(kBell), Value::I(230)}).Bool, 1);
    for (uint16_t id : {1, 2, 3}) EXPECT_EQ(played[id].size(), 1u) << id;
    Pass(5000);
  }
}

// A slow room starts when it can, without holding the quick ones back more than one send limit; a
// room whose player does not answer is left out, saying so; one with an announcement of its own
// takes this one after it, and holds back nobody.
TEST_F(Group, ASlowBusyOrSilentRoomDoesNotHoldTheOthersBack) {
  struct Row {
    const char* What;
    std::vector<uint32_t> Reply;
    bool Hangs, Busy;
    int64_t QuickWithinMs;
  };
  for (const Row& row : {Row{"slow", {0, 1900, 0}, false, false, 0}, Row{"slow, not known yet", {0, 0, 0}, false, false, 2250},
                         Row{"busy", {0, 0, 0}, false, true, 0}, Row{"silent", {0, 0, 0}, true, false, 0}}) {
    SCOPED_TRACE(row.What);
    for (uint16_t id : {1, 2, 3})
      if (server.Instance(id)) Player(id)->HangFor(0), Player(id)->SetReplyDelay(0), server.DestroyInstance(id);
    world.Advance(1000);
    played.clear();
    RoomsPlay(row.Reply);
    if (row.Reply[1]) Pass(20000);  // known to be slow by now
    if (row.Busy) {
      ASSERT_EQ(Call(2, "WAC_Announce", {Value::S("C:\\Sounds\\long.wav"), Value::I(200)}).Bool, 1);
      Model(2).SetLength(2, 4);
    }
    if (row.Hangs) Player(2)->HangFor(60000), Pass(3000);
    if (row.QuickWithinMs) Player(2)->SetReplyDelay(1900);
    played.clear();
    server.ClearDebug();
    const int64_t called = world.ElapsedMs();
    ASSERT_EQ(Call(1, "WAC_AnnounceWith", {Value::S("2 3"), Value::S(kBell), Value::I(230)}).Bool, 1);
    Pass(row.QuickWithinMs);
    for (uint16_t id : {1, 3}) {
      ASSERT_FALSE(played[id].empty()) << id;
      EXPECT_LE(played[id][0] - called, row.QuickWithinMs) << id;
    }
    if (row.Hangs) {
      EXPECT_EQ(DebugMessages().back(), "ANNOUNCE WITH");
      EXPECT_EQ(server.Debug().back().Data, "room 2 left out: its player does not answer");
      Player(2)->HangFor(0);
    }
    Pass(row.Reply[1] || row.QuickWithinMs ? 120000 : 10000);
    for (uint16_t id : {1, 2, 3}) ExpectMusicBack(id);
    if (!row.Hangs) {
      EXPECT_FALSE(played[2].empty()) << "it rang there too";
    }
  }
}

}  // namespace
}  // namespace instancetest
