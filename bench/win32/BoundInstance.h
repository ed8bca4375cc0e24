// An instance made from the module's code with the stand-in server's kernel,
// all eleven settings set, bound to a player.exe it started itself: shared
// by the Windows benchmarks that measure the instance's poll.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include <memory>

#include "common/MirrorProbe.h"
#include "host/KDOHost.h"
#include "instance/Device.WinampControl_Interface.h"
#include "module/Device.WinampControl.h"
#include "host/win32/ModuleLibrary.h"
#include "winamp/WinAmp.h"

namespace bench {

// Each mirrored value goes into a variable named after its settings key.
inline std::string MirrorVariable(const TKDOSettingsKey& row) { return std::string(kdo::text::View(row.Key)); }

class BoundInstance {
 public:
  BoundInstance(host::Server& server, uint16_t id) : server_(server) {
    made_ = new TKDOWinampControl(server.Kernel(), id, &WinampControlModuleInfo());  // owned by its counted reference
    instance_ = TKDORef<IKDOModule>(made_->ModuleInterface());
    TKDOWinampInstanceSettings s;
    s.WinampLocation = TKDOText(host::ProgramDirectory() + "\\player.exe");
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) {
      if (row.Type < 0) continue;
      host::Value initial;  // false, 0 or empty
      initial.Type = host::VarType(row.Type);
      server.DefineVariable(MirrorVariable(row), initial);
      s.*row.Field = TKDOText(MirrorVariable(row));
    }
    made_->Settings().TakeRecord(s);
    made_->Settings().TakeExtra(s);
    made_->QueryInterface(IID_IKDOWinampControl, control_.put());
    className_ = "WA_KDO_" + std::to_string(id);
    id_ = id;
    settings_ = s;
    for (int i = 0; i < 300 && !Bound(); ++i) host::PumpMessages(50);
    if (!Bound()) std::fprintf(stderr, "bench: player.exe did not come up\n");
  }
  ~BoundInstance() {
    mirror_.reset();
    control_.reset();
    instance_.reset();  // closes the player
    host::PumpMessages(200);
  }
  BoundInstance(const BoundInstance&) = delete;
  BoundInstance& operator=(const BoundInstance&) = delete;

  // Bound once the link answers for a player: an unbound one answers -1.
  bool Bound() const {
    int32_t length = -1;
    if (control_) control_->GetPlaylistLength(&length);
    return length >= 0;
  }
  TKDOWinampControl& Control() { return *made_; }
  // The instance's status mirror, to poll directly; made on first use, since it
  // polls on its own timer too whenever the loop runs.
  MirrorProbe& Mirror() {
    if (!mirror_) {
      mirror_ = std::make_unique<MirrorProbe>(server_.Kernel(), *instance_.get(), id_, settings_);
      for (int i = 0; i < 300 && !mirror_->Bound(); ++i) host::PumpMessages(50);
    }
    return *mirror_;
  }
  IKDOWinampControl& Interface() { return *control_.get(); }
  // The instance's player: the window of its own class.
  HWND Window() const { return FindWindowA(className_.c_str(), nullptr); }
  int Writes() const {
    int writes = 0;
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
      if (row.Type >= 0) writes += server_.VariableWrites(MirrorVariable(row));
    return writes;
  }

 private:
  host::Server& server_;
  TKDOWinampControl* made_ = nullptr;
  TKDORef<IKDOModule> instance_;
  TKDORef<IKDOWinampControl> control_;
  std::string className_;
  uint16_t id_ = 0;
  TKDOWinampInstanceSettings settings_;
  std::unique_ptr<MirrorProbe> mirror_;
};

}  // namespace bench
