// TWinAmpProcess: finding the player, known only by the class name of its main
// window, starting it when the window is missing and the executable exists,
// watching it with the check timer, and closing it. The window it finds is held
// by the channel, through which the close command goes too.
//
// A window told to close is passed over by every lookup until it has gone, so
// that a hung player keeps no hold on the link after its location changed. The
// process started last is watched: while that copy runs without showing its
// window, no other copy is started.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "winamp/WinAmpChannel.h"

class TWinAmpProcess {
 public:
  static constexpr uint32_t kWatchInterval = 30000;
  static constexpr uint32_t kStartInterval = 1000;
  static constexpr int64_t kRestartAfterSeconds = 60;

  explicit TWinAmpProcess(TWinAmpChannel& channel);
  // Closes the player: the one held, or one started (at most 60 whole seconds
  // ago, or still running) whose window has appeared since the last lookup.
  ~TWinAmpProcess();
  TWinAmpProcess(const TWinAmpProcess&) = delete;
  TWinAmpProcess& operator=(const TWinAmpProcess&) = delete;

  // Takes effect at the next lookup; a held window stays until then.
  const std::string& ClassName() const { return FClassName; }
  void SetClassName(std::string_view className) { FClassName = className; }
  // Writing a path that differs (letters A to Z compared without case) lets go
  // of the player, closing a held one, then looks for or starts the new one.
  const std::string& Path() const { return FPath; }
  void SetPath(std::string_view path);

 private:
  void Bind();
  platform::WindowHandle LookUp();
  void Unbind();
  void CheckPlayer();
  // The last start lies at most 60 whole seconds back: its player may still be coming up.
  bool StartedLately() const;
  // The close command: sent and waited for, or only posted to a player that does not answer.
  void ClosePlayer();

  TWinAmpChannel& FChannel;
  std::string FPath;
  std::string FClassName = "Winamp v1.x";
  double FLaunchTime = 0;
  std::unique_ptr<platform::Timer> FCheckTimer;
  std::vector<platform::WindowHandle> FClosing;  // told to close, not yet gone
  platform::StartedProcess FStarted;              // the copy last started, watched
};
