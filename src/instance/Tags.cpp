#include "instance/Tags.h"

#include "winamp/WinAmp.h"

void TKDOWinampTags::Saw(TKDOPlayerQuery which, std::string_view text) {
  Text(which).assign(text);
  FKnown |= which == TKDOPlayerQuery::PlaylistTitle ? kTitle : kFile;
}

std::optional<bool> TKDOWinampTags::Step(uint8_t phase, TKDOPlayerQuery which, TWinAmpControl& link,
                                         std::string& value) {
  if (link.PlayerWindow() != FKnownOf) NewPoll(link.PlayerWindow());  // learnt of another player
  // The cover needs only the file; a tag, the file and the title.
  const bool cover = which == TKDOPlayerQuery::Cover;
  const bool entryKnown = Knows(cover ? kFile : kFile | kTitle);
  switch (phase) {
    case 0:
      if (!entryKnown && !Knows(kIndex)) {
        FIndex = link.GetPlaylistPosition();
        if (!link.IsAnswering()) return std::nullopt;
        FKnown |= kIndex;
      }
      return false;
    case 1:
      if (!entryKnown && !Knows(kLength)) {
        FLength = FIndex >= 0 ? link.GetPlaylistLength() : 0;
        if (!link.IsAnswering()) return std::nullopt;
        FKnown |= kLength;
      }
      return false;
    case 2:
    case 3: {
      const TKDOPlayerQuery text = phase == 2 ? TKDOPlayerQuery::PlaylistFile : TKDOPlayerQuery::PlaylistTitle;
      if (Knows(text == TKDOPlayerQuery::PlaylistFile ? kFile : kTitle) || (cover && phase == 3)) return false;
      std::string& read = Text(text);
      read.clear();
      if (FIndex >= 0 && FIndex < FLength) {
        if (text == TKDOPlayerQuery::PlaylistFile)
          link.GetPlaylistFileInRange(FIndex, read);
        else
          link.GetPlaylistTitleInRange(FIndex, read);
        if (!link.IsAnswering()) return std::nullopt;
      }
      FKnown |= text == TKDOPlayerQuery::PlaylistFile ? kFile : kTitle;
      return false;
    }
  }
  if (cover) {
    // Looked up off the thread: known, or to come (its variable is left alone meanwhile).
    return std::optional<bool>(FCover.Step(link.PlayerWindow(), FFile, value));
  }
  Asked& asked = FAsked[which == TKDOPlayerQuery::Album ? 1 : 0];
  if (asked.Window != link.PlayerWindow() || asked.File != FFile || asked.Title != FTitle) {
    if (FFile.empty())
      asked.Answer.clear();  // no entry: no tags
    else
      link.GetFileMetadata(FFile, which == TKDOPlayerQuery::Album ? "album" : "artist", asked.Answer);
    if (!link.IsAnswering()) return std::nullopt;
    // A request the player did not answer is made again once it answers.
    asked.Window = link.HasAnsweringPlayer() ? link.PlayerWindow() : 0;
    asked.File = FFile;
    asked.Title = FTitle;
  }
  value.assign(asked.Answer);
  return true;
}
