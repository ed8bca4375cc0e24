// TKDOWinampCover: the cover item of the status poll. The picture of the
// current entry is looked up on a thread of its own (a sleeping disk or a
// share may take seconds to open a file) and its answer handed back to the
// poll, which alone writes the variable. One lookup at a time: the entry
// after it waits for it. An answer that no longer belongs to the entry and
// player the poll holds then is dropped; one that comes after the mirror has
// gone falls to the lookup itself, which nothing else holds any more, and
// which then keeps no picture in the folder of covers.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

class TKDOWinampCover {
 public:
  TKDOWinampCover() = default;
  ~TKDOWinampCover();
  TKDOWinampCover(const TKDOWinampCover&) = delete;
  TKDOWinampCover& operator=(const TKDOWinampCover&) = delete;

  // The cover of the entry `file` of `player` into `value` (a picture's path,
  // or empty when there is none): true when known, false while it is looked up.
  bool Step(platform::WindowHandle player, const std::string& file, std::string& value);

 private:
  struct Lookup;
  bool Knows(platform::WindowHandle player, const std::string& file) const {
    return FPlayer && FPlayer == player && FFile == file;
  }

  // The answer known, and what it belongs to (player 0: none).
  platform::WindowHandle FPlayer = 0;
  std::string FFile;
  std::string FAnswer;
  // The lookup under way, shared with its thread.
  std::shared_ptr<Lookup> FLookup;
};
