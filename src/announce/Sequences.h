// The announcer's steps and the sequences it queues them in, each named once:
// the order of the messages a player gets while announcements interrupt its
// music. The steps' file runs them; the operations only queue them by name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "work/Steps.h"

namespace kdo::announce {

// Each step sends at most one message. A step that finds the player not
// answering after its send stays at the head of the queue.
enum class Step : uint8_t {
  // the music as it is before the first of a row (the six in the order of a saved state's parts),
  // and its entry's file to find it again
  MusicEntry, MusicTime, MusicState, MusicVolume, MusicShuffle, MusicRepeat, MusicFile, MusicManualAdvance, MusicKept,
  // the watch over the announcement that plays
  AskState, AskPosition, AskLength, AskAnnouncement, Judge, Locate, FindAnnouncement, FindMusic, Located, JudgeEnd,
  // its end
  StopAnnouncement, AskPlaylistWindow, CheckAnnouncement, RemoveAnnouncement, Next,
  // the next one
  LengthBefore, AddAnnouncement, LengthAfter, CheckAdded, CheckAddedThere, ManualAdvanceOn, AnnouncementEntry, AnnouncementVolume, AnnouncementPlay,
  // the music back, or what moving on gives back
  ManualAdvanceBack, VolumeBack, ShuffleBack, RepeatBack, EntryBack, PlayBack, PlayUnlessPlaying, JumpBack, PauseBack,
  PauseUnlessPaused, StopBack, Done,
};

// In the table's order.
enum class Sequence : uint8_t {
  Start, Watch, JudgeAfterLocating, JudgeWhereSeen, JudgeAsSeen, Find,
  Ended, Skipped, LookAgain, RemoveAgain, GiveUp, MoveOn, GiveBack,
  Next, AddNext, AddAgain, CheckAdded, CheckAddedThere, ManualAdvanceOn,
  PutBackPlaying, PutBackPaused, PutBackStopped, PlayAgain, PauseAgain,
};

using Steps = kdo::work::Steps<Step>;
using NamedSteps = kdo::work::NamedSteps<Sequence, Step>;

namespace table {
using enum Step;

// Parts that several sequences share.
inline constexpr Steps kLocate = {AskPosition, AskLength, Locate};              // where the entries are now
inline constexpr Steps kRemove = {AskPlaylistWindow, CheckAnnouncement, RemoveAnnouncement};  // only an entry that holds its file
inline constexpr Steps kAdd = {LengthBefore, AddAnnouncement, LengthAfter};            // the file, and where it went
inline constexpr Steps kGiveBack = {ManualAdvanceBack, VolumeBack, Done};       // the player the user's again
// The manual advance first, so that a track that has ended plays on as the user's setting says.
inline constexpr Steps kBack = {ManualAdvanceBack, VolumeBack, ShuffleBack, RepeatBack, EntryBack};

inline constexpr NamedSteps kSequences[] = {
    // A row begins: only questions, until the first announcement is added.
    {Sequence::Start, {MusicEntry, MusicTime, MusicState, MusicVolume, MusicShuffle, MusicRepeat, MusicFile,
                       MusicManualAdvance, MusicKept, Next}},
    // The watch, at a tick with nothing owed: is the announcement still on, and where.
    {Sequence::Watch, {AskState, AskPosition, AskLength, AskAnnouncement, Judge}},
    // The entries found again by name first, then where the player is now: what the watch saw
    // before is stale once entries moved.
    {Sequence::JudgeAfterLocating, {Locate, AskState, AskPosition, JudgeEnd}},
    {Sequence::JudgeWhereSeen, {FindMusic, JudgeEnd}},  // nothing moved: what the watch saw holds
    {Sequence::JudgeAsSeen, {JudgeEnd}},
    {Sequence::Find, {FindAnnouncement, FindMusic, Located}},   // what Locate looks for
    // The announcement's end.
    {Sequence::Ended, kRemove + Steps{Next}},
    {Sequence::Skipped, kRemove + kGiveBack},             // in the player: the room has moved on there
    {Sequence::LookAgain, kLocate + Steps{CheckAnnouncement}},   // not where it was found, right before its removal
    {Sequence::RemoveAgain, {CheckAnnouncement, RemoveAnnouncement}},   // a removal given up: checked again once it answers
    {Sequence::GiveUp, kLocate + kRemove + Steps{Next}},  // silent too long: done once it answers
    // The room has moved on: back on the music's entry, the player given back (what is owed of it).
    {Sequence::MoveOn, Steps{StopAnnouncement} + kLocate + kRemove + Steps{EntryBack} + kGiveBack},
    {Sequence::GiveBack, kGiveBack},                      // moving on with no announcement on
    // The next one.
    {Sequence::Next, {Next}},                             // the next announcement, or the music back
    // The playlist window for its removal is asked while it plays: its end then waits for one answer less.
    {Sequence::AddNext, kAdd + Steps{AnnouncementEntry, AnnouncementVolume, AnnouncementPlay, AskPlaylistWindow}},
    {Sequence::AddAgain, kAdd},                           // the add never reached the player
    {Sequence::CheckAdded, {CheckAdded}},                 // the playlist changed meanwhile: is the last entry ours
    {Sequence::CheckAddedThere, {CheckAddedThere}},       // or the one where it was to go
    {Sequence::ManualAdvanceOn, {ManualAdvanceOn}},       // before the first is played
    // The music back as it was.
    {Sequence::PutBackPlaying, kBack + Steps{PlayBack, JumpBack, Done}},
    {Sequence::PutBackPaused, kBack + Steps{PlayBack, JumpBack, PauseBack, Done}},
    {Sequence::PutBackStopped, kBack + Steps{StopBack, Done}},
    // A play or pause given up may have been carried out (the player had begun it): a second play
    // would start the track anew, a second pause resume it.
    {Sequence::PlayAgain, {AskState, PlayUnlessPlaying}},
    {Sequence::PauseAgain, {AskState, PauseUnlessPaused}},
};

static_assert(kdo::work::InOrder(kSequences, Sequence::PauseAgain), "one row for each sequence, in the enum's order");
}  // namespace table

constexpr const Steps& StepsOf(Sequence sequence) { return table::kSequences[std::size_t(sequence)].Sends; }

}  // namespace kdo::announce
