// A room's music handed to another room: what the target gets for each play state, what the
// source does after, the calls refused, a long playlist within the thread's budget, and the
// transfer's end by a command, a hang, a new player or an instance's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "InstanceFixture.h"
#include "SettingsKeys.h"
#include "transfer/Transfer.h"

namespace instancetest {
namespace {

using host::Value;
using player::PlayState;

class Transfer : public InstanceTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(InstanceTest::SetUp());
    Fresh();
  }
  // Two rooms afresh: the living room (1) plays its fourth of five entries, 42 s in, shuffled; the
  // kitchen (2) plays its radio at 90.
  void Fresh() {
    for (uint16_t id : {1, 2}) {
      if (Player(id)) Player(id)->HangFor(0), Player(id)->SetReplyDelay(0);  // so that it closes
      if (server.Instance(id)) server.DestroyInstance(id);
    }
    world.Advance(1000);
    for (uint16_t id : {1, 2}) {
      server.DefineVariable(StateVar(id), Value::I(0));
      Store(id, testdata::kPlayStateKey, StateVar(id));
    }
    Create(1);
    Create(2);
    for (int i = 0; i < 5; ++i) Model(1).Add("C:\\Music\\" + std::to_string(i) + ".mp3");
    Model(2).Add("C:\\Kitchen\\radio.mp3");
    Call(1, "WAC_SetPlaylistPosition", {Value::I(3)});
    Call(1, "WAC_Play");
    Call(1, "WAC_SetTrackPosition", {Value::I(42)});
    Call(1, "WAC_SetShuffle", {Value::B(true)});
    Call(2, "WAC_SetVolume", {Value::I(90)});
    Call(2, "WAC_Play");
    world.Advance(500);
    server.ClearDebug();
  }
  static std::string StateVar(uint16_t id) { return "state" + std::to_string(id); }
  // Players that take a millisecond an answer: a long playlist then takes several ticks.
  void Slower() {
    for (uint16_t id : {1, 2}) Player(id)->SetReplyDelay(1);
  }
  bool TransferTo(uint16_t from, int32_t to, bool keep) {
    return Call(from, "WAC_TransferTo", {Value::I(to), Value::B(keep)}).Bool != 0;
  }
  std::vector<std::string> Files(uint16_t id) {
    std::vector<std::string> files;
    for (std::size_t i = 0; i < Model(id).Count(); ++i) files.push_back(Model(id).At(i).FileName);
    return files;
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const auto& d : server.Debug())
      if (d.Message == "TRANSFER") lines.push_back(std::to_string(d.Id) + " " + d.Data);
    return lines;
  }
};

// The target gets the entries, the entry, the time, shuffle, repeat and the play state, at its own
// volume; the source stops once the target plays, or plays on, and keeps its playlist.
TEST_F(Transfer, TheTargetGetsTheMusicInEachPlayState) {
  struct Row {
    const char* What;
    std::function<void()> Before;
    bool Keep;
    PlayState Target, Source;
  };
  const Row rows[] = {
      {"playing, handed over", [] {}, false, PlayState::Playing, PlayState::Stopped},
      {"playing, both play on", [] {}, true, PlayState::Playing, PlayState::Playing},
      {"paused", [&] { Call(1, "WAC_Pause"); }, false, PlayState::Paused, PlayState::Stopped},
      {"stopped on its entry", [&] { Call(1, "WAC_Stop"); }, false, PlayState::Stopped, PlayState::Stopped},
  };
  for (const Row& row : rows) {
    Fresh();
    row.Before();
    const std::vector<std::string> files = Files(1);
    Player(1)->CatchUp();
    const int64_t position = Model(1).PositionMs();
    ASSERT_TRUE(TransferTo(1, 2, row.Keep)) << row.What;
    world.Advance(1000);
    Player(1)->CatchUp();
    Player(2)->CatchUp();
    EXPECT_EQ(Files(2), files) << row.What;
    EXPECT_EQ(Files(1), files) << row.What << ": the source keeps its playlist";
    EXPECT_EQ(Model(2).CurrentIndex(), 2) << row.What;
    EXPECT_TRUE(Model(2).Shuffle()) << row.What;
    EXPECT_FALSE(Model(2).Repeat()) << row.What;
    EXPECT_EQ(Model(2).Volume(), 90) << row.What << ": the target's own";
    EXPECT_EQ(Model(2).State(), row.Target) << row.What;
    EXPECT_EQ(Model(1).State(), row.Source) << row.What;
    if (row.Target != PlayState::Stopped) {
      // Time has passed for both alike since the transfer; a paused one stands where the source stood.
      const int64_t source = row.Keep ? Model(1).PositionMs() : position + (row.Target == PlayState::Playing ? 1000 : 0);
      EXPECT_LE(std::llabs(Model(2).PositionMs() - source), 250) << row.What;
    }
    EXPECT_EQ(Lines(), (std::vector<std::string>{"1 1 to 2: started", "1 1 to 2: done"})) << row.What;
  }
}

