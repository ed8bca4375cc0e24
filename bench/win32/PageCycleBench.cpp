// Showing and hiding the configuration page many times, as a user opening and
// closing it over days would: the committed memory of the process before and
// after (walked with VirtualQuery), and the time one cycle takes. The module
// is the real WinampControl.dll, loaded as the server loads it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "host/KDOHost.h"
#include "host/win32/CommittedMemory.h"
#include "host/win32/ModuleLibrary.h"

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
  host::ModuleLibrary library(host::ProgramDirectory() + "\\WinampControl.dll");
  if (!library.ModuleInfo()) {
    std::fprintf(stderr, "WinampControl.dll not loaded\n");
    return 1;
  }
  host::Server server;
  const TKDOModuleInfo* info = nullptr;
  if (server.LoadModule(library.ModuleInfo(), &info) != KDO_S_OK ||
      server.CreateInstance(info->ModuleID, 1) != KDO_S_OK) {
    std::fprintf(stderr, "no instance\n");
    return 1;
  }
  IKDOModule* page = server.Instance(1);
  auto cycle = [&] {
    page->ShowConfigurationPage();
    host::PumpMessages(10);
    page->HideConfigurationPage();
  };
  for (int i = 0; i < 3; ++i) cycle();  // what the process loads once
  const std::size_t before = host::CommittedBytes();
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  for (int i = 0; i < cycles; ++i) cycle();
  QueryPerformanceCounter(&t1);
  const long long grown = (long long)host::CommittedBytes() - (long long)before;
  const double ms = double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(f.QuadPart) / cycles;
  std::printf("page show/hide: %d cycles, committed memory %+lld bytes (%+.1f bytes per cycle), %.1f ms per cycle "
              "(10 ms of it pumping messages)\n",
              cycles, grown, double(grown) / cycles, ms);
  server.DestroyAllInstances();
  server.UnloadModules();
  return 0;
}
