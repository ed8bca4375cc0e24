#include "instance/Device.WinampControl_Tags.h"

#include "winamp/WinAmp.h"

void TKDOPolledEntry::AskIndex(TWinAmpControl& link) {
  FIndex = link.GetPlaylistPosition();
  FKnown |= kIndex;
}

void TKDOPolledEntry::AskLength(TWinAmpControl& link) {
  if (FIndex >= 0) FLength = link.GetPlaylistLength();
  FKnown |= kLength;
}

void TKDOPolledEntry::ReadText(TWinAmpControl& link, TKDOPlayerQuery which) {
  std::string& text = which == TKDOPlayerQuery::PlaylistTitle ? FTitle : FFile;
  text.clear();
  if (FIndex >= 0 && FIndex < FLength) {
    if (which == TKDOPlayerQuery::PlaylistTitle)
      link.ReadPlaylistTitleAt(FIndex, text);
    else
      link.ReadPlaylistFileAt(FIndex, text);
  }
  FKnown |= TextBit(which);
}

bool TKDOWinampTags::Step(uint8_t phase, TKDOPlayerQuery which, TWinAmpControl& link, TKDOPolledEntry& entry,
                          std::string_view& value) {
  switch (phase) {
    case 0:
      if (!entry.KnowsIndex()) entry.AskIndex(link);
      return false;
    case 1:
      if (!entry.KnowsLength()) entry.AskLength(link);
      return false;
    case 2:
    case 3: {
      const TKDOPlayerQuery text = phase == 2 ? TKDOPlayerQuery::PlaylistFile : TKDOPlayerQuery::PlaylistTitle;
      if (!entry.Knows(text)) entry.ReadText(link, text);
      return false;
    }
  }
  Asked& asked = FAsked[which == TKDOPlayerQuery::Album ? 1 : 0];
  const std::string& file = entry.Text(TKDOPlayerQuery::PlaylistFile);
  const std::string& title = entry.Text(TKDOPlayerQuery::PlaylistTitle);
  if (asked.Window != link.PlayerWindow() || asked.File != file || asked.Title != title) {
    if (file.empty())
      asked.Answer.clear();  // no entry: no tags
    else
      link.GetFileMetadata(file, which == TKDOPlayerQuery::Album ? "album" : "artist", asked.Answer);
    // A request the player did not answer is made again once it answers.
    asked.Window = link.HasAnsweringPlayer() ? link.PlayerWindow() : 0;
    asked.File = file;
    asked.Title = title;
  }
  value = asked.Answer;
  return true;
}