// Refused at once, with nothing sent to either player.
TEST_F(Transfer, RefusedCallsSendNothing) {
  world.ClearSent();
  Call(2, "WAC_SetPlaylistPosition", {Value::I(1)});  // (something sent, then cleared)
  world.ClearSent();
  EXPECT_FALSE(TransferTo(1, 1, false));
  EXPECT_EQ(Lines().back(), "1 1 to 1: refused: the same room");
  EXPECT_FALSE(TransferTo(1, 7, false));
  EXPECT_FALSE(TransferTo(1, -1, true));
  EXPECT_FALSE(TransferTo(1, 65536 + 2, true)) << "not taken as room 2";
  world.SetHung(Player(2)->Window(), true);
  EXPECT_EQ(Call(2, "WAC_GetVolume").Int, -1);  // given up: from now on it counts as not answering
  world.ClearSent();
  EXPECT_FALSE(TransferTo(1, 2, false)) << "a player that does not answer";
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(Lines().size(), 5u);
  EXPECT_EQ(Lines().back(), "1 1 to 2: refused: a player does not answer");
}

// Five thousand entries go over in steps across ticks, after the song that plays: no dispatch holds
// the thread past one send limit.
TEST_F(Transfer, ALongPlaylistGoesInStepsWithinTheBudget) {
  for (int i = 0; i < 5000; ++i) Model(1).Add("C:\\Music\\Big\\" + std::to_string(i) + ".mp3");
  Slower();
  world.ResetLongestDispatch();
  ASSERT_TRUE(TransferTo(1, 2, false));
  world.Advance(250);
  Player(2)->CatchUp();
  // The music moves first: the song that plays, at once; the rest follows while both rooms play.
  EXPECT_EQ(Model(2).State(), PlayState::Playing);
  EXPECT_EQ(Model(2).At(std::size_t(Model(2).CurrentIndex())).FileName, "C:\\Music\\2.mp3");
  EXPECT_LT(Model(2).Count(), 5005u);
  EXPECT_EQ(Model(1).State(), PlayState::Playing) << "until the target holds it all";
  int ticks = 1;
  while (Lines().size() < 2 && ticks < 400) world.Advance(250), ++ticks;
  EXPECT_EQ(Lines().back(), "1 1 to 2: done");
  EXPECT_EQ(Model(2).Count(), 5005u);
  EXPECT_GT(ticks, 20) << "in steps";
  EXPECT_LE(world.LongestDispatchMs(), int64_t(platform::kSendTimeoutMs));
}

