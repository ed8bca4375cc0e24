// The status mirror: what a tick asks, what it writes, and the time texts.
#include <gtest/gtest.h>

#include "InstanceFixture.h"

namespace instancetest {
namespace {

class Status : public InstanceTest {
 protected:
  // All seven variables, defined and chosen in the settings of instance 1.
  void ChooseAll() {
    const std::pair<const char*, host::Value> vars[] = {
        {"TrackPosVar", host::Value::S("")},   {"TrackLenVar", host::Value::S("")},
        {"TrackFileVar", host::Value::S("")},  {"TrackTitleVar", host::Value::S("")},
        {"VolumeVar", host::Value::I(0)},      {"ShuffleVar", host::Value::B(false)},
        {"RepeatVar", host::Value::B(false)},
    };
    for (const auto& [key, value] : vars) {
      server.DefineVariable(std::string("v_") + key, value);
      Store(1, key, std::string("v_") + key);
    }
  }
  host::Value Var(const char* key) { return *server.Variable(std::string("v_") + key); }
};

TEST_F(Status, TimerRunsEvery250Ms) {
  ChooseAll();
  Create(1);
  world.ClearSent();
  world.Advance(249);
  EXPECT_TRUE(world.Sent().empty());
  world.Advance(1);
  EXPECT_EQ(world.Sent().size(), 9u) << "empty playlist: file and title stop at the range test";
  EXPECT_EQ(world.OpenProcessCalls(), 0);
  Call(1, "WAC_AddFile", {host::Value::S("a.mp3")});
  world.ClearSent();
  world.Advance(250);
  EXPECT_EQ(world.Sent().size(), 11u) << "position, length, 3 for the file, 3 for the title, volume, shuffle, repeat";
  EXPECT_EQ(world.OpenProcessCalls(), 2);
  EXPECT_EQ(world.OpenProcessHandles(), 0);
}

TEST_F(Status, SevenItemsFollowThePlayer) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("C:\\Music\\First Song.mp3")});
  Call(1, "WAC_SetShuffle", {host::Value::B(true)});
  Call(1, "WAC_Play");
  Model(1).OnUser(100, 122);  // volume 100 at the player
  world.Advance(59900);        // 59.9 s into the track
  EXPECT_EQ(Var("TrackPosVar").Str, "0:00:59") << "truncated, never rounded up";
  EXPECT_EQ(Var("TrackLenVar").Str, "0:03:25") << "205 s";
  EXPECT_EQ(Var("TrackFileVar").Str, "C:\\Music\\First Song.mp3");
  EXPECT_EQ(Var("TrackTitleVar").Str, "First Song");
  EXPECT_EQ(Var("VolumeVar").Int, 100);
  EXPECT_EQ(Var("ShuffleVar").Bool, true);
  EXPECT_EQ(Var("RepeatVar").Bool, false);
}

TEST_F(Status, EveryTickWithAllEmptyIdentifiersAsksAndTouchesNothing) {
  server.DefineVariable("v", host::Value::I(1));
  Create(1);
  world.ClearSent();
  world.Advance(5000);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(server.VariableReads("v"), 0);
}

TEST_F(Status, EmptyIdentifierSkipsItsQueryAndItsVariable) {
  server.DefineVariable("vol", host::Value::I(0));
  Store(1, "VolumeVar", "vol");
  Create(1);
  world.ClearSent();
  world.Advance(250);
  ASSERT_EQ(world.Sent().size(), 1u);
  EXPECT_EQ(world.Sent()[0].WParam, 0xFFFFFD66u);
  EXPECT_EQ(world.Sent()[0].LParam, 122u);
}

TEST_F(Status, AnEqualVariableIsReadEveryTickAndNeverWritten) {
  ChooseAll();
  Create(1);
  world.Advance(250);
  const int writes = server.VariableWrites("v_VolumeVar");
  const int reads = server.VariableReads("v_VolumeVar");
  world.Advance(1000);
  EXPECT_EQ(server.VariableWrites("v_VolumeVar"), writes);
  EXPECT_EQ(server.VariableReads("v_VolumeVar"), reads + 4);
  EXPECT_EQ(server.VariableWrites("v_TrackPosVar"), 1) << "0:00:00 once, then unchanged";
}

