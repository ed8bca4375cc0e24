// The whole road on the real target: the stand-in server loads the DLL, two
// instances start their own player.exe from stored settings, a script drives
// them, the mirrored variables follow, and destruction closes both players.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host/HostScript.h"
#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"
#include "E2E.h"
#include "SettingsKeys.h"

namespace {

using e2e::PlayerPath;
using e2e::PumpUntil;

HWND PlayerWindow(uint16_t id) { return FindWindowA(("WA_KDO_" + std::to_string(id)).c_str(), nullptr); }

void KillPlayer(uint16_t id) { e2e::KillPlayers("WA_KDO_" + std::to_string(id)); }

class InstanceRoad : public LoadedModuleTest {
 protected:
  static constexpr uint16_t kA = 40001, kB = 40002;
  void SetUp() override {
    KillPlayer(kA);
    KillPlayer(kB);
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
    for (uint16_t id : {kA, kB}) {
      const std::string n = std::to_string(id);
      server.SetSetting(id, "Settings", "WinampLocation", PlayerPath());
      testdata::ChooseAll(server, id, [&](const std::string& key) { return key + n; });
    }
  }
  void TearDown() override {
    LoadedModuleTest::TearDown();
    KillPlayer(kA);
    KillPlayer(kB);
  }
  host::Value Var(const char* key, uint16_t id) { return *server.Variable(key + std::to_string(id)); }
};

TEST_F(InstanceRoad, TwoInstancesTwoPlayersDrivenByAScript) {
  ASSERT_EQ(server.CreateInstance(info->ModuleID, kA), KDO_S_OK);
  ASSERT_EQ(server.CreateInstance(info->ModuleID, kB), KDO_S_OK);
  ASSERT_TRUE(PumpUntil([] { return PlayerWindow(kA) && PlayerWindow(kB); }, 15000)) << "each starts its own player";
  EXPECT_NE(PlayerWindow(kA), PlayerWindow(kB));
  // Bound within the check period: the volume variable follows the player's 255.
  ASSERT_TRUE(PumpUntil([&] { return Var("VolumeVar", kA).Int == 255 && Var("VolumeVar", kB).Int == 255; }, 5000));

  host::ScriptRunner run(server, [](uint32_t ms) { host::PumpMessages(ms); });
  const std::string a = std::to_string(kA), b = std::to_string(kB);
  const std::vector<std::string> script = {
      "WAC_AddFile(" + a + ", \"C:\\\\Music\\\\Morning Song.mp3\")",
      "WAC_AddFile(" + a + ", \"C:\\\\Music\\\\Evening.mp3\")",
      "WAC_AddFile(" + b + ", \"D:\\\\Other\\\\Only One.ogg\")",
      "WAC_SetPlaylistPosition(" + a + ", 2)",
      "WAC_Play(" + a + ")",
      "WAC_SetVolume(" + a + ", 300)",
      "WAC_SetShuffle(" + a + ", true)",
      "WAC_SetRepeat(" + b + ", true)",
  };
  std::string out, error;
  for (const std::string& line : script) ASSERT_TRUE(run.Run(line, out, error)) << line << ": " << error;
  ASSERT_TRUE(run.Run("WAC_GetPlaylistTitle(" + a + ", 1)", out, error));
  EXPECT_EQ(out, "WAC_GetPlaylistTitle(" + a + ", 1) -> \"Morning Song\"");
  ASSERT_TRUE(run.Run("WAC_GetPlaylistPosition(" + a + ")", out, error));
  EXPECT_EQ(out, "WAC_GetPlaylistPosition(" + a + ") -> 2");
  ASSERT_TRUE(run.Run("WAC_GetPlaylistLength(" + b + ")", out, error));
  EXPECT_EQ(out, "WAC_GetPlaylistLength(" + b + ") -> 1") << "each command reaches only its own player";
  EXPECT_EQ(Var("VolumeVar", kA).Int, 300) << "written through at once";

  // Within a second the seven variables follow each player.
  host::PumpMessages(1000);
  EXPECT_EQ(Var("TrackFileVar", kA).Str, "C:\\Music\\Evening.mp3");
  EXPECT_EQ(Var("TrackTitleVar", kA).Str, "Evening");
  EXPECT_EQ(Var("TrackLenVar", kA).Str.empty(), false);
  EXPECT_EQ(Var("VolumeVar", kA).Int, 44);
  EXPECT_EQ(Var("ShuffleVar", kA).Bool, true);
  EXPECT_EQ(Var("RepeatVar", kA).Bool, false);
  EXPECT_EQ(Var("TrackTitleVar", kB).Str, "Only One");
  EXPECT_EQ(Var("RepeatVar", kB).Bool, true);
  EXPECT_EQ(Var("ShuffleVar", kB).Bool, false);
  EXPECT_EQ(Var("VolumeVar", kB).Int, 255);
  EXPECT_NE(Var("TrackPosVar", kA).Str, "") << "a time text";

  server.DestroyAllInstances();
  EXPECT_TRUE(PumpUntil([] { return !PlayerWindow(kA) && !PlayerWindow(kB); }, 5000)) << "both players closed";
  EXPECT_EQ(server.Setting(kA, "Settings", "WinampLocation"), PlayerPath()) << "settings stay in the store";
  EXPECT_EQ(server.Setting(kB, "Settings", "VolumeVar"), "VolumeVar" + b);
}

}  // namespace
