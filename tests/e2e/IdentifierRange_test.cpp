// Instances 0 and 65535 on the real target: the player each starts carries
// the class of its whole identifier, the instance binds to it, and the log
// sender ends in the identifier.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "E2E.h"
#include "host/KDOHost.h"
#include "ModuleUnderTest.h"

namespace {

TEST(IdentifierRange, BothEndsStartAndBindThePlayerOfTheirClass) {
  host::Server server;
  const TKDOModuleInfo* info = nullptr;
  ASSERT_EQ(server.LoadModule(ModuleInfoProc(), &info), KDO_S_OK);
  for (uint16_t id : {uint16_t(0), uint16_t(65535)}) {
    const std::string n = std::to_string(id), cls = "WA_KDO_" + n;
    e2e::KillPlayers(cls);
    server.DefineVariable("Vol" + n, host::Value::I(0));
    server.SetSetting(id, "Settings", "WinampLocation", e2e::PlayerPath());
    server.SetSetting(id, "Settings", "VolumeVar", "Vol" + n);
    ASSERT_EQ(server.CreateInstance(info->ModuleID, id), KDO_S_OK);
    EXPECT_EQ(server.Log().back(), (host::LogLine{10021, "Winamp Control #" + n, "Interface Create"}));
    EXPECT_TRUE(e2e::PumpUntil([&] { return FindWindowA(cls.c_str(), nullptr) != nullptr; }, 15000)) << cls;
    // Mirrored from the player of that class: bound.
    EXPECT_TRUE(e2e::PumpUntil([&] { return server.Variable("Vol" + n)->Int == 255; }, 5000)) << cls;
    server.DestroyInstance(id);
    EXPECT_TRUE(e2e::PumpUntil([&] { return FindWindowA(cls.c_str(), nullptr) == nullptr; }, 5000))
        << "closed with its instance: " << cls;
    e2e::KillPlayers(cls);
  }
  server.UnloadModules();
  EXPECT_EQ(server.HeldReferences(), 0);
}

}  // namespace
