// The server's whole round on the real target: load the DLL by name, register,
// two instances, destroy them, unregister, with every reference balanced.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host/KDOHost.h"
#include "ModuleUnderTest.h"
#include "host/win32/ModuleLibrary.h"
#include "E2E.h"
#include "PlayerNumbers.h"
#include "player/PlayerModel.h"

namespace {

TEST(HostLifecycle, TwoInstancesFromTheLoadedLibrary) {
  host::ModuleLibrary lib(WAC_DLL_NAME);
  ASSERT_TRUE(lib.Loaded());
  ASSERT_NE(lib.ModuleInfo(), nullptr);
  EXPECT_EQ(lib.Export("_KDOModuleInfo@4"), nullptr) << "exported undecorated only";
  {
    host::Server server;
    const TKDOModuleInfo* info = nullptr;
    ASSERT_EQ(server.LoadModule(lib.ModuleInfo(), &info), KDO_S_OK);
    ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
    ASSERT_EQ(server.CreateInstance(info->ModuleID, 2), KDO_S_OK);
    EXPECT_EQ(server.Instance(1)->GetReferenceCount(), 1);
    EXPECT_NE(server.Instance(1), server.Instance(2));
    EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 3);
    server.DestroyAllInstances();
    server.UnloadModules();
    std::vector<host::LogLine> expected = {
        {10021, "Winamp Control", "Register"},
        {10021, "Winamp Control", "Creating new Instance..."},
        {10021, "Winamp Control #1", "Interface Create"},
        {10021, "Winamp Control", "Creating new Instance..."},
        {10021, "Winamp Control #2", "Interface Create"},
        {10021, "Winamp Control #1", "Interface Destroy"},
        {10021, "Winamp Control #2", "Interface Destroy"},
        {10021, "Winamp Control", "Unregister"},
    };
    EXPECT_EQ(server.Log(), expected);
    EXPECT_EQ(server.HeldReferences(), 0);
  }
}

// The library releases a kernel that is still registered when it is unloaded.
TEST(HostLifecycle, UnloadReleasesTheModuleKernel) {
  host::Server server;
  {
    // Copy the DLL so that this load is the only one and FreeLibrary really unloads it.
    ASSERT_TRUE(CopyFileA(WAC_DLL_NAME, "WinampControl_unload.dll", FALSE));
    host::ModuleLibrary lib("WinampControl_unload.dll");
    ASSERT_NE(lib.ModuleInfo(), nullptr);
    ASSERT_EQ(server.LoadModule(lib.ModuleInfo()), KDO_S_OK);
    EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 1);
  }
  EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 0);
  server.ForgetModules();
  DeleteFileA("WinampControl_unload.dll");
}

// A server that unloads the module and goes on running. With nothing
// outstanding the module is unmapped by its FreeLibrary; while a question to a
// hung player is outstanding, the module stays loaded until the answer has come
// and then goes, and the server's message loop never calls into unmapped code.
TEST(HostLifecycle, FreeLibraryUnmapsTheModuleOnceNoAnswerIsOutstanding) {
  constexpr const char* kCopy = "WinampControl_free.dll";  // this load is the only one
  constexpr uint16_t kId = 40077;
  const std::string className = "WA_KDO_" + std::to_string(kId);
  ASSERT_TRUE(CopyFileA(WAC_DLL_NAME, kCopy, FALSE));
  for (const bool playerHangs : {false, true}) {
    SCOPED_TRACE(playerHangs ? "a question outstanding" : "nothing outstanding");
    e2e::KillPlayers(className);
    host::Server server;
    {
      host::ModuleLibrary lib(kCopy);
      const TKDOModuleInfo* info = nullptr;
      ASSERT_EQ(server.LoadModule(lib.ModuleInfo(), &info), KDO_S_OK);
      server.SetSetting(kId, "Settings", "WinampLocation", e2e::PlayerPath());
      ASSERT_EQ(server.CreateInstance(info->ModuleID, kId), KDO_S_OK);
      ASSERT_TRUE(e2e::PumpUntil([&] { return server.Call("WAC_GetPlaylistLength", kId, {}).Int == 0; }, 15000));
      if (playerHangs) {
        // hangs for 4 s
        PostMessageA(FindWindowA(className.c_str(), nullptr), playernumbers::kWmUser, 4000, player::control::kHang);
        Sleep(200);
        server.Call("WAC_Play", kId, {});  // given up: the module asks, without waiting, for the answer
      }
      server.DestroyAllInstances();
      server.UnloadModules();
    }
    server.ForgetModules();
    EXPECT_EQ(GetModuleHandleA(kCopy) != nullptr, playerHangs) << "kept loaded only for the answer to come";
    host::PumpMessages(6000);  // the player answers meanwhile, and closes
    EXPECT_EQ(GetModuleHandleA(kCopy), nullptr);
    EXPECT_EQ(FindWindowA(className.c_str(), nullptr), nullptr);
    EXPECT_EQ(server.HeldReferences(), 0);
  }
  DeleteFileA(kCopy);
}

// The host program: loads, creates two instances, pumps messages, tears down, exits 0.
TEST(HostLifecycle, HostProgramRunsARound) {
  std::string cmd = std::string("kdohost.exe ") + WAC_DLL_NAME + " 1 2";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
}

}  // namespace
