// The current playlist entry as one status poll has learnt it, and the tags
// (artist, album) the poll mirrors from it.
//
// A poll learns the entry's index, the playlist's length and the entry's file
// and title once: the file and title items ask them anyway, and a tag item
// asks only what this poll has not learnt yet. A tag is asked of the player
// only when the entry differs from the one it was last asked for (another
// player, file or title: a stream's tags change under one file), so a poll in
// which the entry stayed the same sends nothing for it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/Device.WinampControl_Types.h"
#include "platform/Platform.h"

class TWinAmpControl;

class TKDOPolledEntry {
 public:
  // At each poll's start: nothing is known of the entry yet (the texts keep their room).
  void Forget() { FKnown = 0; }

  void AskIndex(TWinAmpControl& link);
  // Only for an entry (an index from 0): without one, the texts are empty.
  void AskLength(TWinAmpControl& link);
  // The entry's file or title; empty when the index lies outside the playlist.
  void ReadText(TWinAmpControl& link, TKDOPlayerQuery which);
  // What the three asks have learnt this poll.
  bool KnowsIndex() const { return FKnown & kIndex; }
  bool KnowsLength() const { return FKnown & kLength; }
  bool Knows(TKDOPlayerQuery which) const { return FKnown & TextBit(which); }
  int32_t Index() const { return FIndex; }
  const std::string& Text(TKDOPlayerQuery which) const {
    return which == TKDOPlayerQuery::PlaylistTitle ? FTitle : FFile;
  }

 private:
  static constexpr uint8_t kIndex = 1, kLength = 2, kFile = 4, kTitle = 8;
  static uint8_t TextBit(TKDOPlayerQuery which) { return which == TKDOPlayerQuery::PlaylistTitle ? kTitle : kFile; }

  uint8_t FKnown = 0;
  int32_t FIndex = 0;
  int32_t FLength = 0;
  std::string FFile;
  std::string FTitle;
};

class TKDOWinampTags {
 public:
  // The steps of a tag item: the entry's index, length, file and title (each
  // sent only when this poll has not learnt it), then the tag's request.
  static constexpr uint8_t kSteps = 5;
  // One step of the item `which` (Artist or Album); true when its value is in
  // `value`, the tag as the player last told it for this entry (empty when
  // it has none, or without an entry).
  bool Step(uint8_t phase, TKDOPlayerQuery which, TWinAmpControl& link, TKDOPolledEntry& entry,
            std::string_view& value);

 private:
  // What a tag was last asked for, and the answer.
  struct Asked {
    platform::WindowHandle Window = 0;  // 0: never asked of this player
    std::string File;
    std::string Title;
    std::string Answer;
  };
  std::array<Asked, 2> FAsked;
};