// A slow player in either room is waited for, never taken for a hung one, nor is a short hang: the
// transfer completes, the target where the source is, and no dispatch holds the thread longer than one
// answer and a slice. A put given up that lands later is counted, not made twice.
TEST_F(Transfer, ASlowOrBrieflyHungPlayerIsWaitedFor) {
  struct Row {
    const char* What;
    uint32_t Source, Target;  // each player's time for an answer
    std::function<void()> Also;
  };
  const Row rows[] = {
      {"a target at 300 ms", 0, 300, {}},
      {"a target at 1.9 s", 0, 1900, {}},
      {"a source at 1.9 s", 1900, 0, {}},
      {"both at 300 ms", 300, 300, {}},
      {"both at 1.9 s", 1900, 1900, {}},
      {"a target hung for 9 s", 0, 0, [&] { Player(2)->HangFor(9000); }},
      {"a target taking 2.6 s for its first jump", 0, 0, [&] {
         Player(2)->SetHandlingTime([jumps = std::make_shared<int>()](const sim::SentMessage& m) {
           const bool first = m.Message == pn::kWmUser && m.LParam == pn::user::kJump && (*jumps)++ == 0;
           return first ? std::optional<uint32_t>(2600) : std::nullopt;
         });
       }},
      {"a target taking 2.6 s for an entry", 0, 0, [&] {
         Player(2)->SetHandlingTime([](const sim::SentMessage& m) {
           return m.Message == pn::kWmCopyData ? std::optional<uint32_t>(2600) : std::nullopt;
         });
       }},
  };
  for (const Row& row : rows) {
    Fresh();
    const std::vector<std::string> files = Files(1);
    Player(1)->SetReplyDelay(row.Source);
    Player(2)->SetReplyDelay(row.Target);
    if (row.Also) row.Also();
    world.ResetLongestDispatch();
    bool none[3] = {};  // a room whose player answers never shows as without one
    for (uint16_t id : {1, 2}) server.OnWrite(StateVar(id), [&none, id](const Value& v) { none[id] |= v.Int == -1; });
    ASSERT_TRUE(TransferTo(1, 2, true)) << row.What;
    for (int ticks = 0; Lines().size() < 2 && ticks < 2000; ++ticks) world.Advance(250);
    EXPECT_EQ(Lines().back(), "1 1 to 2: done") << row.What;
    EXPECT_FALSE(none[1]) << row.What << ": the play state shows -1 only for a player that did not answer";
    EXPECT_EQ(none[2], !!row.Also) << row.What;
    server.ClearEvents();
    Player(2)->SetHandlingTime(nullptr);
    Player(1)->CatchUp();
    Player(2)->CatchUp();
    EXPECT_EQ(Files(2), files) << row.What;
    EXPECT_EQ(Model(2).CurrentIndex(), 2) << row.What;
    EXPECT_EQ(Model(2).State(), PlayState::Playing) << row.What;
    EXPECT_LE(std::llabs(Model(2).PositionMs() - Model(1).PositionMs()), 500) << row.What;
    const uint32_t answer = std::max({row.Source, row.Target, uint32_t(platform::kSendTimeoutMs) * !!row.Also});
    EXPECT_LE(world.LongestDispatchMs(), int64_t(answer + kdo::pace::kSliceMs)) << row.What;
  }
}

// With a slow target the entries take minutes: those after the song that plays go first, so that the
// target plays on when the song ends; and its mirror keeps its pace meanwhile.
TEST_F(Transfer, WithASlowTargetTheNextSongIsThereWhenThisOneEnds) {
  server.DefineVariable("vol2", Value::I(0));
  ASSERT_EQ(EditSettings(2, [](TKDOWinampControlSettings& s) { s.VolumeVar = TKDOText("vol2"); }), KDO_S_OK);
  for (int i = 0; i < 100; ++i) Model(1).Add("C:\\Music\\Big\\" + std::to_string(i) + ".mp3");
  Call(1, "WAC_SetPlaylistPosition", {Value::I(100)});
  Call(1, "WAC_Play");
  Player(2)->SetReplyDelay(1900);
  ASSERT_TRUE(TransferTo(1, 2, true));
  auto song = [&] { return Model(2).Count() ? Model(2).At(std::size_t(Model(2).CurrentIndex())).FileName : ""; };
  for (int ticks = 0; song() != "C:\\Music\\Big\\94.mp3" && ticks < 400; ++ticks) world.Advance(250);
  Model(2).SetLength(Model(2).CurrentIndex(), 60);
  Model(2).OnUser(77, pn::user::kVolume);  // by hand, while the entries go over
  world.Advance(70000);
  EXPECT_EQ(server.Variable("vol2")->Int, 77) << "the mirror had its turns";
  Player(2)->CatchUp();
  EXPECT_EQ(song(), "C:\\Music\\Big\\95.mp3");
  EXPECT_EQ(Model(2).State(), PlayState::Playing);
  EXPECT_EQ(Lines().back(), "1 1 to 2: started") << "still under way";
}

