// The transfer's steps and the sequences it queues them in, each named once:
// the order of the messages the two players get while one room's music moves
// to the other. Each step sends at most one message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "work/Steps.h"

namespace kdo::transfer {

enum class Step : uint8_t {
  Length, Shuffle, Repeat, Entry, File, State, TargetState,                               // what goes
  StopTarget, ClearTarget, AddEntry, FirstEntry, PlayTarget, Time, Jump, Pause, Recheck,  // the music itself
  TargetPlays, PlaylistWindow, After, Before, ShuffleTarget, RepeatTarget, Unchanged,     // the rest of it
  Source, SourcePlay, SourceJump, SourcePause, Done,                                      // the source after it
};

// In the table's order.
enum class Sequence : uint8_t { Start, Moment, Empty, Playing, Still, Again, Rest, SourceBack };

using Steps = kdo::work::Steps<Step>;
using NamedSteps = kdo::work::NamedSteps<Sequence, Step>;

namespace table {
using enum Step;

// What follows the song first: with a slow player the entries take long, and the song ends meanwhile.
// The source is stopped only once the target holds it all.
inline constexpr Steps kRest = {TargetPlays, PlaylistWindow, After, Before, ShuffleTarget, RepeatTarget, Unchanged,
                                Source, Done};

inline constexpr NamedSteps kSequences[] = {
    // The source's playlist as it is; Entry decides what the moment is.
    {Sequence::Start, {Length, Shuffle, Repeat, Entry}},
    // The target is touched only once the source's music is known: until then, given up, it plays on.
    {Sequence::Moment, {File, State, TargetState, StopTarget, ClearTarget, AddEntry, FirstEntry}},
    {Sequence::Empty, Steps{StopTarget, ClearTarget} + kRest},  // an empty playlist goes over
    // Played, then moved to the source's time last; then the source looked at again: skipped in
    // the player meanwhile (the moment spans ticks with a slow player), it is made again.
    {Sequence::Playing, {PlayTarget, Time, Jump, Pause, Recheck}},
    {Sequence::Still, {Recheck}},
    {Sequence::Again, {Entry}},
    {Sequence::Rest, kRest},
    // Both play on: the source's music too, if an announcement had held it.
    {Sequence::SourceBack, {SourcePlay, SourceJump, SourcePause}},
};
static_assert(kdo::work::InOrder(kSequences, Sequence::SourceBack), "one row for each sequence, in the enum's order");
}  // namespace table

constexpr const Steps& StepsOf(Sequence sequence) { return table::kSequences[std::size_t(sequence)].Sends; }

}  // namespace kdo::transfer
