// Named runs of steps: each kind of work over ticks names its steps in an
// enum and the runs it queues in a table, once, in the enum's order.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>

namespace kdo::work {

// A short run of steps, joined from parts when the table is made.
template <class Step, std::size_t Longest = 12>
class Steps {
 public:
  constexpr Steps(std::initializer_list<Step> steps) {
    for (Step step : steps) Add(step);
  }
  constexpr Steps operator+(const Steps& more) const {
    Steps all = *this;
    for (Step step : more) all.Add(step);
    return all;
  }
  constexpr const Step* begin() const { return FSteps.data(); }
  constexpr const Step* end() const { return FSteps.data() + FCount; }

 private:
  constexpr void Add(Step step) { FSteps.at(FCount++) = step; }  // a run too long does not compile
  std::array<Step, Longest> FSteps{};
  std::size_t FCount = 0;
};

template <class Sequence, class Step, std::size_t Longest = 12>
struct NamedSteps {
  Sequence Name;
  Steps<Step, Longest> Sends;
};

// One row for each sequence, in the enum's order, up to `last`.
template <class Sequence, class Step, std::size_t Longest, std::size_t N>
constexpr bool InOrder(const NamedSteps<Sequence, Step, Longest> (&table)[N], Sequence last) {
  std::size_t at = 0;
  for (const auto& row : table)
    if (std::size_t(row.Name) != at++) return false;
  return at == std::size_t(last) + 1;
}

}  // namespace kdo::work
