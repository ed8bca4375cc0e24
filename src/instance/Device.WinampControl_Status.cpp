#include "instance/Device.WinampControl_Status.h"

#include <array>
#include <cmath>
#include <iterator>
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

// What the steps have of their item's answer. The entry holds within one
// poll only: by the next, the player may have moved on.
struct Polled {
  TKDOPolledEntry& Entry;
  TKDOWinampTags& Tags;
  int32_t Number = 0;
  std::string_view Text;
};

// The poll in single sends: each step sends at most one message and says
// whether its item's answer is complete (then the item's value goes to its
// variable) or the item goes on with the next step. A text item takes three
// steps (current index, playlist length, the entry's text), all in one poll;
// a tag item five, of which it sends only what the poll has not learnt.
struct PollStep {
  const TKDOSettingsKey* Row;
  uint8_t Phase;  // of a text item: 0 index, 1 length, 2 the text
  bool First;     // the item's first step
};

constexpr bool IsText(TKDOPlayerQuery q) {
  return q == TKDOPlayerQuery::PlaylistFile || q == TKDOPlayerQuery::PlaylistTitle;
}
constexpr bool IsTag(TKDOPlayerQuery q) { return q == TKDOPlayerQuery::Artist || q == TKDOPlayerQuery::Album; }
constexpr bool IsTime(TKDOPlayerQuery q) {
  return q == TKDOPlayerQuery::TrackPosition || q == TKDOPlayerQuery::TrackLength;
}
constexpr uint8_t StepsOf(TKDOPlayerQuery q) {
  return q == TKDOPlayerQuery::None ? 0 : IsText(q) ? 3 : IsTag(q) ? TKDOWinampTags::kSteps : 1;
}

// The mirrored settings' steps, in the settings' order.
constexpr std::size_t kStepCount = [] {
  std::size_t n = 0;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) n += StepsOf(row.Query);
  return n;
}();
constexpr std::array<PollStep, kStepCount> kSteps = [] {
  std::array<PollStep, kStepCount> steps{};
  std::size_t n = 0;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    for (uint8_t phase = 0; phase < StepsOf(row.Query); ++phase) steps[n++] = {&row, phase, phase == 0};
  return steps;
}();

// One send of a step; true when the item's answer is complete.
bool Ask(const PollStep& step, L& l, Polled& a) {
  switch (step.Row->Query) {
    case TKDOPlayerQuery::TrackPosition: a.Number = l.GetTrackPosition(); return true;
    case TKDOPlayerQuery::TrackLength: a.Number = l.GetTrackLength(); return true;
    case TKDOPlayerQuery::Volume: a.Number = l.GetVolume(); return true;
    case TKDOPlayerQuery::Shuffle: a.Number = l.GetShuffle(); return true;
    case TKDOPlayerQuery::Repeat: a.Number = l.GetRepeat(); return true;
    case TKDOPlayerQuery::PlayState: a.Number = l.GetPlayState(); return true;
    case TKDOPlayerQuery::None: return true;
    case TKDOPlayerQuery::Artist:
    case TKDOPlayerQuery::Album: return a.Tags.Step(step.Phase, step.Row->Query, l, a.Entry, a.Text);
    case TKDOPlayerQuery::PlaylistFile:
    case TKDOPlayerQuery::PlaylistTitle: break;
  }
  if (step.Phase == 0) {
    a.Entry.AskIndex(l);
    return false;
  }
  // An index below 0 needs no length: the text is empty.
  if (step.Phase == 1) {
    a.Entry.AskLength(l);
    if (a.Entry.Index() >= 0) return false;
  }
  a.Entry.ReadText(l, step.Row->Query);
  a.Text = a.Entry.Text(step.Row->Query);
  return true;
}

// The first step of the item that `step` belongs to.
uint8_t ItemStart(uint8_t step) {
  while (step > 0 && !kSteps[step].First) --step;
  return step;
}

}  // namespace

