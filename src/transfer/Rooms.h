// The rooms: every control instance of the module, by the identifier the
// server gave it, with what another room's work may use of it (its player
// link, its announcer, its transfer and its night). A room is taken back from what it takes part in by
// a command to it, or by its end; each room is told, and whatever it runs
// decides for itself whether that concerns it. All on the server's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

class TWinAmpControl;
class TKDOWinampAnnouncer;
class TKDOWinampTransfer;
class TKDOWinampNight;

struct TKDOWinampRoom {
  TWinAmpControl& Link;
  TKDOWinampAnnouncer& Announcer;
  TKDOWinampTransfer& Transfer;  // the room's own, from it
  TKDOWinampNight& Night;
  // Room `id` is taken back, `why` saying by what. It may run server code, which may end rooms.
  std::function<void(uint16_t id, std::string_view why)> TakenBack;
};

namespace kdo::rooms {

// The room of that identifier, or null.
TKDOWinampRoom* Find(uint16_t id);
// Tells every room that room `id` is taken back, `why` saying by what.
void TakeBack(uint16_t id, std::string_view why);

// An instance's place among the rooms while it lives; gone, it is taken back:
// its own room is told first, then the others.
class Entry {
 public:
  Entry(uint16_t id, TKDOWinampRoom room);
  ~Entry();
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

 private:
  uint16_t FId;
  TKDOWinampRoom FRoom;
};

}  // namespace kdo::rooms
