#include "instance/Status.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <optional>
#include <string>

#include "winamp/WinAmp.h"

namespace {

// Seconds as a time of day in the long time format: s / 86400 days, of which
// only the time of day counts (90000 s shows as 3600 s). A negative count
// takes the time of day of its magnitude, as day-count times before day 0 do,
// so the player's -1 for "no track" shows one second.
std::string TimeText(int32_t seconds) {
  const double days = seconds / 86400.0;
  const double fraction = std::fabs(days - std::trunc(days));
  int64_t ms = std::llround(fraction * 86400000.0);
  if (ms >= 86400000) ms = 0;
  const int64_t s = ms / 1000;
  return platform::FormatLongTime(int(s / 3600), int(s / 60 % 60), int(s % 60));
}

using L = TWinAmpControl;

// The poll in single sends: each step sends at most one message and says
// whether its item's answer is complete (then the item's value goes to its
// variable), is to be dropped, or goes on with the next step. A text item takes
// three steps (current index, playlist length, the entry's text), and a fourth
// when they fell into different polls: the index again, so that the text is
// written only if the player is still on that entry.
struct PollStep {
  const TKDOSettingsKey* Row;
  uint8_t Phase;  // of a text item: 0 index, 1 length, 2 the text, 3 the index again
  bool First;     // the item's first step
};

enum class Outcome { More, Write, Drop };

constexpr bool IsText(TKDOPlayerQuery q) {
  return q == TKDOPlayerQuery::PlaylistFile || q == TKDOPlayerQuery::PlaylistTitle;
}
constexpr bool IsTag(TKDOPlayerQuery q) {
  return q == TKDOPlayerQuery::Artist || q == TKDOPlayerQuery::Album || q == TKDOPlayerQuery::Cover;
}

// The mirrored settings' steps, in the settings' order.
constexpr uint8_t kTextPhases = 4;
constexpr uint8_t StepsOf(TKDOPlayerQuery q) {
  return q == TKDOPlayerQuery::None ? 0 : IsText(q) ? kTextPhases : IsTag(q) ? TKDOWinampTags::kSteps : 1;
}
constexpr std::size_t kStepCount = [] {
  std::size_t n = 0;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    n += StepsOf(row.Query);
  return n;
}();
constexpr std::array<PollStep, kStepCount> kSteps = [] {
  std::array<PollStep, kStepCount> steps{};
  std::size_t n = 0;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) {
    if (row.Query == TKDOPlayerQuery::None) continue;
    const uint8_t phases = StepsOf(row.Query);
    for (uint8_t phase = 0; phase < phases; ++phase) steps[n++] = {&row, phase, phase == 0};
  }
  return steps;
}();

// What a step asks the player (`Index`: the entry of an address); none when its answer is known without asking.
struct Request {
  TWinAmpQuestion Question;
  int32_t Index = 0;
};

std::optional<Request> RequestOf(const PollStep& step, const TStatusPollAnswer& a) {
  using Q = TWinAmpQuestion;
  switch (step.Row->Query) {
    case TKDOPlayerQuery::TrackPosition: return Request{Q::TrackPosition};
    case TKDOPlayerQuery::TrackLength: return Request{Q::TrackLength};
    case TKDOPlayerQuery::Volume: return Request{Q::Volume};
    case TKDOPlayerQuery::Shuffle: return Request{Q::Shuffle};
    case TKDOPlayerQuery::Repeat: return Request{Q::Repeat};
    case TKDOPlayerQuery::PlayState: return Request{Q::PlayState};
    case TKDOPlayerQuery::None:
    case TKDOPlayerQuery::Artist:
    case TKDOPlayerQuery::Album:
    case TKDOPlayerQuery::Cover: return std::nullopt;  // the tags ask through their own steps
    case TKDOPlayerQuery::PlaylistFile:
    case TKDOPlayerQuery::PlaylistTitle: break;
  }
  switch (step.Phase) {
    case 0: return Request{Q::PlaylistPosition};
    case 1: return a.Index < 0 ? std::nullopt : std::optional(Request{Q::PlaylistLength});  // no entry: empty
    case 2:
      if (a.Index < 0 || a.Index >= a.Length) return std::nullopt;  // no such entry: empty
      return Request{step.Row->Query == TKDOPlayerQuery::PlaylistFile ? Q::PlaylistFileAddress
                                                                      : Q::PlaylistTitleAddress, a.Index};
    default: return Request{Q::PlaylistPosition};
  }
}

