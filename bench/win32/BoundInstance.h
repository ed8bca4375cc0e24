// An instance made from the module's code with the stand-in server's kernel,
// all seven identifiers set, bound to a player.exe it started itself: shared
// by the Windows benchmarks that measure the instance's poll.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "host/KDOHost.h"
#include "instance/Device.WinampControl_Interface.h"
#include "module/Device.WinampControl.h"
#include "host/win32/ModuleLibrary.h"
#include "winamp/WinAmp.h"

namespace bench {

inline constexpr const char* kMirrorKeys[] = {"TrackPosVar", "TrackLenVar", "TrackFileVar", "TrackTitleVar",
                                              "VolumeVar",   "ShuffleVar",  "RepeatVar"};

class BoundInstance {
 public:
  BoundInstance(host::Server& server, uint16_t id) : server_(server) {
    const host::Value initial[] = {host::Value::S(""), host::Value::S(""), host::Value::S(""), host::Value::S(""),
                                   host::Value::I(0),  host::Value::B(false), host::Value::B(false)};
    made_ = new TKDOWinampControl(server.Kernel(), id, &WinampControlModuleInfo());  // owned by its counted reference
    instance_ = TKDORef<IKDOModule>(made_->ModuleInterface());
    TKDOWinampControlSettings s;
    s.WinampLocation = TKDOText(host::ProgramDirectory() + "\\player.exe");
    for (int i = 0; i < 7; ++i) {
      server.DefineVariable(kMirrorKeys[i], initial[i]);
      s.*KDOWinampControlSettingsKeys[std::size_t(i + 1)].Field = TKDOText(kMirrorKeys[i]);
    }
    made_->SetSettings(s);
    for (int i = 0; i < 300 && !made_->PlayerLink().IsBound(); ++i) host::PumpMessages(50);
    if (!made_->PlayerLink().IsBound()) std::fprintf(stderr, "bench: player.exe did not come up\n");
  }
  ~BoundInstance() {
    instance_.reset();  // closes the player
    host::PumpMessages(200);
  }
  BoundInstance(const BoundInstance&) = delete;
  BoundInstance& operator=(const BoundInstance&) = delete;

  bool Bound() const { return made_->PlayerLink().IsBound(); }
  TKDOWinampControl& Control() { return *made_; }
  HWND Window() const { return HWND(uintptr_t(made_->PlayerLink().PlayerWindow())); }
  int Writes() const {
    int writes = 0;
    for (const char* k : kMirrorKeys) writes += server_.VariableWrites(k);
    return writes;
  }

 private:
  host::Server& server_;
  TKDOWinampControl* made_ = nullptr;
  TKDORef<IKDOModule> instance_;
};

}  // namespace bench
