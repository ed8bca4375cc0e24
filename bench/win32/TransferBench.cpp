// A room's music handed to another room (WAC_TransferTo) under Wine, two player.exe and the DLL:
// for 10, 1,000 and 5,000 entries, the time from the call until the target plays and until the
// transfer's end, the longest
// single dispatch of the server's thread meanwhile (beside the send limit), and how far apart the
// two players are right after it, both playing on. Figures, not pass/fail.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "host/KDOHost.h"
#include "host/win32/LoopLoad.h"
#include "host/win32/ModuleLibrary.h"
#include "platform/Platform.h"

namespace {

constexpr LPARAM kTrackTime = 105;  // wParam 0: the position in ms

constexpr LPARAM kPlayState = 104;  // 1 playing

int32_t Ask(uint16_t id, LPARAM what) {
  DWORD_PTR reply = 0;
  SendMessageTimeoutA(FindWindowA(("WA_KDO_" + std::to_string(id)).c_str(), nullptr), WM_USER, 0, what, SMTO_NORMAL,
                      2000, &reply);
  return int32_t(reply);
}

std::string LastLine(const host::Server& server) {
  for (auto it = server.Debug().rbegin(); it != server.Debug().rend(); ++it)
    if (it->Message == "TRANSFER") return it->Data;
  return "";
}

}  // namespace

int main() {
  host::ModuleLibrary lib("WinampControl.dll");
  host::Server server;
  const TKDOModuleInfo* info = nullptr;
  if (server.LoadModule(lib.ModuleInfo(), &info) != KDO_S_OK) return 1;
  const uint16_t base = uint16_t(41000 + GetCurrentProcessId() % 1000 * 8);
  std::printf("a room's music handed to another room, both playing on:\n");
  uint16_t id = base;
  for (const int entries : {10, 1000, 5000}) {
    const uint16_t from = id++, to = id++;
    for (uint16_t room : {from, to}) {
      server.SetSetting(room, "Settings", "WinampLocation", host::ProgramDirectory() + "\\player.exe");
      server.CreateInstance(info->ModuleID, room);
    }
    for (int i = 0; i < 300 && server.Call("WAC_GetPlaylistLength", to, {}, {}).Int != 0; ++i) host::PumpMessages(50);
    for (int i = 0; i < entries; ++i)
      server.Call("WAC_AddFile", from, {host::Value::S("C:\\Music\\" + std::to_string(i) + ".mp3")}, {});
    server.Call("WAC_SetPlaylistPosition", from, {host::Value::I(entries / 2 + 1)}, {});
    server.Call("WAC_Play", from, {}, {});
    server.Call("WAC_SetTrackPosition", from, {host::Value::I(42)}, {});
    host::PumpMessages(500);
    const auto began = std::chrono::steady_clock::now();
    server.Call("WAC_TransferTo", from, {host::Value::I(to), host::Value::B(true)}, {});
    auto since = [&] { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count(); };
    double longest = 0, plays = -1;
    for (int i = 0; i < 1200 && LastLine(server).find("started") != std::string::npos; ++i) {
      longest = std::max(longest, host::RunLoopTimed(25).LongestMs);
      if (plays < 0 && Ask(to, kPlayState) == 1) plays = since();
    }
    const double ms = since();
    const int32_t apart = Ask(to, kTrackTime) - Ask(from, kTrackTime);
    std::printf("  %5d entries: the target plays after %5.0f ms, %s after %6.0f ms; longest dispatch %3.0f ms "
                "(send limit %u ms); target %+d ms from the source\n",
                entries, plays, LastLine(server).substr(LastLine(server).rfind(' ') + 1).c_str(), ms, longest,
                unsigned(platform::kSendTimeoutMs), int(apart));
    server.DestroyInstance(from);
    server.DestroyInstance(to);
    host::PumpMessages(300);
  }
  server.UnloadModules();
  return 0;
}
