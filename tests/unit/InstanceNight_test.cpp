// A room's volume ceiling on each path a volume takes to the player, and its sleep timer: the
// music faded out and stopped with the volume back for the morning, what cancels it, what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "InstanceFixture.h"
#include "SettingsKeys.h"

namespace instancetest {
namespace {

using host::Value;
using player::PlayState;

class Night : public InstanceTest {
 protected:
  // Two songs, the first playing at 180, the volume mirrored; from here on every volume given is recorded.
  void MusicPlays(uint32_t replyMs = 0) {
    server.DefineVariable("vol", Value::I(0));
    Store(1, "VolumeVar", "vol");
    Create(1);
    Call(1, "WAC_AddFile", {Value::S("C:\\Music\\One.mp3")});
    Call(1, "WAC_AddFile", {Value::S("C:\\Music\\Two.mp3")});
    Call(1, "WAC_Play");
    Call(1, "WAC_SetVolume", {Value::I(180)});
    Call(1, "WAC_SaveState");
    Player(1)->SetReplyDelay(replyMs);
    given.clear();
    world.OnSend = [this](const sim::SentMessage& m) {
      if (m.Message == pn::kWmUser && m.LParam == pn::user::kVolume && m.WParam <= 255) given.push_back(int32_t(m.WParam));
    };
  }
  // Announcements of two seconds, once added.
  void Pass(int64_t ms) {
    for (; ms > 0; ms -= 250) {
      world.Advance(250);
      for (std::size_t i = 0; i < Model(1).Count(); ++i)
        if (Model(1).At(i).FileName.rfind("C:\\Sounds", 0) == 0) Model(1).SetLength(int32_t(i), 2);
    }
  }
  std::vector<int32_t> given;
  bool slow = false;
};

// Whatever gives the player a volume, the ceiling holds it; lowered, it brings the volume down at
// once, and a volume a person sets in the player itself at the next turn.
TEST_F(Night, TheCeilingHoldsEveryVolumeGivenToThePlayer) {
  struct Row {
    const char* What;
    std::function<void()> Before;  // with no ceiling yet
    std::function<void()> After;
    int32_t Volume;
  };
  const auto nothing = [] {};
  const Row rows[] = {
      {"lowered", nothing, nothing, 100},
      {"a script's volume", nothing,
       [this] {
         Call(1, "WAC_SetVolume", {Value::I(200)});
         if (!slow) {
           EXPECT_EQ(server.Variable("vol")->Int, 100) << "at once";
         }
       },
       100},
      {"a lower one as it is", nothing, [this] { Call(1, "WAC_SetVolume", {Value::I(60)}); }, 60},
      {"a fade", nothing, [this] { Call(1, "WAC_FadeVolume", {Value::I(250), Value::I(1)}), Pass(1500); }, 100},
      {"a restored state", nothing, [this] { Call(1, "WAC_RestoreState"); }, 100},
      {"an announcement's, and the music's put back",
       nothing, [this] { Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\bell.wav"), Value::I(250)}), Pass(5000); }, 100},
      {"the music put back, lowered during its announcement",
       [this] { Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\bell.wav"), Value::I(250)}); },
       [this] { Pass(5000); }, 100},
      {"set in the player", nothing, [this] { Model(1).OnUser(240, pn::user::kVolume), Pass(250); }, 100},
  };
  for (const Row& row : rows)
    for (const uint32_t reply : {0u, 1900u}) {
      SCOPED_TRACE(std::string(row.What) + (reply ? ", slow" : ""));
      slow = reply != 0;
      if (server.Instance(1)) Player(1)->SetReplyDelay(0), server.DestroyInstance(1), world.Advance(1000);
      MusicPlays(reply);
      row.Before();
      given.clear();
      ASSERT_EQ(Call(1, "WAC_SetVolumeLimit", {Value::I(100)}).Bool, 1);
      if (!reply) {
        EXPECT_LE(Model(1).Volume(), 100) << "at once";
      }
      row.After();
      Pass(reply ? 60000 : 500);
      EXPECT_EQ(Model(1).Volume(), row.Volume);
      EXPECT_FALSE(given.empty());
      for (const int32_t volume : given) EXPECT_LE(volume, 100);
      if (!reply) {
        EXPECT_EQ(Call(1, "WAC_GetVolume").Int, row.Volume) << "a slow player's waits behind our question";
      }
      EXPECT_EQ(server.Variable("vol")->Int, row.Volume);
    }
  // Lifted, it holds nothing back.
  Call(1, "WAC_SetVolumeLimit", {Value::I(300)});
  Call(1, "WAC_SetVolume", {Value::I(250)});
  Pass(5000);
  EXPECT_EQ(Model(1).Volume(), 250);
}

// After its minutes the music fades to nothing over its seconds, stops, and has its volume back;
// a slow player the same, in its time.
TEST_F(Night, TheSleepTimerFadesOutStopsAndPutsTheVolumeBack) {
  for (const uint32_t reply : {0u, 1900u}) {
    SCOPED_TRACE(reply);
    if (server.Instance(1)) Player(1)->SetReplyDelay(0), server.DestroyInstance(1), world.Advance(1000);
    MusicPlays(reply);
    ASSERT_EQ(Call(1, "WAC_SleepTimer", {Value::I(1), Value::I(2)}).Bool, 1);
    Pass(59750);
    EXPECT_EQ(Model(1).State(), PlayState::Playing);
    EXPECT_TRUE(given.empty()) << "nothing before its time";
    Pass(reply ? 60000 : 3000);
    EXPECT_EQ(Model(1).State(), PlayState::Stopped);
    EXPECT_EQ(Model(1).Volume(), 180);
    ASSERT_GE(given.size(), 2u);
    EXPECT_TRUE(std::is_sorted(given.begin(), given.end() - 1, std::greater<>())) << "down, then back";
    EXPECT_EQ(given[given.size() - 2], 0);
    EXPECT_EQ(given.back(), 180);
    if (!reply) {
      EXPECT_EQ(given.size(), 9u) << "a step a tick for 2 s, the last at 0, then the volume back";
    }
  }
}

// Cancelled before its time it does nothing; halfway through its fade, the music's volume comes
// back, unless what cancelled it gave one of its own.
TEST_F(Night, WhatCancelsTheSleepTimer) {
  struct Row {
    const char* What;
    std::function<void()> Cancel;
    int32_t Volume;
    PlayState State;
  };
  const Row rows[] = {
      {"play", [this] { Call(1, "WAC_Play"); }, 180, PlayState::Playing},
      {"pause", [this] { Call(1, "WAC_Pause"); }, 180, PlayState::Paused},
      {"stop", [this] { Call(1, "WAC_Stop"); }, 180, PlayState::Stopped},
      {"next", [this] { Call(1, "WAC_Next"); }, 180, PlayState::Playing},
      {"previous", [this] { Call(1, "WAC_Prev"); }, 180, PlayState::Playing},
      {"a volume", [this] { Call(1, "WAC_SetVolume", {Value::I(50)}); }, 50, PlayState::Playing},
      {"a fade", [this] { Call(1, "WAC_FadeVolume", {Value::I(70), Value::I(0)}); }, 70, PlayState::Playing},
      {"a new timer", [this] { Call(1, "WAC_SleepTimer", {Value::I(9), Value::I(0)}); }, 180, PlayState::Playing},
      {"no timer", [this] { Call(1, "WAC_SleepTimer", {Value::I(0), Value::I(0)}); }, 180, PlayState::Playing},
      {"a handover", [this] { Call(1, "WAC_TransferTo", {Value::I(2), Value::B(true)}); }, 180, PlayState::Playing},
      {"a handover into it", [this] { Call(2, "WAC_TransferTo", {Value::I(1), Value::B(false)}); }, 180,
       PlayState::Stopped},  // room 2's empty playlist
      // Nothing of it reaches the new player, which starts as it starts.
      {"another player",
       [this] {
         EditSettings(1, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText("D:\\Other\\winamp.exe"); });
       },
       player::PlayerModel::kInitialVolume, PlayState::Stopped},
  };
  farm.InstallExecutable("D:\\Other\\winamp.exe");
  for (const Row& row : rows)
    for (const int64_t at : {30000, 62000}) {
      SCOPED_TRACE(std::string(row.What) + " at " + std::to_string(at));
      for (uint16_t id : {1, 2})
        if (server.Instance(id)) server.DestroyInstance(id);
      world.Advance(1000);
      Create(2);
      MusicPlays();
      ASSERT_EQ(Call(1, "WAC_SleepTimer", {Value::I(1), Value::I(4)}).Bool, 1);
      Pass(at);
      EXPECT_EQ(Model(1).Volume(), at < 60000 ? 180 : 90) << "halfway";
      given.clear();
      row.Cancel();
      Pass(120000);
      EXPECT_EQ(Model(1).Volume(), row.Volume);
      if (row.Volume != 180) {
        EXPECT_EQ(std::count(given.begin(), given.end(), 180), 0) << "the music's volume, not even for a moment";
      }
      for (const int32_t volume : given) EXPECT_GE(volume, std::min(row.Volume, 90)) << "the fade went on";
      if (row.Volume == player::PlayerModel::kInitialVolume) {
        EXPECT_TRUE(given.empty()) << "no fade for the new player";
      }
      EXPECT_EQ(Model(1).State(), row.State);
    }
}

// Out of range, or without a player, it is refused and a timer set before runs on.
TEST_F(Night, TheSleepTimerRefusesWhatItCannotDo) {
  MusicPlays();
  ASSERT_EQ(Call(1, "WAC_SleepTimer", {Value::I(1), Value::I(0)}).Bool, 1);
  for (const auto& [minutes, seconds] : {std::pair{-1, 0}, {1441, 0}, {1, -1}, {1, 3601}})
    EXPECT_EQ(Call(1, "WAC_SleepTimer", {Value::I(minutes), Value::I(seconds)}).Bool, 0) << minutes << " " << seconds;
  EXPECT_EQ(Call(1, "WAC_SleepTimer", {Value::I(1440), Value::I(3600)}).Bool, 1) << "the longest";
  EXPECT_EQ(Call(1, "WAC_SleepTimer", {Value::I(1), Value::I(0)}).Bool, 1);
  Player(1)->HangFor(30000);
  Pass(3000);
  EXPECT_EQ(Call(1, "WAC_SleepTimer", {Value::I(5), Value::I(0)}).Bool, 0) << "no answering player";
  Pass(90000);
  EXPECT_EQ(Model(1).State(), PlayState::Stopped) << "the timer set before";
  Create(3, false);
  EXPECT_EQ(Call(3, "WAC_SleepTimer", {Value::I(1), Value::I(0)}).Bool, 0) << "no player";
}

// An announcement during the fade plays at its own volume; the fade goes on with the music when
// it is back, and the music stops once it has faded out.
TEST_F(Night, AnAnnouncementDuringTheFadeRingsAtItsOwnVolume) {
  MusicPlays();
  ASSERT_EQ(Call(1, "WAC_SleepTimer", {Value::I(1), Value::I(8)}).Bool, 1);
  Pass(62000);
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\bell.wav"), Value::I(230)}).Bool, 1);
  EXPECT_EQ(Model(1).Volume(), 230);
  Pass(1000);
  EXPECT_EQ(Model(1).Volume(), 230) << "the fade is the music's";
  Pass(10000);
  EXPECT_EQ(Model(1).State(), PlayState::Stopped);
  EXPECT_EQ(Model(1).Volume(), 180);
  EXPECT_EQ(Model(1).Count(), 2u) << "the announcement gone";
  EXPECT_NE(std::find(given.begin(), given.end(), 0), given.end()) << "faded out before it stopped";
}

}  // namespace
}  // namespace instancetest
