// Helpers shared by the Windows tests: where the programs are, waiting on the
// message loop, and making sure no player outlives its test.
#pragma once

#include <windows.h>

#include <string>

#include "host/win32/ModuleLibrary.h"

namespace e2e {

// player.exe lies beside the test program.
inline std::string HostDirectory() { return host::ProgramDirectory(); }

inline std::string PlayerPath() { return HostDirectory() + "\\player.exe"; }

// Runs the message loop until `done` holds or `ms` have passed; whether it holds.
template <class F>
bool PumpUntil(F done, unsigned ms) {
  for (unsigned waited = 0; waited < ms; waited += 50) {
    if (done()) return true;
    host::PumpMessages(50);
  }
  return done();
}

// Ends every process whose main window has this class.
inline void KillPlayers(const std::string& className) {
  while (HWND w = FindWindowA(className.c_str(), nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!p) return;
    TerminateProcess(p, 9);
    WaitForSingleObject(p, 5000);
    CloseHandle(p);
  }
}

}  // namespace e2e
