// The player's documented message numbers, written out once for every test, so that the link and
// the player stand-in are checked against them rather than against their own constants. The names
// differ from windows.h's macros so that the Windows tests can include both.
#pragma once

#include <cstdint>

namespace playernumbers {

constexpr uint32_t kWmNull = 0x0000, kWmCommand = 0x0111, kWmCopyData = 0x004A, kWmUser = 0x0400;

// WM_COMMAND identifiers.
namespace cmd {
constexpr uint32_t kClose = 40001, kPrevious = 40044, kPlay = 40045, kPause = 40046, kStop = 40047, kNext = 40048;
}  // namespace cmd

// WM_USER requests, by lParam.
namespace user {
constexpr uint32_t kVersion = 0;  // asks nothing of the player's state
constexpr uint32_t kClearPlaylist = 101, kPlayState = 104, kTime = 105, kJump = 106;
constexpr uint32_t kSetCurrent = 121, kVolume = 122, kCount = 124, kCurrent = 125;
constexpr uint32_t kFileAddress = 211, kTitleAddress = 212;
constexpr uint32_t kGetShuffle = 250, kGetRepeat = 251, kSetShuffle = 252, kSetRepeat = 253;
constexpr uint32_t kPlaylistWindow = 260, kGetManualAdvance = 634, kSetManualAdvance = 635;

// wParam of the time request: the position in ms, or the length in seconds.
constexpr uint32_t kPositionMs = 0, kLengthSeconds = 1;
// wParam of the volume request that asks rather than sets: -666.
constexpr uint32_t kAskVolume = 0xFFFFFD66u;
// wParam of the playlist-window request: the playlist window's handle.
constexpr uint32_t kPlaylistHandle = 1;
}  // namespace user

// WM_USER requests to the playlist window, by wParam (the data in lParam).
namespace playlist {
constexpr uint32_t kRemove = 104;
}  // namespace playlist

// WM_COPYDATA record kinds, by dwData.
namespace copydata {
constexpr uint32_t kAddFile = 100;
constexpr uint32_t kInsertFile = 106;  // to the playlist window, with the record below
}  // namespace copydata

// The insert record as the player documents it, {char file[MAX_PATH]; int index;}: the name
// before the entry at `Index` (from 0).
struct InsertRecord {
  char File[260];
  int32_t Index;
};
static_assert(sizeof(InsertRecord) == 264);

}  // namespace playernumbers
