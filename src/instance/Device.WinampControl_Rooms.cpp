#include "instance/Device.WinampControl_Rooms.h"

#include <map>
#include <string>

#include "instance/Device.WinampControl_Handover.h"

namespace kdo::rooms {

namespace {
// Not thread_local: the module runs on the server's thread alone.
std::map<uint16_t, TKDOWinampRoom*> gRooms;
}  // namespace

TKDOWinampRoom* Find(uint16_t id) {
  const auto it = gRooms.find(id);
  return it == gRooms.end() ? nullptr : it->second;
}

// A handover's line may run server code, which may end rooms: the rooms are looked up afresh each time.
void EndHandovers(uint16_t id, std::string_view why) {
  for (uint16_t from = 0;;) {
    auto it = gRooms.lower_bound(from);
    while (it != gRooms.end() && !it->second->Handover.Involves(id)) ++it;
    if (it == gRooms.end()) return;
    from = uint16_t(it->first + 1);
    it->second->Handover.GiveUp(why);
    if (from == 0) return;  // past the last identifier
  }
}

Entry::Entry(uint16_t id, TKDOWinampRoom room) : FId(id), FRoom(room) { gRooms[FId] = &FRoom; }

Entry::~Entry() {
  gRooms.erase(FId);
  FRoom.Handover.GiveUp("room " + std::to_string(FId) + " goes", false);
  EndHandovers(FId, "room " + std::to_string(FId) + " goes");
}

}  // namespace kdo::rooms
