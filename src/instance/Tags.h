// TKDOWinampTags: the tag items of the status poll (artist, album) and what
// they know of the current playlist entry.
//
// A tag needs the entry's file and title. The poll's file and title items
// hand over what they read; a tag item asks only what the poll has not learnt
// (the index, the length, the file, the title: one send a step), so with
// those items chosen it sends nothing for them. The tag itself is asked of
// the player only when the entry differs from the one it was last asked for
// (another player, file or title: a stream's tags change under one file); a
// poll in which the entry stayed the same writes the answer it has. The cover
// item takes the same steps for the file alone, and its picture is looked up
// off the thread (TKDOWinampCover).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "control/Device.WinampControl_Types.h"
#include "cover/Lookup.h"
#include "platform/Platform.h"

class TWinAmpControl;

class TKDOWinampTags {
 public:
  // A tag item's steps: the index, the length, the file, the title, the request.
  static constexpr uint8_t kSteps = 5;

  // At each round's start, of the player held then: nothing is known of the entry yet (the texts
  // keep their room). What is known holds for that player alone.
  void NewPoll(platform::WindowHandle player) { FKnown = 0, FKnownOf = player; }
  // The file or title item's text of this poll.
  void Saw(TKDOPlayerQuery which, std::string_view text);
  // One step of the item `which` (Artist, Album or Cover); true at the last, with the
  // tag as the player told it for this entry in `value` (empty when it has
  // none, or without an entry), or the cover's picture; false at the last
  // while the cover is still looked up. Empty when its send was asked without waiting
  // instead (a slow player): the same step, made again once the answer has
  // come, takes it; empty too when the send was given up, and nothing is
  // learnt from it: the step is made again.
  std::optional<bool> Step(uint8_t phase, TKDOPlayerQuery which, TWinAmpControl& link, std::string& value);

 private:
  static constexpr uint8_t kIndex = 1, kLength = 2, kFile = 4, kTitle = 8;
  bool Knows(uint8_t what) const { return (FKnown & what) == what; }
  std::string& Text(TKDOPlayerQuery which) { return which == TKDOPlayerQuery::PlaylistTitle ? FTitle : FFile; }

  // What a tag was last asked for, and the answer.
  struct Asked {
    platform::WindowHandle Window = 0;  // 0: to be asked (again)
    std::string File;
    std::string Title;
    std::string Answer;
  };

  uint8_t FKnown = 0;
  platform::WindowHandle FKnownOf = 0;
  int32_t FIndex = 0;
  int32_t FLength = 0;
  std::string FFile;
  std::string FTitle;
  std::array<Asked, 2> FAsked;
  TKDOWinampCover FCover;
};