// A step's answer taken (null when it asked nothing): complete, to be dropped, or more to come.
Outcome Take(const PollStep& step, const int32_t* answer, L& l, TStatusPollAnswer& a, std::string& text) {
  if (!IsText(step.Row->Query)) {
    a.Number = answer ? *answer : 0;
    return Outcome::Write;
  }
  switch (step.Phase) {
    case 0:
      a.Index = answer ? *answer : -1;
      a.Spread = false;
      return Outcome::More;
    case 1:
      text.clear();
      if (!answer) return Outcome::Write;
      a.Length = *answer;
      return Outcome::More;
    case 2:
      text.clear();
      if (answer) l.ReadRemoteTextAt(uint32_t(*answer), text);
      return a.Spread ? Outcome::More : Outcome::Write;
    default:
      return answer && *answer == a.Index ? Outcome::Write : Outcome::Drop;
  }
}

// The step after `at`: an item without identifier, complete or dropped is
// left for the next item; otherwise the item's next step follows.
uint8_t Next(uint8_t at, Outcome outcome, unsigned& travelled) {
  const uint8_t from = at;
  do at = uint8_t((at + 1) % kStepCount);
  while (outcome != Outcome::More && !kSteps[at].First);
  travelled += (at + kStepCount - from) % kStepCount;
  return at;
}

// The first step of the item that `step` belongs to.
uint8_t ItemStart(uint8_t step) {
  while (step > 0 && !kSteps[step].First) --step;
  return step;
}

}  // namespace

TKDOWinampStatus::TKDOWinampStatus(const TKDOWinampServices& services, IKDOModule& instance, TWinAmpControl& link,
                                   const TKDOWinampInstanceSettings& settings)
    : FServices(services), FInstance(instance), FLink(link), FSettings(settings),
      FAsker([this] { Poll(TKDOSendBudget::Of(kdo::pace::kResumeBudgetMs), false); }) {}

void TKDOWinampStatus::Poll(const TKDOSendBudget& budget, bool asks) {
  // The poll only asks: it never starts, binds or commands the player. A
  // player that does not answer is left alone like an unbound one: the
  // variables keep its last real values, and the play state shows -1.
  FLink.GiveUpOverdue();  // a send would have been given up by now
  if (!FLink.HasAnsweringPlayer()) {
    // Out of this dispatch's time only (another room's slow player took it), the player is still there.
    if (NoPlayer()) WriteNoPlayer();
    return;
  }
  if (FLink.QuestionOutstanding()) return;  // its answer is to come
  // A write runs server code that may release the server's reference (an event
  // script deleting this instance): the instance then goes when the tick ends.
  const TKDORef<IKDOModule> self(&FInstance);
  // An item left unfinished at the budget goes on where it stopped; one the
  // player let down starts again at its first step.
  uint8_t at = FPoll.Step < kStepCount ? FPoll.Step : 0;
  if (!FPoll.Resume) at = ItemStart(at);
  bool answering = true;
  bool asking = false;  // a step was asked without waiting: the poll goes on at it
  // One round at most: what was not reached within the budget comes first next time. A poll that
  // goes on with an item left unfinished ends with that item: a round begun there would end
  // halfway through it again, and every poll after it would spread that item over two.
  const bool finishing = FPoll.Resume;
  for (unsigned travelled = 0; travelled < kStepCount && budget.Left();) {
    // What the tags know of the entry holds for a round, which a slow player's spans many ticks.
    if (at == 0) FTags.NewPoll(FLink.PlayerWindow());
    const PollStep& step = kSteps[at];
    // The identifiers as they are now: a SetSettings between ticks counts from the next one.
    const TKDOText ident = FSettings.*step.Row->Field;
    Outcome outcome = Outcome::Write;
    if (!ident.empty()) {
      const std::optional<Request> request = IsTag(step.Row->Query) ? std::nullopt : RequestOf(step, FAnswer);
      std::optional<bool> done;
      int32_t answer = 0;
      {
        // Only the send: a write's event script asks in its own way.
        const auto deferred = FAsker.Deferred(FLink, asks);
        if (IsTag(step.Row->Query))
          done = FTags.Step(step.Phase, step.Row->Query, FLink, FPolledText);
        else if (request)
          answer = FLink.Ask(request->Question, request->Index);
        asking = FLink.AskedInstead();
      }
      if (asking) break;
      // Given up (or let go of by a write's server code): the item starts afresh when the player answers.
      if (!FLink.HasAnsweringPlayer()) {
        answering = false;
        if (NoPlayer()) WriteNoPlayer();
        break;
      }
      if (IsTag(step.Row->Query)) {
        if (!done) {  // learnt that it was given up: made again
          asking = true;
          break;
        }
        // A cover still looked up at the last step leaves its variable as it is.
        outcome = *done ? Outcome::Write : step.Phase + 1 < TKDOWinampTags::kSteps ? Outcome::More : Outcome::Drop;
      } else {
        outcome = Take(step, request ? &answer : nullptr, FLink, FAnswer, FPolledText);
      }
      if (outcome == Outcome::Write) WriteAnswer(*step.Row, ident);
    }
    at = Next(at, outcome, travelled);
    if (finishing && kSteps[at].First) break;
  }
  FPoll.Step = at;
  FPoll.Resume = asking || (answering && !kSteps[at].First);
  if (FPoll.Resume) FAnswer.Spread = true;  // its text is checked against the index once more
}

