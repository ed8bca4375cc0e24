// The cover under Wine, through the loaded DLL and player.exe: a folder's picture and a tag's, and
// a lookup that a "share" (a pipe that hands its bytes over only when the test says so) holds while
// the instance is destroyed and the library unloaded.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "CoverFiles.h"
#include "Covers.h"
#include "E2E.h"
#include "LoadedModule.h"
#include "SettingsKeys.h"
#include "TestFolder.h"
#include "host/win32/ModuleLibrary.h"

namespace {

namespace fs = std::filesystem;
using coverfiles::Bytes;
using host::Value;

// Each test its own instance, and so its own player: the two may run side by side.
constexpr uint16_t kId = 40091, kUnloadId = 40092;
const std::string kClass = "WA_KDO_" + std::to_string(kId), kUnloadClass = "WA_KDO_" + std::to_string(kUnloadId);

using coverfiles::Write;
using e2e::CoversFolder;

Bytes TaggedFile(const Bytes& picture) {
  return coverfiles::Join({coverfiles::Id3v2(4, {coverfiles::PictureFrame(4, 3, picture)}), coverfiles::Audio()});
}

class CoverE2E : public LoadedModuleTest {
 protected:
  void SetUp() override {
    e2e::KillPlayers(kClass);
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
  }
  void TearDown() override {
    LoadedModuleTest::TearDown();
    e2e::KillPlayers(kClass);
  }
  e2e::CoversOf covers{coverfiles::Png(7)};
};

TEST_F(CoverE2E, AFoldersPictureThenATagsThroughThePlayer) {
  const std::string album = testfolder::Own() + "cover_e2e";
  fs::create_directories(album + "\\tagged");
  Write(album + "\\Folder.jpg", coverfiles::Jpeg(7));
  Write(album + "\\01 Intro.mp3", coverfiles::Audio());
  Write(album + "\\tagged\\tagged.mp3", TaggedFile(coverfiles::Png(7)));  // no picture beside it
  server.DefineVariable("Cover", Value::S("?"));
  server.SetSetting(kId, "Settings", "WinampLocation", e2e::PlayerPath());
  server.SetSetting(kId, "Settings", testdata::kCoverKey, "Cover");
  ASSERT_EQ(server.CreateInstance(info->ModuleID, kId), KDO_S_OK);
  ASSERT_TRUE(e2e::PumpUntil([&] { return server.Call("WAC_GetPlaylistLength", kId, {}).Int == 0; }, 15000));
  server.Call("WAC_AddFile", kId, {Value::S(album + "\\01 Intro.mp3")});
  server.Call("WAC_AddFile", kId, {Value::S(album + "\\tagged\\tagged.mp3")});
  const auto cover = [&] { return server.Variable("Cover")->Str; };
  EXPECT_TRUE(e2e::PumpUntil([&] { return cover() == album + "\\Folder.jpg"; }, 5000)) << cover();
  server.Call("WAC_SetPlaylistPosition", kId, {Value::I(2)});
  EXPECT_TRUE(e2e::PumpUntil([&] { return cover().rfind(CoversFolder(), 0) == 0; }, 5000)) << cover();
  {
    std::ifstream kept(cover(), std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(kept), {}), coverfiles::Png(7));
  }
  EXPECT_EQ(cover().substr(cover().size() - 4), ".png");
  server.DestroyAllInstances();
  fs::remove_all(album);
}

// The pipe opens at once but hands nothing over until the test writes: the lookup waits inside its
// read. Meanwhile the server's thread answers; the instance is destroyed and the library freed, and
// the library stays loaded until the lookup has ended, then goes.
TEST(CoverE2EUnload, ALookupHeldByAShareOutlivesTheInstanceAndTheLibrary) {
  constexpr const char* kCopy = "WinampControl_cover.dll";  // this load is the only one
  const std::string pipeName = "\\\\.\\pipe\\wac_cover_e2e";
  const e2e::CoversOf covers(coverfiles::Jpeg(9));
  e2e::KillPlayers(kUnloadClass);
  ASSERT_TRUE(CopyFileA(WAC_DLL_NAME, kCopy, FALSE));
  // Three ends to open: the player opens the file too (for its own tags) and lets go of it at once.
  HANDLE pipes[3];
  for (HANDLE& pipe : pipes) {
    pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT,
                            PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    ConnectNamedPipe(pipe, nullptr);  // listens: a client may open it from now on
  }
  host::Server server;
  {
    host::ModuleLibrary lib(kCopy);
    // The server lets go of everything before the library goes, however the steps end.
    [&] {
      const TKDOModuleInfo* info = nullptr;
      ASSERT_EQ(server.LoadModule(lib.ModuleInfo(), &info), KDO_S_OK);
      server.DefineVariable("Cover", Value::S("?"));
      server.SetSetting(kUnloadId, "Settings", "WinampLocation", e2e::PlayerPath());
      server.SetSetting(kUnloadId, "Settings", testdata::kCoverKey, "Cover");
      ASSERT_EQ(server.CreateInstance(info->ModuleID, kUnloadId), KDO_S_OK);
      ASSERT_TRUE(e2e::PumpUntil([&] { return server.Call("WAC_GetPlaylistLength", kUnloadId, {}).Int == 0; }, 15000));
      server.Call("WAC_AddFile", kUnloadId, {Value::S(pipeName)});
      // Opened and held: the lookup waits in its read.
      const auto connected = [&] {
        return std::any_of(std::begin(pipes), std::end(pipes), [](HANDLE pipe) {
          return !ConnectNamedPipe(pipe, nullptr) && GetLastError() == ERROR_PIPE_CONNECTED;
        });
      };
      ASSERT_TRUE(e2e::PumpUntil(connected, 5000)) << "the lookup opened the share";

      // Five seconds of the share's silence: the thread goes on dispatching, each dispatch short.
      using Clock = std::chrono::steady_clock;
      const Clock::time_point start = Clock::now();
      Clock::duration longest{};
      int calls = 0;
      while (Clock::now() - start < std::chrono::seconds(5)) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
          const Clock::time_point dispatched = Clock::now();
          TranslateMessage(&msg);
          DispatchMessageA(&msg);
          longest = std::max(longest, Clock::now() - dispatched);
        }
        calls += server.Call("WAC_GetPlaylistLength", kUnloadId, {}).Int == 1;
        Sleep(10);
      }
      std::cout << "longest dispatch while the share is silent: "
                << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms\n";
      EXPECT_GT(calls, 0) << "the script's calls were answered meanwhile";
      EXPECT_EQ(server.Variable("Cover")->Str, "") << "as before the entry came: its cover is still to come";
    }();
    server.DestroyAllInstances();
    server.UnloadModules();
  }
  server.ForgetModules();
  EXPECT_NE(GetModuleHandleA(kCopy), nullptr) << "kept loaded for the lookup under way";
  const Bytes tagged = TaggedFile(coverfiles::Jpeg(9));
  int written = 0;
  for (const HANDLE pipe : pipes) {
    DWORD n = 0;
    written += WriteFile(pipe, tagged.data(), DWORD(tagged.size()), &n, nullptr) && n == tagged.size();
    FlushFileBuffers(pipe);
    CloseHandle(pipe);
  }
  EXPECT_EQ(written, 1) << "the lookup's end alone";
  EXPECT_TRUE(e2e::PumpUntil([&] { return GetModuleHandleA(kCopy) == nullptr; }, 10000)) << "and then it went";
  EXPECT_EQ(server.HeldReferences(), 0);
  e2e::KillPlayers(kUnloadClass);
  DeleteFileA(kCopy);
}

}  // namespace
