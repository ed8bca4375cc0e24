// The server's services that a control instance uses, obtained from the
// kernel when the instance is made and released when it goes. The instance
// owns them; its parts borrow them for the instance's life.
#pragma once

#include "sdk/KDOObjects.h"

struct TKDOWinampServices {
  TKDORef<IKDOKernel> Kernel;
  // Each is null when the kernel refused it; the instance goes on without it.
  TKDORef<IKDOSettings> SettingsStore;
  TKDORef<IKDOInstanceControl> InstanceControl;
  TKDORef<IKDOVariableManager> VariableManager;
  TKDORef<IKDOEventScripter> EventScripter;
  TKDORef<IKDODebugServer> DebugServer;
};
