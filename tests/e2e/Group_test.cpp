// One announcement in 2, 3 and 6 rooms at once under Wine: a player.exe for each room, the DLL, the
// stand-in server. By the players' own clocks the rooms are told to play within 50 ms of each other,
// and each room's music comes back where it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "E2E.h"
#include "LoadedModule.h"
#include "PlayerNumbers.h"
#include "player/PlayerModel.h"

namespace {

using host::Value;

constexpr uint16_t kFirst = 40071;
constexpr int kMostRooms = 6;
constexpr const char* kBell = "C:\\Sounds\\Doorbell.wav";

std::string ClassOf(int room) { return "WA_KDO_" + std::to_string(kFirst + room); }

class GroupE2E : public LoadedModuleTest {
 protected:
  void SetUp() override {
    for (int room = 0; room < kMostRooms; ++room) e2e::KillPlayers(ClassOf(room));
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
    for (int room = 0; room < kMostRooms; ++room) {
      server.SetSetting(uint16_t(kFirst + room), "Settings", "WinampLocation", e2e::PlayerPath());
      ASSERT_EQ(server.CreateInstance(info->ModuleID, uint16_t(kFirst + room)), KDO_S_OK);
    }
    ASSERT_TRUE(e2e::PumpUntil([&] {
      for (int room = 0; room < kMostRooms; ++room)
        if (Call(room, "WAC_GetPlaylistLength").Int != 0) return false;
      return true;
    }, 30000));
  }
  void TearDown() override {
    LoadedModuleTest::TearDown();
    for (int room = 0; room < kMostRooms; ++room) e2e::KillPlayers(ClassOf(room));
  }
  host::CallResult Call(int room, const std::string& name, std::vector<Value> params = {}) {
    return server.Call(name, uint16_t(kFirst + room), params, {});
  }
  // Asked of the player directly, as the user's own look at it.
  int32_t Ask(int room, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR reply = 0;
    SendMessageTimeoutA(FindWindowA(ClassOf(room).c_str(), nullptr), playernumbers::kWmUser, wParam, lParam,
                        SMTO_NORMAL, 2000, &reply);
    return int32_t(reply);
  }
};

TEST_F(GroupE2E, RoomsStartTogetherAndEachPutsItsMusicBack) {
  for (const int rooms : {2, 3, 6}) {
    SCOPED_TRACE(rooms);
    std::string others;
    std::vector<int32_t> toldBefore, position;
    for (int room = 0; room < rooms; ++room) {
      Call(room, "WAC_ClearPlaylist");
      for (const char* song : {"A", "B"})
        Call(room, "WAC_AddFile", {Value::S("C:\\Music\\" + std::to_string(room) + song + ".mp3")});
      Call(room, "WAC_Play");
      Call(room, "WAC_SetTrackPosition", {Value::I(30)});
      if (room > 0) others += std::to_string(kFirst + room) + " ";
    }
    for (int room = 0; room < rooms; ++room) toldBefore.push_back(Ask(room, 0, player::control::kLastPlayAt));
    const DWORD asked = GetTickCount();
    for (int room = 0; room < rooms; ++room) position.push_back(Ask(room, 0, player::user::kTime));
    ASSERT_EQ(Call(0, "WAC_AnnounceWith", {Value::S(others), Value::S(kBell), Value::I(200)}).Bool, 1);
    const DWORD called = GetTickCount();
    std::vector<int32_t> told(std::size_t(rooms), 0);
    ASSERT_TRUE(e2e::PumpUntil([&] {
      for (int room = 0; room < rooms; ++room) told[std::size_t(room)] = Ask(room, 0, player::control::kLastPlayAt);
      for (int room = 0; room < rooms; ++room)
        if (told[std::size_t(room)] == toldBefore[std::size_t(room)]) return false;
      return true;
    }, 5000));
    int32_t first = told[0], last = told[0];
    for (const int32_t at : told) first = int32_t(at - first) < 0 ? at : first, last = int32_t(at - last) > 0 ? at : last;
    std::cout << "[          ] " << rooms << " rooms: told to play within " << int32_t(last - first)
              << " ms of each other\n";
    EXPECT_LE(int32_t(last - first), 50);
    // Two seconds of the chime, then the music where it was in each room.
    for (int room = 0; room < rooms; ++room) Ask(room, 2, player::control::kSetLength);
    std::cout << "[          ] " << rooms << " rooms: the music's position when it is back, against where it was:";
    for (int room = 0; room < rooms; ++room) {
      ASSERT_TRUE(e2e::PumpUntil([&] {
        return Ask(room, 0, player::user::kCount) == 2 && Ask(room, 0, player::user::kCurrent) == 0 &&
               Ask(room, 0, player::user::kPlayState) == 1;
      }, 15000)) << room;
      const int32_t was = position[std::size_t(room)] + int32_t(called - asked);
      const int32_t error = Ask(room, 0, player::user::kTime) - was;
      std::cout << " " << error << " ms";
      EXPECT_GE(error, -500) << room;
      EXPECT_LE(error, 1500) << room << ": where it was, not from its start";
    }
    std::cout << "\n";
  }
}

}  // namespace
