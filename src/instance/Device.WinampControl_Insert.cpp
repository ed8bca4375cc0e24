// The script functions that put an entry where the user wants it: before a
// position, right after the current entry, or there and played at once.
// Each goes through the player's playlist window, which keeps the current
// entry current, and tells the announcer, whose entries may have moved.
#include <algorithm>

#include "instance/Device.WinampControl_Announce.h"
#include "instance/Device.WinampControl_Script.h"
#include "winamp/WinAmp.h"

// Positions below 1 are refused before anything is sent: 64-bit, so INT_MIN does not wrap round into range.
bool TKDOWinampScript::InsertFile(std::string_view fileName, int32_t position) {
  const int64_t index = int64_t(position) - 1;
  if (index < 0 || !FLink.InsertFile(fileName, int32_t(index))) return false;
  FAnnouncer.EntryInserted(int32_t(index));
  return true;
}

bool TKDOWinampScript::PlayNext(std::string_view fileName) { return InsertAfterCurrent(fileName).has_value(); }

// A transport command: an announcement has given the player back before this runs.
bool TKDOWinampScript::PlayNow(std::string_view fileName) {
  const std::optional<int32_t> index = InsertAfterCurrent(fileName);
  if (!index) return false;
  FLink.SetPlaylistPosition(*index);
  FLink.Play();
  return FLink.IsAnswering();
}

// Right after the current entry, or during an announcement after the entry
// the music comes back to, so that it follows the music rather than the
// chime; first in an empty playlist, and last when the entry lies past the
// end. Where it went, or nothing when it was not inserted.
std::optional<int32_t> TKDOWinampScript::InsertAfterCurrent(std::string_view fileName) {
  if (!TWinAmpControl::IsInsertable(fileName) || !FLink.HasAnsweringPlayer()) return std::nullopt;
  const std::optional<int32_t> music = FAnnouncer.MusicEntry();
  const int32_t current = music ? *music : FLink.GetPlaylistPosition();
  const int32_t length = FLink.GetPlaylistLength();
  if (!FLink.IsAnswering() || length < 0) return std::nullopt;
  const int32_t index = int32_t(std::clamp<int64_t>(int64_t(current) + 1, 0, length));
  if (!FLink.InsertEntryVia(FLink.GetPlaylistWindow(), fileName, index)) return std::nullopt;
  FAnnouncer.EntryInserted(index);
  return index;
}
