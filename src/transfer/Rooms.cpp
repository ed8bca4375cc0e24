#include "transfer/Rooms.h"

#include <map>
#include <string>

namespace kdo::rooms {

namespace {
// Not thread_local: the module runs on the server's thread alone.
std::map<uint16_t, TKDOWinampRoom*> gRooms;

// From a copy: what the room is told may end the room, and its handler with it.
void Tell(const TKDOWinampRoom& room, uint16_t id, std::string_view why) {
  if (const auto told = room.TakenBack) told(id, why);
}
}  // namespace

TKDOWinampRoom* Find(uint16_t id) {
  const auto it = gRooms.find(id);
  return it == gRooms.end() ? nullptr : it->second;
}

// What a room is told may run server code, which may end rooms: the next is looked up afresh each time.
void TakeBack(uint16_t id, std::string_view why) {
  for (uint32_t from = 0; from <= 0xFFFF;) {
    const auto it = gRooms.lower_bound(uint16_t(from));
    if (it == gRooms.end()) return;
    from = uint32_t(it->first) + 1;
    Tell(*it->second, id, why);
  }
}

Entry::Entry(uint16_t id, TKDOWinampRoom room) : FId(id), FRoom(std::move(room)) { gRooms[FId] = &FRoom; }

Entry::~Entry() {
  gRooms.erase(FId);
  const std::string why = "room " + std::to_string(FId) + " goes";
  Tell(FRoom, FId, why);
  TakeBack(FId, why);
}

}  // namespace kdo::rooms
