// The player stand-in in the simulated world: a process with its own address
// space, a main window of a class name, a playlist window of its own class, and
// the portable player model behind them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimWorld.h"

namespace player {
class PlayerModel;
}

namespace sim {

class SimPlayer {
 public:
  // Starts a player process; with showWindow false it never creates its main window.
  SimPlayer(World& world, const std::string& className, bool showWindow = true);
  // Ends the process if it still runs.
  ~SimPlayer();
  SimPlayer(const SimPlayer&) = delete;
  SimPlayer& operator=(const SimPlayer&) = delete;

  WindowHandle Window() const;  // 0 when it has none
  WindowHandle PlaylistWindow() const;  // 0 when it has none
  uint32_t Pid() const;
  const std::string& ClassName() const;
  bool Running() const;  // its process is alive and its window exists (if it shows one)
  player::PlayerModel& Model();
  // Brings the model to the world's time, as a message to the player would:
  // for a test that reads or changes it directly, as the user would in the player.
  void CatchUp();

  // ---- faults
  // Both windows share one thread: these hold the playlist window's answers too.
  // A hang comes before its thread takes a message (a send given up meanwhile is never handled);
  // slowness is inside its procedure (a send given up meanwhile still takes effect, when the
  // procedure ends).
  void Hang(bool hung);             // stops answering (each send gives up after the send limit)
  void HangFor(int64_t ms);         // stops answering for that long
  void SetReplyDelay(uint32_t ms);  // every answer takes this long
  // The time its procedure takes for a message to either window (empty: the reply delay).
  void SetHandlingTime(World::HandlingTime time);
  void Die();                       // the process ends without closing its window cleanly
  void ReplyGarbageAddresses(bool on);  // 211/212 answer addresses that are not mapped
  void RefuseFiles(bool on);            // a file to add is answered, but not added (a full or locked playlist)
  void DieAtTagQuery();                 // answers the next 290 (1), then the process ends
  void NamePlaylistWindow(bool on);     // off: 260 answers 0, as a player without a playlist window
  // Places the title of playlist entry `index` so that its terminating zero is
  // the last readable byte of its memory (the next page is unmapped).
  void PlaceTitleAtEndOfMemory(int32_t index, const std::string& title);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Starts players when the shell opens a registered executable: parses the
// /CLASS= switch (with or without double quotes; default "Winamp v1.x") and
// owns every player it started.
class PlayerFarm {
 public:
  explicit PlayerFarm(World& world);
  ~PlayerFarm();
  PlayerFarm(const PlayerFarm&) = delete;
  PlayerFarm& operator=(const PlayerFarm&) = delete;

  // Adds an executable at `path` to the world; showWindow false makes players that never show a window.
  void InstallExecutable(const std::string& path, bool showWindow = true);
  int Launches() const;
  // Every player started so far, oldest first (ended ones included).
  const std::vector<std::unique_ptr<SimPlayer>>& Players() const;
  // The newest running player with that class name, or null.
  SimPlayer* Find(const std::string& className) const;

 private:
  World& world_;
  std::vector<std::unique_ptr<SimPlayer>> players_;
};

}  // namespace sim