TKDOWinampStatus::TKDOWinampStatus(const TKDOWinampServices& services, IKDOModule& instance, TWinAmpControl& link,
                                   const TKDOWinampInstanceSettings& settings, std::function<void()> playerWork)
    : FServices(services), FInstance(instance), FLink(link), FSettings(settings), FPlayerWork(std::move(playerWork)),
      FTimer(std::make_unique<platform::Timer>()) {
  FTimer->SetInterval(kTickMs);
  FTimer->SetOnTimer([this] { Tick(); });
  FTimer->SetEnabled(true);
}

// A slow player gets at most a quarter of the thread: after T ms of sends, kRestFactor T ms without.
void TKDOWinampStatus::Tick() {
  if (uint32_t(platform::TickMs() - FPoll.EndedAt) < FPoll.RestMs) return;
  const uint32_t began = platform::TickMs();
  if (FPlayerWork) FPlayerWork();
  Poll(uint32_t(platform::TickMs() - began));
}

void TKDOWinampStatus::Poll(uint32_t spent) {
  // The poll only asks: it never starts, binds or commands the player. A
  // player that does not answer is left alone like an unbound one: the
  // variables keep its last real values, and the play state shows -1.
  if (!FLink.HasAnsweringPlayer()) {
    if (spent) FPoll = {FPoll.Step, platform::TickMs(), kRestFactor * spent};  // the work before the poll met a hang
    return WriteNoPlayer();
  }
  // A write runs server code that may release the server's reference (an event
  // script deleting this instance): the instance then goes when the tick ends.
  const TKDORef<IKDOModule> self(&FInstance);
  FEntry.Forget();
  Polled answer{FEntry, FTags, 0, {}};
  // A text item left unfinished starts again at its first step.
  uint8_t at = ItemStart(FPoll.Step < kStepCount ? FPoll.Step : 0);
  // A text item that began the poll's sends is finished in it, past the budget
  // if need be: on a player slower than a third of the budget it would
  // otherwise never be finished at all.
  bool sent = false, carried = false;
  // One round at most: what was not reached within the budget comes first next time.
  for (unsigned travelled = 0; travelled < kStepCount && (spent < kPollBudgetMs || (carried && !kSteps[at].First));) {
    const PollStep& step = kSteps[at];
    // The identifiers as they are now: a SetSettings between ticks counts from the next one.
    const TKDOText ident = FSettings.*step.Row->Field;
    bool complete = true;
    if (!ident.empty()) {
      if (step.First) carried = !sent;
      sent = true;
      const uint32_t asked = platform::TickMs();
      complete = Ask(step, FLink, answer);
      spent += uint32_t(platform::TickMs() - asked);
      // Given up (or let go of by a write's server code): the item starts afresh when the player answers.
      if (!FLink.HasAnsweringPlayer()) {
        WriteNoPlayer();
        break;
      }
      if (complete) Write(*step.Row, ident.get(), answer.Number, answer.Text);
    }
    // An item without identifier, or complete, is left for the next; otherwise its next step follows.
    const uint8_t from = at;
    do at = uint8_t((at + 1) % kStepCount);
    while (complete && !kSteps[at].First);
    travelled += (at + kStepCount - from) % kStepCount;
  }
  FPoll.Step = at;
  FPoll.EndedAt = platform::TickMs();
  FPoll.RestMs = kRestFactor * spent;
}

// Asks the player nothing: only the variable is read, and written when it differs.
void TKDOWinampStatus::WriteNoPlayer() {
  const TKDOText ident = FSettings.PlayStateVar;
  if (ident.empty()) return;
  const TKDORef<IKDOModule> self(&FInstance);  // the write's server code may let the instance go
  UpdateIntegerVariable(ident.get(), -1);
}

// The value in its variable's type; a time is the player's seconds.
void TKDOWinampStatus::Write(const TKDOSettingsKey& row, KDOString ident, int32_t number, std::string_view text) {
  if (row.Type == KDO_TYPE_INTEGER) return UpdateIntegerVariable(ident, number);
  if (row.Type == KDO_TYPE_BOOLEAN) return UpdateBooleanVariable(ident, number != 0);
  if (IsTime(row.Query)) return UpdateStringVariable(ident, TimeText(number));
  UpdateStringVariable(ident, text);
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
