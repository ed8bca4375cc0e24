// The night's steps and the sequences it queues them in, each named once: the
// volume ceiling's look at the player, and the sleep timer's fade.
#pragma once

#include <cstddef>
#include <cstdint>

#include "work/Steps.h"

namespace kdo::night {

enum class Step : uint8_t { Volume, Lower, From, Fade };

// In the table's order.
enum class Sequence : uint8_t { Ceiling, Sleep };

using Steps = kdo::work::Steps<Step, 2>;
using NamedSteps = kdo::work::NamedSteps<Sequence, Step, 2>;

namespace table {
using enum Step;
inline constexpr NamedSteps kSequences[] = {
    // The player's own volume, brought down when a person set it above the ceiling there.
    {Sequence::Ceiling, {Volume, Lower}},
    // Where the music's volume is, to come back to, then down to nothing.
    {Sequence::Sleep, {From, Fade}},
};
static_assert(kdo::work::InOrder(kSequences, Sequence::Sleep), "one row for each sequence, in the enum's order");
}  // namespace table

constexpr const Steps& StepsOf(Sequence sequence) { return table::kSequences[std::size_t(sequence)].Sends; }

}  // namespace kdo::night
