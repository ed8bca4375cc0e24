// The rooms: every control instance of the module, by the identifier the
// server gave it, with what another instance's handover may use of it (its
// player link, its announcer, its own handover). All on the server's thread.
#pragma once

#include <cstdint>
#include <string_view>

class TWinAmpControl;
class TKDOWinampAnnouncer;
class TKDOWinampHandover;

struct TKDOWinampRoom {
  TWinAmpControl& Link;
  TKDOWinampAnnouncer& Announcer;
  TKDOWinampHandover& Handover;
};

namespace kdo::rooms {

// The room of that identifier, or null.
TKDOWinampRoom* Find(uint16_t id);
// Every handover from or to room `id` ends, its line saying `why`.
void EndHandovers(uint16_t id, std::string_view why);

// An instance's place among the rooms while it lives; gone, it ends the handovers it took part in.
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
