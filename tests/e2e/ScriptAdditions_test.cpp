// Script functions beyond the classic fifteen, on the real target:
// the loaded DLL drives a real player.exe, and the mirror shows where a seek went.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "E2E.h"
#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"

namespace {

using e2e::PumpUntil;
using host::Value;

class ScriptAdditions : public LoadedModuleTest {
 protected:
  static constexpr uint16_t kId = 40021;
  static constexpr const char* kClass = "WA_KDO_40021";

  void SetUp() override {
    e2e::KillPlayers(kClass);
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
    server.SetSetting(kId, "Settings", "WinampLocation", e2e::PlayerPath());
    server.DefineVariable("Pos", Value::S(""));
    server.DefineVariable("Vol", Value::I(0));
    server.SetSetting(kId, "Settings", "TrackPosVar", "Pos");
    server.SetSetting(kId, "Settings", "VolumeVar", "Vol");
    ASSERT_EQ(server.CreateInstance(info->ModuleID, kId), KDO_S_OK);
    // Bound once the mirror reports the player's volume.
    ASSERT_TRUE(PumpUntil([&] { return server.Variable("Vol")->Int == 255; }, 15000)) << "player bound";
  }
  void TearDown() override {
    LoadedModuleTest::TearDown();
    e2e::KillPlayers(kClass);
  }
  host::CallResult Call(const char* name, std::vector<Value> params = {}) {
    host::CallResult r = server.Call(name, kId, params);
    EXPECT_TRUE(r.Routed) << name;
    return r;
  }
};

TEST_F(ScriptAdditions, PlayStateSeekAndTrackTimesAgainstPlayerExe) {
  EXPECT_EQ(Call("WAC_GetTrackLength").Int, -1) << "no track yet";
  Call("WAC_AddFile", {Value::S("C:\\Music\\Morning Song.mp3")});
  EXPECT_EQ(Call("WAC_GetPlayState").Int, 0) << "stopped";
  EXPECT_FALSE(Call("WAC_SetTrackPosition", {Value::I(10)}).Bool) << "a stopped player does not seek";

  Call("WAC_Play");
  EXPECT_EQ(Call("WAC_GetPlayState").Int, 1) << "playing";
  Call("WAC_Pause");
  EXPECT_EQ(Call("WAC_GetPlayState").Int, 3) << "paused";
  EXPECT_EQ(Call("WAC_GetTrackLength").Int, 205);

  EXPECT_TRUE(Call("WAC_SetTrackPosition", {Value::I(90)}).Bool);
  EXPECT_EQ(Call("WAC_GetTrackPosition").Int, 90);
  EXPECT_TRUE(PumpUntil([&] { return server.Variable("Pos")->Str == "0:01:30"; }, 2000))
      << "the mirror shows the new position, it shows " << server.Variable("Pos")->Str;

  EXPECT_FALSE(Call("WAC_SetTrackPosition", {Value::I(205)}).Bool) << "past the end";
  EXPECT_FALSE(Call("WAC_SetTrackPosition", {Value::I(100000)}).Bool);

  Call("WAC_Stop");
  EXPECT_EQ(Call("WAC_GetPlayState").Int, 0) << "stopped";
  EXPECT_EQ(server.Debug().back(), (host::DebugLine{kId, "GET PLAY STATE", ""}));
}

// player.exe reads the insert record through its documented declaration ({char file[MAX_PATH];
// int index;}, 264 bytes on the 32-bit target): each entry lands where the index says, a name that
// fills the buffer arrives whole, and the current entry stays current.
TEST_F(ScriptAdditions, InsertionsLandWherePlayerExeReadsTheRecord) {
  for (const char* f : {"C:\\Music\\One.mp3", "C:\\Music\\Two.mp3", "C:\\Music\\Three.mp3"})
    Call("WAC_AddFile", {Value::S(f)});
  Call("WAC_SetPlaylistPosition", {Value::I(2)});
  Call("WAC_Play");
  const std::string longest = "C:\\" + std::string(252, 'x') + ".mp3";
  EXPECT_TRUE(Call("WAC_InsertFile", {Value::S("C:\\A.mp3"), Value::I(1)}).Bool);
  EXPECT_EQ(Call("WAC_GetPlaylistPosition").Int, 3) << "Two, one place down";
  EXPECT_TRUE(Call("WAC_PlayNext", {Value::S("C:\\B.mp3")}).Bool);
  EXPECT_TRUE(Call("WAC_InsertFile", {Value::S(longest), Value::I(6)}).Bool);
  EXPECT_FALSE(Call("WAC_InsertFile", {Value::S(longest + "x"), Value::I(1)}).Bool);
  EXPECT_TRUE(Call("WAC_PlayNow", {Value::S("C:\\C.mp3")}).Bool);
  const char* order[] = {"C:\\A.mp3", "C:\\Music\\One.mp3", "C:\\Music\\Two.mp3", "C:\\C.mp3",
                         "C:\\B.mp3", "C:\\Music\\Three.mp3"};
  EXPECT_EQ(Call("WAC_GetPlaylistLength").Int, 7);
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(Call("WAC_GetPlaylistFile", {Value::I(i + 1)}).Str, order[i]) << i;
  EXPECT_EQ(Call("WAC_GetPlaylistFile", {Value::I(7)}).Str, longest);
  EXPECT_EQ(Call("WAC_GetPlaylistPosition").Int, 4) << "playing what was inserted now";
  EXPECT_EQ(Call("WAC_GetPlayState").Int, 1);
}

}  // namespace

// The night against player.exe: a ceiling holds a script's volume and brings down one set in the player
// itself; a sleep timer fades the music out after its minute, stops it, and puts the volume back.
TEST_F(ScriptAdditions, CeilingAndSleepTimerAgainstPlayerExe) {
  Call("WAC_AddFile", {Value::S("C:\\Music\\Night Song.mp3")});
  Call("WAC_Play");
  Call("WAC_SetVolume", {Value::I(180)});
  EXPECT_TRUE(Call("WAC_SetVolumeLimit", {Value::I(100)}).Bool);
  EXPECT_EQ(Call("WAC_GetVolume").Int, 100) << "brought down at once";
  Call("WAC_SetVolume", {Value::I(200)});
  EXPECT_EQ(Call("WAC_GetVolume").Int, 100);
  SendMessageA(FindWindowA(kClass, nullptr), WM_USER, 240, 122);  // by hand on the player
  EXPECT_TRUE(PumpUntil([&] { return server.Variable("Vol")->Int == 100; }, 3000)) << "down again at the next turns";
  Call("WAC_SetVolumeLimit", {Value::I(255)});
  Call("WAC_SetVolume", {Value::I(180)});
  ASSERT_TRUE(Call("WAC_SleepTimer", {Value::I(1), Value::I(2)}).Bool);
  EXPECT_FALSE(Call("WAC_SleepTimer", {Value::I(1441), Value::I(2)}).Bool);
  EXPECT_TRUE(PumpUntil([&] { return Call("WAC_GetPlayState").Int == 0; }, 70000)) << "stopped after its minute";
  EXPECT_TRUE(PumpUntil([&] { return Call("WAC_GetVolume").Int == 180; }, 3000)) << "the volume back for the morning";
}
