#include "ModuleUnderTest.h"

#include "host/win32/ModuleLibrary.h"

// Loaded once by name, the way the server loads it, and kept for the whole run.
TKDOModuleInfoProc ModuleInfoProc() {
  static host::ModuleLibrary lib(WAC_DLL_NAME);
  return lib.ModuleInfo();
}
