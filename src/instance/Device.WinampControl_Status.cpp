// The status mirror: four times a second the bound player's state goes into
// the variables the user chose, each written only when its value changed.
#include <cmath>
#include <string>

#include "instance/Device.WinampControl_Interface.h"
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

struct PollItem {
  TKDOText TKDOWinampControlSettings::*Ident;
  void (*Poll)(TKDOWinampControl& c, TWinAmpControl& link, KDOString ident);
};

}  // namespace

void TKDOWinampControl::StatusPoll() {
  // The poll only asks: it never starts, binds or commands the player.
  static const PollItem kItems[] = {
      {&TKDOWinampControlSettings::TrackPosVar,
       [](TKDOWinampControl& c, TWinAmpControl& l, KDOString id) {
         c.UpdateStringVariable(id, TimeText(l.GetTrackPosition()));
       }},
      {&TKDOWinampControlSettings::TrackLenVar,
       [](TKDOWinampControl& c, TWinAmpControl& l, KDOString id) {
         c.UpdateStringVariable(id, TimeText(l.GetTrackLength()));
       }},
      {&TKDOWinampControlSettings::TrackFileVar,
       [](TKDOWinampControl& c, TWinAmpControl& l, KDOString id) {
         std::string& text = c.FPolledText;
         l.GetCurrentFile(text);
         c.UpdateStringVariable(id, text);
       }},
      {&TKDOWinampControlSettings::TrackTitleVar,
       [](TKDOWinampControl& c, TWinAmpControl& l, KDOString id) {
         std::string& text = c.FPolledText;
         l.GetCurrentTitle(text);
         c.UpdateStringVariable(id, text);
       }},
      {&TKDOWinampControlSettings::VolumeVar,
       [](TKDOWinampControl& c, TWinAmpControl& l, KDOString id) { c.UpdateIntegerVariable(id, l.GetVolume()); }},
      {&TKDOWinampControlSettings::ShuffleVar,
       [](TKDOWinampControl& c, TWinAmpControl& l, KDOString id) { c.UpdateBooleanVariable(id, l.GetShuffle()); }},
      {&TKDOWinampControlSettings::RepeatVar,
       [](TKDOWinampControl& c, TWinAmpControl& l, KDOString id) { c.UpdateBooleanVariable(id, l.GetRepeat()); }},
  };
  if (!FPlayerLink || !FPlayerLink->IsBound()) return;
  // A write runs server code that may release the server's reference (an event
  // script deleting this instance): the instance then goes when the tick ends.
  const TKDORef<IKDOModule> self(ModuleInterface());
  for (const PollItem& item : kItems) {
    // The identifiers as they are now: a SetSettings between ticks counts from the next one.
    const TKDOText ident = FSettings.*item.Ident;
    if (!ident.empty()) item.Poll(*this, *FPlayerLink, ident.get());
  }
}

// Text compares ignore the case of A to Z only.
void TKDOWinampControl::UpdateStringVariable(KDOString ident, std::string_view text) {
  if (!FVariableManager) return;
  TKDOText current;
  FVariableManager->ReadVariableString(ident, current.out());
  if (!kdo::text::EqualIgnoringAZCase(current.view(), text)) {
    const TKDOText value(text);
    FVariableManager->WriteVariableString(ident, value.get());
  }
}

// A failed read leaves nothing to compare with: the value is written.
void TKDOWinampControl::UpdateIntegerVariable(KDOString ident, int32_t value) {
  if (!FVariableManager) return;
  int32_t current = 0;
  if (KDOFailed(FVariableManager->ReadVariableInteger(ident, &current)) || current != value)
    FVariableManager->WriteVariableInteger(ident, value);
}

void TKDOWinampControl::UpdateBooleanVariable(KDOString ident, bool value) {
  if (!FVariableManager) return;
  uint8_t current = 0;
  const uint8_t byte = value ? 1 : 0;
  if (KDOFailed(FVariableManager->ReadVariableBoolean(ident, &current)) || current != byte)
    FVariableManager->WriteVariableBoolean(ident, byte);
}
