// Expected message sequences as tables: one {message, wParam, lParam} row per message the
// player is sent, written as the player's documented numbers.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "sim/SimWorld.h"

namespace sent {

struct Msg {
  uint32_t Message;
  uint32_t WParam;
  uintptr_t LParam;
  bool operator==(const Msg&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Msg& m) {
  return os << "{0x" << std::hex << m.Message << ", " << std::dec << m.WParam << ", " << m.LParam << "}";
}

using Sequence = std::vector<Msg>;

// What the world's windows were sent since it was last cleared, whichever window took it.
inline Sequence Of(const sim::World& world) {
  Sequence s;
  for (const sim::SentMessage& m : world.Sent()) s.push_back({m.Message, m.WParam, m.LParam});
  return s;
}

}  // namespace sent