void TKDOWinampStatus::WriteAnswer(const TKDOSettingsKey& row, const TKDOText& ident) {
  // The play state is ours to say: a player whose window has gone is none, whatever the link holds still.
  const bool none = row.Query == TKDOPlayerQuery::PlayState && FLink.IsGone();
  Write(row, ident.get(), none ? -1 : FAnswer.Number, FPolledText);
  if (IsText(row.Query)) FTags.Saw(row.Query, FPolledText);
}

bool TKDOWinampStatus::NoPlayer() const { return !FLink.IsBound() || FLink.IsHung(); }

// Asks the player nothing: only the variables are read, and written when they differ.
void TKDOWinampStatus::WriteNoPlayer() {
  const TKDOText state = FSettings.PlayStateVar, cover = FSettings.CoverVar;
  if (state.empty() && cover.empty()) return;
  const TKDORef<IKDOModule> self(&FInstance);  // the write's server code may let the instance go
  if (!state.empty()) UpdateIntegerVariable(state.get(), -1);
  if (!cover.empty()) UpdateStringVariable(cover.get(), {});  // no player shows no picture
}

// The value in its variable's type; a time is the player's seconds.
void TKDOWinampStatus::Write(const TKDOSettingsKey& row, KDOString ident, int32_t number, std::string_view text) {
  if (row.Type == KDO_TYPE_INTEGER) return UpdateIntegerVariable(ident, number);
  if (row.Type == KDO_TYPE_BOOLEAN) return UpdateBooleanVariable(ident, number != 0);
  if (IsText(row.Query) || IsTag(row.Query)) return UpdateStringVariable(ident, text);
  UpdateStringVariable(ident, TimeText(number));
}

// Text compares ignore the case of A to Z only.
void TKDOWinampStatus::UpdateStringVariable(KDOString ident, std::string_view text) {
  if (!FServices.VariableManager) return;
  TKDOText current;
  FServices.VariableManager->ReadVariableString(ident, current.out());
  if (!kdo::text::EqualIgnoringAZCase(current.view(), text)) {
    const TKDOText value(text);
    FServices.VariableManager->WriteVariableString(ident, value.get());
  }
}

// A failed read leaves nothing to compare with: the value is written.
void TKDOWinampStatus::UpdateIntegerVariable(KDOString ident, int32_t value) {
  if (!FServices.VariableManager) return;
  int32_t current = 0;
  if (KDOFailed(FServices.VariableManager->ReadVariableInteger(ident, &current)) || current != value)
    FServices.VariableManager->WriteVariableInteger(ident, value);
}

void TKDOWinampStatus::UpdateBooleanVariable(KDOString ident, bool value) {
  if (!FServices.VariableManager) return;
  uint8_t current = 0;
  const uint8_t byte = value ? 1 : 0;
  if (KDOFailed(FServices.VariableManager->ReadVariableBoolean(ident, &current)) || current != byte)
    FServices.VariableManager->WriteVariableBoolean(ident, byte);
}