// Handed back before the first transfer is done, the music would come back without the entries
// still on their way: refused, and the room keeps them all.
TEST_F(Transfer, AHandBackBeforeTheFirstIsDoneIsRefused) {
  for (int i = 0; i < 300; ++i) Model(1).Add("C:\\Music\\Big\\" + std::to_string(i) + ".mp3");
  const std::vector<std::string> files = Files(1);
  Slower();
  ASSERT_TRUE(TransferTo(1, 2, false));
  world.Advance(750);
  world.ClearSent();
  EXPECT_FALSE(TransferTo(2, 1, false));
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(Lines().back(), "2 2 to 1: refused: its own transfer has not finished");
  for (int ticks = 0; Lines().back() != "1 1 to 2: done" && ticks < 400; ++ticks) world.Advance(250);
  EXPECT_EQ(Files(1), files);
  EXPECT_TRUE(TransferTo(2, 1, false)) << "once it is done";
}

// What ends a transfer under way, and what each room is left with: the source as it was, the
// target as far as it got.
TEST_F(Transfer, EndsByACommandAHangANewPlayerOrAnInstancesEnd) {
  struct Row {
    const char* What;
    std::function<void()> During;
    const char* Why;
    uint32_t Target = 1;  // the target's time for an answer
    bool Started = false;  // the target played the song before it was given up
  };
  // With a slow target the moment spans ticks: the source commanded while the target is stopped.
  const auto whileStopped = [&](const char* name, std::vector<Value> params) {
    return [this, name, params] {
      for (int i = 0; i < 400 && (Player(2)->CatchUp(), Model(2).State() != PlayState::Stopped); ++i) world.Advance(50);
      Call(1, name, params);
    };
  };
  const Row rows[] = {
      {"a command to the target", [&] { Call(2, "WAC_Next"); }, "a command to room 2"},
      {"a command to the source", [&] { Call(1, "WAC_AddFile", {Value::S("C:\\x.mp3")}); }, "a command to room 1", 1, true},
      {"a command to the source while the target is stopped", whileStopped("WAC_AddFile", {Value::S("C:\\x.mp3")}),
       "a command to room 1", 300},
      {"a command to the source while the target is stopped and cleared", whileStopped("WAC_SetShuffle", {Value::B(false)}),
       "a command to room 1", 1900},
      {"the target's playlist changed by hand while a put given up lands",
       [&] {
         Player(2)->SetHandlingTime([](const sim::SentMessage& m) {
           return m.Message == pn::kWmCopyData ? std::optional<uint32_t>(2600) : std::nullopt;
         });
         world.Advance(3000);
         Model(2).Add("C:\\Kitchen\\by hand.mp3");
       },
       "the playlist of room 2 changed"},
      {"the target hangs past 10 s", [&] { Player(2)->HangFor(15000); }, "the player of room 2 does not answer"},
      {"the target takes 2.6 s for each message", [&] { Player(2)->SetReplyDelay(2600); },
       "the player of room 2 does not answer"},
      {"a new location for the target",
       [&] { EditSettings(2, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText("D:\\nowhere.exe"); }); },
       "another player in room 2"},
      {"the target goes", [&] { server.DestroyInstance(2); }, "room 2 goes"},
      {"another transfer into the target",
       [&] {
         Store(3, "WinampLocation", kExe);  // (Create would clear the debug lines)
         server.CreateInstance(info->ModuleID, 3);
         world.Advance(3000);  // its player bound
         Model(3).Add("C:\\Porch\\radio.mp3");
         Call(3, "WAC_Play");
         Call(3, "WAC_TransferTo", {Value::I(2), Value::B(false)});
       },
       "another transfer"},
  };
  for (const Row& row : rows) {
    Fresh();
    for (int i = 0; i < 3000; ++i) Model(1).Add("C:\\Music\\Big\\" + std::to_string(i) + ".mp3");
    Slower();
    Player(2)->SetReplyDelay(row.Target);
    world.Advance(5000);  // a slow target found slow
    ASSERT_TRUE(TransferTo(1, 2, false)) << row.What;
    world.Advance(250);
    row.During();
    world.Advance(30000);
    std::vector<std::string> lines = Lines();
    std::erase_if(lines, [](const std::string& line) { return line.rfind("1 ", 0) != 0; });  // room 1's
    ASSERT_EQ(lines.size(), 2u) << row.What;
    EXPECT_EQ(lines[1], std::string("1 1 to 2: given up: ") + row.Why) << row.What;
    Player(1)->CatchUp();
    EXPECT_EQ(Model(1).State(), PlayState::Playing) << row.What << ": the source plays on";
    if (Player(2)) {
      Player(2)->CatchUp();
      EXPECT_LT(Model(2).Count(), 3005u) << row.What << ": the target as far as it got";
      if (std::string_view(row.Why).find("room 2") == std::string_view::npos) {
        EXPECT_EQ(Model(2).State(), PlayState::Playing) << row.What << ": the target plays what it got, or had";
        const player::PlayerModel& t = Model(2);
        if (row.Started) {
          EXPECT_GE(t.PositionMs(), 42000) << row.What << ": started at the source's time, not again";
        }
      }
    }
  }
}

