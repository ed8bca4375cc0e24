// One announcement in several rooms at once (WAC_AnnounceWith): every room
// plays it by its own announcer's rules, each putting its own music back when
// it ends there, and the rooms start together (TKDOStartTogether).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace kdo::together {

// The rooms a text names: identifiers (0 to 65535) separated by commas, blanks or both, each once, in
// order. Nothing for a text that is not such a list: empty, an empty place between commas, anything else.
std::optional<std::vector<uint16_t>> RoomsOf(std::string_view text);

// Room `caller` and the rooms `rooms` names announce `file` at `volume`. False, and nothing changes
// anywhere, for a bad file name, a text that is not a list, or a name that is not another room; false
// too when no room took it. A room whose player does not answer or does not take it is left out,
// `leftOut` saying which and why.
bool Announce(uint16_t caller, std::string_view rooms, std::string_view file, int32_t volume,
              const std::function<void(std::string_view)>& leftOut);

}  // namespace kdo::together
