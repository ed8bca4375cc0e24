// Expected message traffic as named tables: one row per message the player's windows were sent or
// posted, in order, saying how it went and to which window, written as the player's documented
// numbers.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "PlayerNumbers.h"
#include "sim/SimWorld.h"

namespace sent {

enum Way : uint8_t { kSent, kPosted };
// The player's windows by role: the main window the link holds, the playlist window it names.
enum Target : uint8_t { kMain, kPlaylist, kElsewhere };

struct Msg {
  Way How;
  Target To;
  uint32_t Message;
  uint32_t WParam;
  uintptr_t LParam;
  bool operator==(const Msg&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Msg& m) {
  static const char* const kTargets[] = {"main", "playlist", "elsewhere"};
  return os << "{" << (m.How == kPosted ? "posted" : "sent") << ", " << kTargets[m.To] << ", 0x" << std::hex
            << m.Message << ", " << std::dec << m.WParam << ", " << m.LParam << "}";
}

using Sequence = std::vector<Msg>;

// The questions the link asks the main window, one row each, for tables to name rather than spell.
namespace ask {
namespace pn = playernumbers;
constexpr Msg kPosition = {kSent, kMain, pn::kWmUser, pn::user::kPositionMs, pn::user::kTime};
constexpr Msg kLength = {kSent, kMain, pn::kWmUser, pn::user::kLengthSeconds, pn::user::kTime};
constexpr Msg kCurrent = {kSent, kMain, pn::kWmUser, 0, pn::user::kCurrent};
constexpr Msg kCount = {kSent, kMain, pn::kWmUser, 0, pn::user::kCount};
constexpr Msg kPlayState = {kSent, kMain, pn::kWmUser, 0, pn::user::kPlayState};
constexpr Msg kVolume = {kSent, kMain, pn::kWmUser, pn::user::kAskVolume, pn::user::kVolume};
constexpr Msg kShuffle = {kSent, kMain, pn::kWmUser, 0, pn::user::kGetShuffle};
constexpr Msg kRepeat = {kSent, kMain, pn::kWmUser, 0, pn::user::kGetRepeat};
constexpr Msg kManualAdvance = {kSent, kMain, pn::kWmUser, 0, pn::user::kGetManualAdvance};
constexpr Msg File(uint32_t index) { return {kSent, kMain, pn::kWmUser, index, pn::user::kFileAddress}; }
constexpr Msg Title(uint32_t index) { return {kSent, kMain, pn::kWmUser, index, pn::user::kTitleAddress}; }
}  // namespace ask

// The close command, waited for, or queued for a player that hangs.
constexpr Msg kCloseSent = {kSent, kMain, playernumbers::kWmCommand, playernumbers::cmd::kClose, 0};
constexpr Msg kClosePosted = {kPosted, kMain, playernumbers::kWmCommand, playernumbers::cmd::kClose, 0};

// What the world's windows were sent and posted since its sends were last cleared, each window
// named by its role (a playlist handle of 0 names none).
inline Sequence Of(const sim::World& world, sim::WindowHandle main, sim::WindowHandle playlist = 0) {
  Sequence s;
  for (const sim::Delivery& d : world.Traffic()) {
    const sim::SentMessage& m = d.Message;
    const Target to = m.Window == main ? kMain : playlist != 0 && m.Window == playlist ? kPlaylist : kElsewhere;
    s.push_back({d.Posted ? kPosted : kSent, to, m.Message, m.WParam, m.LParam});
  }
  return s;
}

}  // namespace sent
