#include "together/Group.h"

#include <algorithm>
#include <memory>
#include <string>

#include "announce/Announcer.h"
#include "transfer/Rooms.h"
#include "winamp/WinAmp.h"

namespace kdo::together {

std::optional<std::vector<uint16_t>> RoomsOf(std::string_view text) {
  std::vector<uint16_t> rooms;
  bool comma = true;  // a comma before the first name, or since the last: a name must come
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c == ' ' || c == '\t') {
      ++at;
    } else if (c == ',') {
      if (comma) return std::nullopt;
      comma = true, ++at;
    } else if (c >= '0' && c <= '9') {
      uint32_t id = 0;
      for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        if ((id = id * 10 + uint32_t(text[at] - '0')) > 0xFFFF) return std::nullopt;
      if (std::find(rooms.begin(), rooms.end(), uint16_t(id)) == rooms.end()) rooms.push_back(uint16_t(id));
      comma = false;
    } else {
      return std::nullopt;
    }
  }
  if (rooms.empty() || comma) return std::nullopt;
  return rooms;
}

bool Announce(uint16_t caller, std::string_view rooms, std::string_view file, int32_t volume,
              const std::function<void(std::string_view)>& leftOut) {
  std::optional<std::vector<uint16_t>> ids = RoomsOf(rooms);
  if (!TWinAmpControl::IsFileName(file) || !ids) return false;
  for (const uint16_t id : *ids)
    if (id == caller || !kdo::rooms::Find(id)) return false;
  ids->insert(ids->begin(), caller);
  // An announcement takes each room back from a transfer, as a command to it does.
  for (const uint16_t id : *ids) kdo::rooms::TakeBack(id, "a command to room " + std::to_string(id));
  // Rooms known to be slow last; their announcers do not keep the others waiting (their last answer was slow).
  std::stable_partition(ids->begin(), ids->end(), [](uint16_t id) {
    const TKDOWinampRoom* room = kdo::rooms::Find(id);
    return room && !room->Link.IsSlow();
  });
  const auto together = std::make_shared<TKDOStartTogether>([ids = *ids] {
    for (const uint16_t id : ids)
      if (TKDOWinampRoom* room = kdo::rooms::Find(id)) room->Announcer.Go();
  });
  bool taken = false;
  for (const uint16_t id : *ids) {
    TKDOWinampRoom* room = kdo::rooms::Find(id);  // a room told of a transfer's end may have gone
    const char* why = !room ? "it has gone"
                      : !room->Link.IsBound() || room->Link.IsHung() ? "its player does not answer"
                      : !room->Announcer.Announce(file, volume, together,
                                                  TKDOSendBudget::Of(kdo::pace::kTickBudgetMs))
                          ? "its player did not take it"
                          : nullptr;
    if (why) leftOut("room " + std::to_string(id) + " left out: " + why);
    taken |= !why;
  }
  // All came as far as their start within the call: they start now, one after the other at once.
  together->Seal();
  return taken;
}

}  // namespace kdo::together
