// The frame of most tests: the server stand-in with the module loaded. What a test creates the
// teardown destroys, and by then the module has given back every reference it took.
#pragma once

#include <gtest/gtest.h>

#include "host/KDOHost.h"
#include "ModuleUnderTest.h"

class LoadedModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(server.LoadModule(ModuleInfoProc(), &info), KDO_S_OK); }
  void TearDown() override {
    server.DestroyAllInstances();
    server.UnloadModules();
    EXPECT_EQ(server.HeldReferences(), 0);
  }

  host::Server server;
  const TKDOModuleInfo* info = nullptr;
};