// An announcement in the source ends, and its music, not the announcement, goes over; both play on,
// also where the source answers in 1.9 s and the announcement's end takes several ticks. Given up
// at once (a command to the target), the source's music comes back.
TEST_F(Transfer, TheSourcesMusicNotItsAnnouncement) {
  for (const uint32_t delay : {0u, 1900u, 1u}) {
    const bool givenUp = delay == 1;
    Fresh();
    ASSERT_TRUE(Call(1, "WAC_Announce", {Value::S("C:\\Announcement\\bell.wav"), Value::I(230)}).Bool) << delay;
    world.Advance(500);
    ASSERT_EQ(Model(1).At(std::size_t(Model(1).CurrentIndex())).FileName, "C:\\Announcement\\bell.wav") << delay;
    Player(1)->SetReplyDelay(delay);
    world.Advance(10000);  // found slow
    ASSERT_TRUE(TransferTo(1, 2, true)) << delay;
    if (givenUp) Call(2, "WAC_SetRepeat", {Value::B(false)});
    for (int ticks = 0; Lines().size() < 2 && ticks < 2000; ++ticks) world.Advance(250);
    EXPECT_EQ(Lines().back(), givenUp ? "1 1 to 2: given up: a command to room 2" : "1 1 to 2: done") << delay;
    Player(1)->SetReplyDelay(0);
    world.Advance(1000);
    Player(1)->CatchUp();
    Player(2)->CatchUp();
    EXPECT_EQ(Model(1).Count(), 5u) << delay << ": the announcement's entry went";
    if (!givenUp) {
      EXPECT_EQ(Files(2), Files(1)) << delay;
    }
    for (uint16_t room : {uint16_t(1), uint16_t(givenUp ? 1 : 2)}) {
      EXPECT_EQ(Model(room).At(std::size_t(Model(room).CurrentIndex())).FileName, "C:\\Music\\2.mp3") << room;
      EXPECT_EQ(Model(room).State(), PlayState::Playing) << room;
      EXPECT_GE(Model(room).PositionMs(), 42000) << room << ": from where the music was";
    }
  }
}

}  // namespace
}  // namespace instancetest
