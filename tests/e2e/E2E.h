// Helpers shared by the Windows tests: where the programs are, waiting on the
// message loop, and making sure no player outlives its test.
#pragma once

#include <windows.h>

#include <algorithm>
#include <fstream>
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

// A small file that ends in an ID3v1 tag (no comment, no genre), as ./run demo writes them.
inline void WriteId3v1File(const std::string& path, const std::string& title, const std::string& artist,
                           const std::string& album, const std::string& year) {
  std::string tail(128, '\0');
  tail.replace(0, 3, "TAG");
  tail.replace(3, std::min<std::size_t>(title.size(), 30), title, 0, 30);
  tail.replace(33, std::min<std::size_t>(artist.size(), 30), artist, 0, 30);
  tail.replace(63, std::min<std::size_t>(album.size(), 30), album, 0, 30);
  tail.replace(93, std::min<std::size_t>(year.size(), 4), year, 0, 4);
  tail[127] = char(0xFF);
  std::ofstream(path, std::ios::binary) << std::string(1000, 'U') << tail;
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
