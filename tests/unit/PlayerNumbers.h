// The player's documented message numbers, written out here so that the player stand-in is checked
// against them rather than against its own constants.
#pragma once

#include <cstdint>

namespace playernumbers {

constexpr uint32_t WM_COMMAND = 0x0111, WM_COPYDATA = 0x004A, WM_USER = 0x0400;

// WM_COMMAND identifiers.
namespace cmd {
constexpr uint32_t kClose = 40001, kPrevious = 40044, kPlay = 40045, kPause = 40046, kStop = 40047, kNext = 40048;
}  // namespace cmd

// WM_USER requests, by lParam.
namespace user {
constexpr uint32_t kClearPlaylist = 101, kPlayState = 104, kTime = 105, kJump = 106;
constexpr uint32_t kSetCurrent = 121, kVolume = 122, kCount = 124, kCurrent = 125;
constexpr uint32_t kFileAddress = 211, kTitleAddress = 212;
constexpr uint32_t kGetShuffle = 250, kGetRepeat = 251, kSetShuffle = 252, kSetRepeat = 253;
constexpr uint32_t kPlaylistWindow = 260, kGetManualAdvance = 634, kSetManualAdvance = 635;
}  // namespace user

// WM_USER requests to the playlist window, by wParam (the data in lParam).
namespace playlist {
constexpr uint32_t kRemove = 104;
}  // namespace playlist

}  // namespace playernumbers
