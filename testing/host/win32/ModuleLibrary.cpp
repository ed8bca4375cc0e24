#include "host/win32/ModuleLibrary.h"

#include <windows.h>

namespace host {

ModuleLibrary::ModuleLibrary(const std::string& path) {
  handle_ = LoadLibraryA(path.c_str());
  if (handle_) proc_ = reinterpret_cast<TKDOModuleInfoProc>(Export("KDOModuleInfo"));
}

ModuleLibrary::~ModuleLibrary() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* ModuleLibrary::Export(const char* name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void PumpMessages(unsigned ms) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path, n);
  return p.substr(0, p.find_last_of("\\/"));
}

}  // namespace host
