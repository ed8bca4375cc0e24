// A room's music handed to another room under Wine: two player.exe, the DLL, the stand-in server.
// The target gets the source's entries and entry, and starts where the source is; both play on, with
// quick players and with slow ones.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>

#include "E2E.h"
#include "LoadedModule.h"
#include "PlayerNumbers.h"
#include "host/win32/LoopLoad.h"
#include "player/PlayerModel.h"

namespace {

using host::Value;

constexpr uint16_t kFrom = 40061, kTo = 40062;
constexpr LPARAM kTrackTime = 105;  // wParam 0: the position in ms

std::string ClassOf(uint16_t id) { return "WA_KDO_" + std::to_string(id); }

class TransferE2E : public LoadedModuleTest {
 protected:
  void SetUp() override {
    for (uint16_t id : {kFrom, kTo}) e2e::KillPlayers(ClassOf(id));
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
    for (uint16_t id : {kFrom, kTo}) {
      server.SetSetting(id, "Settings", "WinampLocation", e2e::PlayerPath());
      ASSERT_EQ(server.CreateInstance(info->ModuleID, id), KDO_S_OK);
    }
    ASSERT_TRUE(e2e::PumpUntil([&] { return Call(kFrom, "WAC_GetPlaylistLength").Int == 0 &&
                                            Call(kTo, "WAC_GetPlaylistLength").Int == 0; }, 15000));
  }
  void TearDown() override {
    LoadedModuleTest::TearDown();
    for (uint16_t id : {kFrom, kTo}) e2e::KillPlayers(ClassOf(id));
  }
  host::CallResult Call(uint16_t id, const std::string& name, std::vector<Value> params = {}) {
    return server.Call(name, id, params, {});
  }
  int32_t PositionMs(uint16_t id) {
    DWORD_PTR ms = 0;
    SendMessageTimeoutA(FindWindowA(ClassOf(id).c_str(), nullptr), playernumbers::kWmUser, 0, kTrackTime,
                        SMTO_NORMAL, 2000, &ms);
    return int32_t(ms);
  }
  std::string LastLine() {
    for (auto it = server.Debug().rbegin(); it != server.Debug().rend(); ++it)
      if (it->Message == "TRANSFER") return it->Data;
    return "";
  }
};

// Quick players with a long playlist, then a source answering in 1.9 s and a target in 0.3 s (waited
// for, never taken for hung ones): the server's thread waits for one answer at a time at most.
TEST_F(TransferE2E, BothPlayOnFromTheSamePlace) {
  const struct {
    int Entries, Position;
    DWORD SourceMs, TargetMs;
  } rows[] = {{200, 150, 0, 0}, {5, 3, 1900, 300}};
  const std::string rooms = std::to_string(kFrom) + " to " + std::to_string(kTo) + ": ";
  auto delay = [](uint16_t room, DWORD ms) {
    DWORD_PTR reply = 0;
    return SendMessageTimeoutA(FindWindowA(ClassOf(room).c_str(), nullptr), playernumbers::kWmUser, ms,
                               player::control::kReplyDelay, SMTO_NORMAL, 5000, &reply) != 0;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Entries);
    for (uint16_t room : {kFrom, kTo}) Call(room, "WAC_ClearPlaylist");
    for (int i = 1; i <= row.Entries; ++i) Call(kFrom, "WAC_AddFile", {Value::S("C:\\Music\\" + std::to_string(i) + ".mp3")});
    Call(kFrom, "WAC_SetPlaylistPosition", {Value::I(row.Position)});
    Call(kFrom, "WAC_Play");
    Call(kFrom, "WAC_SetTrackPosition", {Value::I(42)});
    Call(kTo, "WAC_AddFile", {Value::S("C:\\Kitchen\\radio.mp3")});
    Call(kTo, "WAC_Play");
    host::PumpMessages(500);
    ASSERT_TRUE(delay(kFrom, row.SourceMs) && delay(kTo, row.TargetMs));
    ASSERT_TRUE(Call(kFrom, "WAC_TransferTo", {Value::I(kTo), Value::B(true)}).Bool);
    double longest = 0;
    const DWORD began = GetTickCount();
    while (LastLine() == rooms + "started" && GetTickCount() - began < 240000)
      longest = std::max(longest, host::RunLoopTimed(250).LongestMs);
    std::cout << row.Entries << " entries, source " << row.SourceMs << " ms, target " << row.TargetMs
              << " ms: done after " << GetTickCount() - began << " ms, longest dispatch " << longest << " ms\n";
    ASSERT_EQ(LastLine(), rooms + "done");
    EXPECT_LT(longest, std::max(row.SourceMs, row.TargetMs) + 250.0) << "one answer per dispatch at most";
    ASSERT_TRUE(delay(kFrom, 0) && delay(kTo, 0));
    const int32_t from = PositionMs(kFrom), to = PositionMs(kTo);
    std::cout << "position difference at the transfer: " << to - from << " ms (source " << from << ", target " << to
              << ")\n";
    EXPECT_LE(std::abs(to - from), 500) << "within half a second";
    EXPECT_EQ(Call(kTo, "WAC_GetPlaylistLength").Int, row.Entries);
    EXPECT_EQ(Call(kTo, "WAC_GetPlaylistPosition").Int, row.Position);
    EXPECT_EQ(Call(kTo, "WAC_GetPlayState").Int, 1);
    EXPECT_EQ(Call(kFrom, "WAC_GetPlayState").Int, 1) << "both play on";
  }
}

}  // namespace
