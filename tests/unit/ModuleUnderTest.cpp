#include "ModuleUnderTest.h"

#include "module/Device.WinampControl.h"

TKDOModuleInfoProc ModuleInfoProc() { return &KDOModuleInfo; }