TEST_F(Status, ChangedByHandIsSetBackAtTheNextTick) {
  ChooseAll();
  Create(1);
  world.Advance(250);
  server.DefineVariable("v_VolumeVar", host::Value::I(7));
  world.Advance(250);
  EXPECT_EQ(Var("VolumeVar").Int, 255);
}

TEST_F(Status, TitleChangingOnlyInLetterCaseIsNotWritten) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("x.mp3")});
  Model(1).SetTitle(0, "HELLO WORLD");
  world.Advance(250);
  ASSERT_EQ(Var("TrackTitleVar").Str, "HELLO WORLD");
  Model(1).SetTitle(0, "Hello World");
  world.Advance(250);
  EXPECT_EQ(Var("TrackTitleVar").Str, "HELLO WORLD");
  Model(1).SetTitle(0, "Hello W\xC3\xB6rld");
  world.Advance(250);
  EXPECT_EQ(Var("TrackTitleVar").Str, "Hello W\xC3\xB6rld");
}

TEST_F(Status, TimeTextsShowOnlyTheTimeOfDay) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("long.mp3")});
  Model(1).SetLength(0, 90000);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "1:00:00") << "90000 s shows as 3600 s";
  Model(1).SetLength(0, 86399);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "23:59:59");
  Model(1).SetLength(0, 86400);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "0:00:00");
  Model(1).SetLength(0, -1);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "0:00:01") << "a negative count shows its magnitude";
  Model(1).SetLength(0, INT32_MIN);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "3:14:08") << "2147483648 s is 24855 days and 3:14:08";
}

TEST_F(Status, TimeTextsFollowTheLongTimeFormat) {
  world.SetLongTimeFormat("hh.nn.ss 'Uhr'");
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("x.mp3")});
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "00.03.25 Uhr");
}

TEST_F(Status, UnboundLinkAsksNothingAndVariablesKeepTheirValues) {
  ChooseAll();
  Create(1);
  world.Advance(250);
  ASSERT_EQ(Var("VolumeVar").Int, 255);
  TKDOWinampControlSettings s;
  Control(1)->GetSettings(&s);
  s.WinampLocation = TKDOText();
  Control(1)->SetSettings(KDOSettingsValue(s));  // closes the player: the link is unbound
  world.ClearSent();
  world.Advance(5000);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(Var("VolumeVar").Int, 255);
}

TEST_F(Status, PlayerGoneShowsZerosUntilTheLinkLooksAgain) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_SetRepeat", {host::Value::B(true)});
  world.Advance(250);
  ASSERT_EQ(Var("RepeatVar").Bool, true);
  Player(1)->Die();
  world.Advance(250);
  EXPECT_EQ(Var("VolumeVar").Int, 0);
  EXPECT_EQ(Var("RepeatVar").Bool, false);
  EXPECT_EQ(Var("TrackPosVar").Str, "0:00:00");
}

TEST_F(Status, FailedReadsOfTheWrongTypeAreWrittenAnyway) {
  server.DefineVariable("num", host::Value::S("not a number"));
  server.DefineVariable("flag", host::Value::I(3));
  Store(1, "VolumeVar", "num");
  Store(1, "ShuffleVar", "flag");
  Create(1);
  world.Advance(500);
  EXPECT_EQ(server.VariableWrites("num"), 2) << "each tick tries";
  EXPECT_EQ(server.VariableWrites("flag"), 2);
  EXPECT_EQ(server.Variable("num")->Str, "not a number") << "the server refuses the wrong type";
}

TEST_F(Status, MissingVariableManagerIsSkipped) {
  server.Refuse(IID_IKDOVariableManager);
  ChooseAll();
  Create(1);
  world.Advance(1000);
  Call(1, "WAC_SetVolume", {host::Value::I(3)});
  EXPECT_EQ(Var("VolumeVar").Int, 0);
  EXPECT_EQ(Model(1).Volume(), 3);
}

}  // namespace
}  // namespace instancetest
