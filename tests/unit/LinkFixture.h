// A simulated desktop for link tests, with scripted player windows whose
// replies a test chooses message by message.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PlayerNumbers.h"
#include "SentMessages.h"
#include "sim/SimWorld.h"
#include "winamp/WinAmp.h"

namespace linktest {

namespace pn = playernumbers;

// A window that answers with `reply` and, when told, closes on the close command.
class ScriptedWindow : public sim::WindowProc {
 public:
  ScriptedWindow(sim::World& world, const std::string& className, bool closesOnCommand = true)
      : world_(world), closes_(closesOnCommand) {
    pid = world.CreateProcess();
    handle = world.CreateWindow(className, pid, this);
  }
  int32_t OnMessage(uint32_t message, uint32_t wParam, uintptr_t lParam) override {
    if (message == pn::kWmCommand && wParam == pn::cmd::kClose && closes_) {
      world_.DestroyWindow(handle);
      world_.EndProcess(pid);
      return 0;
    }
    return reply ? reply(message, wParam, lParam) : 0;
  }
  void Vanish() { world_.EndProcess(pid); }

  std::function<int32_t(uint32_t, uint32_t, uintptr_t)> reply;
  uint32_t pid = 0;
  sim::WindowHandle handle = 0;

 private:
  sim::World& world_;
  bool closes_;
};

class LinkTest : public ::testing::Test {
 protected:
  static constexpr const char* kExe = "C:\\Program Files\\Winamp\\winamp.exe";

  ScriptedWindow& StartWindow(const std::string& className, bool closesOnCommand = true) {
    windows.push_back(std::make_unique<ScriptedWindow>(world, className, closesOnCommand));
    return *windows.back();
  }
  // The window the link holds, seen from outside: the one its next send goes to
  // (0 when it sends nothing: unbound, or holding a player that does not answer).
  sim::WindowHandle HeldWindow(TWinAmpControl& link) {
    const std::size_t before = world.Sent().size();
    link.SendPlayerMessage(pn::kWmUser, 0, pn::user::kVersion);  // the version query, harmless to any player
    return world.Sent().size() > before ? world.Sent()[before].Window : 0;
  }
  // The running timers' intervals: a lone link's check timer, as the desktop sees it.
  using Intervals = std::vector<uint32_t>;
  Intervals CheckTimers() const { return world.TimerIntervals(); }
  // Messages sent so far that were the close command.
  int CloseCommands() const {
    int n = 0;
    for (const auto& m : world.Sent()) n += m.Message == pn::kWmCommand && m.WParam == pn::cmd::kClose;
    return n;
  }

  sim::World world;
  std::vector<std::unique_ptr<ScriptedWindow>> windows;
};

}  // namespace linktest
