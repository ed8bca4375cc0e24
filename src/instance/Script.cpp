#include "instance/Script.h"

#include <algorithm>
#include <array>
#include <string>

#include "announce/Announcer.h"
#include "announce/Fade.h"
#include "night/Night.h"
#include "together/Group.h"
#include "transfer/Transfer.h"
#include "transfer/Rooms.h"
#include "sdk/KDOGuard.h"
#include "winamp/WinAmp.h"

namespace {

using kdo::text::Const;
using Script = TKDOWinampScript;
using Param = TKDOPHPParameter;

// Result type 0 of a command that answers nothing: true, whether or not a player took it.
void AlwaysTrue(Param& result) { result.BoolValue = 1; }

// A string result: a reference of the result record's own.
void SetText(Param& result, const TKDOText& text) { kdo::text::Assign(&result.StringValue, text.get()); }

using F = TKDOScriptFunction;

// What a function's debug line carries of its parameters.
enum class Carries : uint8_t { Nothing, Text, TextAndPosition, TextAndText };

struct ScriptFunction {
  F Id;  // its row: the place the interface's operations and the handler find it by
  KDOString Name;
  KDOString DebugLine;  // null when the function sends none
  Carries DebugData;
  KDOString ParamName;  // null when the function takes none
  int8_t ParamType;
  int32_t ResultType;
  // Runs the operation with the parameter values (as declared) and fills the result.
  void (*Run)(Script& s, const Param* arg, Param& result);
  KDOString SecondName = nullptr;  // the second parameter, for the few that take two
  int8_t SecondType = -1;
  KDOString ThirdName = nullptr;  // and the third, for one
  int8_t ThirdType = -1;

  int32_t ParamCount() const { return ParamName ? (SecondName ? (ThirdName ? 3 : 2) : 1) : 0; }
};

// A boolean result: whether the operation did what it was asked.
void TrueIfDone(Param& result, bool done) { result.BoolValue = done ? 1 : 0; }

constexpr Carries kNothing = Carries::Nothing, kText = Carries::Text, kTextAndPosition = Carries::TextAndPosition,
                  kTextAndText = Carries::TextAndText;
constexpr int8_t kNoParam = -1;
constexpr int32_t kBool = KDO_TYPE_BOOLEAN;
constexpr int32_t kInt = KDO_TYPE_INTEGER;
constexpr int32_t kStr = KDO_TYPE_STRING;

// The classic fifteen are IKDOWinampControl's operations 3 to 17, in order;
// the additions follow them.
constexpr auto kFunctions = std::to_array<ScriptFunction>({
    {F::AddFile, Const<"WAC_AddFile">(), Const<"ADDFILE">(), kText, Const<"Filename">(), KDO_TYPE_STRING, kBool,
     [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.AddFile(kdo::text::View(a->StringValue))); }},
    {F::ClearPlaylist, Const<"WAC_ClearPlaylist">(), Const<"CLEAR PLAYLIST">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { s.ClearPlaylist(); AlwaysTrue(r); }},
    {F::GetPlaylistLength, Const<"WAC_GetPlaylistLength">(), Const<"GET PLAYLIST LENGTH">(), kNothing, nullptr,
     kNoParam, kInt,
     [](Script& s, const Param*, Param& r) { s.GetPlaylistLength(r.IntValue); }},
    {F::GetPlaylistPosition, Const<"WAC_GetPlaylistPosition">(), Const<"GET PLAYLIST POSITION">(), kNothing, nullptr,
     kNoParam, kInt,
     [](Script& s, const Param*, Param& r) { s.GetPlaylistPosition(r.IntValue); }},
    {F::SetPlaylistPosition, Const<"WAC_SetPlaylistPosition">(), Const<"SET PLAYLIST POSITION">(), kNothing,
     Const<"Position">(), KDO_TYPE_INTEGER, kBool,
     [](Script& s, const Param* a, Param& r) { s.SetPlaylistPosition(a->IntValue); AlwaysTrue(r); }},
    {F::GetPlaylistFile, Const<"WAC_GetPlaylistFile">(), Const<"GET PLAYLIST FILE">(), kNothing, Const<"Position">(),
     KDO_TYPE_INTEGER, kStr,
     [](Script& s, const Param* a, Param& r) {
       TKDOText text;
       s.GetPlaylistFile(a->IntValue, text);
       SetText(r, text);
     }},
    {F::GetPlaylistTitle, Const<"WAC_GetPlaylistTitle">(), Const<"GET PLAYLIST TITLE">(), kNothing, Const<"Position">(),
     KDO_TYPE_INTEGER, kStr,
     [](Script& s, const Param* a, Param& r) {
       TKDOText text;
       s.GetPlaylistTitle(a->IntValue, text);
       SetText(r, text);
     }},
    {F::Play, Const<"WAC_Play">(), Const<"PLAY">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { s.Play(); AlwaysTrue(r); }},
    {F::Stop, Const<"WAC_Stop">(), Const<"STOP">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { s.Stop(); AlwaysTrue(r); }},
    {F::Pause, Const<"WAC_Pause">(), Const<"PAUSE">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { s.Pause(); AlwaysTrue(r); }},
    {F::Prev, Const<"WAC_Prev">(), Const<"PREV">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { s.Prev(); AlwaysTrue(r); }},
    {F::Next, Const<"WAC_Next">(), Const<"NEXT">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { s.Next(); AlwaysTrue(r); }},
    {F::SetVolume, Const<"WAC_SetVolume">(), nullptr, kNothing, Const<"Volume [0..255]">(), KDO_TYPE_INTEGER, kBool,
     [](Script& s, const Param* a, Param& r) { s.SetVolume(a->IntValue); AlwaysTrue(r); }},
    {F::SetShuffle, Const<"WAC_SetShuffle">(), nullptr, kNothing, Const<"Value">(), KDO_TYPE_BOOLEAN, kBool,
     [](Script& s, const Param* a, Param& r) { s.SetShuffle(a->BoolValue != 0); AlwaysTrue(r); }},
    {F::SetRepeat, Const<"WAC_SetRepeat">(), nullptr, kNothing, Const<"Value">(), KDO_TYPE_BOOLEAN, kBool,
     [](Script& s, const Param* a, Param& r) { s.SetRepeat(a->BoolValue != 0); AlwaysTrue(r); }},
    // Additions beyond the classic fifteen, registered after them.
    {F::GetPlayState, Const<"WAC_GetPlayState">(), Const<"GET PLAY STATE">(), kNothing, nullptr, kNoParam, kInt,
     [](Script& s, const Param*, Param& r) { s.GetPlayState(r.IntValue); }},
    {F::GetTrackPosition, Const<"WAC_GetTrackPosition">(), Const<"GET TRACK POSITION">(), kNothing, nullptr, kNoParam,
     kInt,
     [](Script& s, const Param*, Param& r) { s.GetTrackPosition(r.IntValue); }},
    {F::GetTrackLength, Const<"WAC_GetTrackLength">(), Const<"GET TRACK LENGTH">(), kNothing, nullptr, kNoParam, kInt,
     [](Script& s, const Param*, Param& r) { s.GetTrackLength(r.IntValue); }},
    {F::SetTrackPosition, Const<"WAC_SetTrackPosition">(), Const<"SET TRACK POSITION">(), kNothing, Const<"Seconds">(),
     KDO_TYPE_INTEGER, kBool, [](Script& s, const Param* a, Param& r) {
       bool moved = false;
       s.SetTrackPosition(a->IntValue, moved);
       r.BoolValue = moved ? 1 : 0;
     }},
    // The volume, the playlist's entries, the player's state and announcements.
    {F::GetVolume, Const<"WAC_GetVolume">(), Const<"GET VOLUME">(), kNothing, nullptr, kNoParam, kInt,
     [](Script& s, const Param*, Param& r) { r.IntValue = s.GetVolume(); }},
    {F::FadeVolume, Const<"WAC_FadeVolume">(), Const<"FADE VOLUME">(), kNothing, Const<"Volume">(), KDO_TYPE_INTEGER,
     kBool,
     [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.FadeVolume(a[0].IntValue, a[1].IntValue)); },
     Const<"Seconds">(), KDO_TYPE_INTEGER},
    {F::DeletePlaylistEntry, Const<"WAC_DeletePlaylistEntry">(), Const<"DELETE PLAYLIST ENTRY">(), kNothing,
     Const<"Position">(), KDO_TYPE_INTEGER, kBool,
     [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.DeletePlaylistEntry(a->IntValue)); }},
    {F::SaveState, Const<"WAC_SaveState">(), Const<"SAVE STATE">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { TrueIfDone(r, s.SaveState()); }},
    {F::RestoreState, Const<"WAC_RestoreState">(), Const<"RESTORE STATE">(), kNothing, nullptr, kNoParam, kBool,
     [](Script& s, const Param*, Param& r) { TrueIfDone(r, s.RestoreState()); }},
    {F::Announce, Const<"WAC_Announce">(), Const<"ANNOUNCE">(), kText, Const<"Filename">(), KDO_TYPE_STRING, kBool,
     [](Script& s, const Param* a, Param& r) {
       TrueIfDone(r, s.Announce(kdo::text::View(a[0].StringValue), a[1].IntValue));
     }, Const<"Volume">(), KDO_TYPE_INTEGER},
    {F::GetMetadata, Const<"WAC_GetMetadata">(), Const<"GET METADATA">(), kText, Const<"Field">(), KDO_TYPE_STRING,
     kStr, [](Script& s, const Param* a, Param& r) {
       TKDOText text;
       s.GetMetadata(kdo::text::View(a->StringValue), text);
       SetText(r, text);
     }},
    // Entries where the user wants them: before a position, after the current one, and at once.
    {F::InsertFile, Const<"WAC_InsertFile">(), Const<"INSERTFILE">(), kTextAndPosition, Const<"Filename">(),
     KDO_TYPE_STRING, kBool,
     [](Script& s, const Param* a, Param& r) {
       TrueIfDone(r, s.InsertFile(kdo::text::View(a[0].StringValue), a[1].IntValue));
     }, Const<"Position">(), KDO_TYPE_INTEGER},
    {F::PlayNext, Const<"WAC_PlayNext">(), Const<"PLAY NEXT">(), kText, Const<"Filename">(), KDO_TYPE_STRING, kBool,
     [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.PlayNext(kdo::text::View(a->StringValue))); }},
    {F::PlayNow, Const<"WAC_PlayNow">(), Const<"PLAY NOW">(), kText, Const<"Filename">(), KDO_TYPE_STRING, kBool,
     [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.PlayNow(kdo::text::View(a->StringValue))); }},
    // The music handed to another room; its own lines say when it starts and ends.
    {F::TransferTo, Const<"WAC_TransferTo">(), nullptr, kNothing, Const<"Target">(), KDO_TYPE_INTEGER, kBool,
     [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.TransferTo(a[0].IntValue, a[1].BoolValue != 0)); },
     Const<"KeepPlaying">(), KDO_TYPE_BOOLEAN},
    // One doorbell in several rooms at once.
    {F::AnnounceWith, Const<"WAC_AnnounceWith">(), Const<"ANNOUNCE WITH">(), kTextAndText, Const<"Rooms">(),
     KDO_TYPE_STRING, kBool,
     [](Script& s, const Param* a, Param& r) {
       TrueIfDone(r, s.AnnounceWith(kdo::text::View(a[0].StringValue), kdo::text::View(a[1].StringValue), a[2].IntValue));
     }, Const<"Filename">(), KDO_TYPE_STRING, Const<"Volume">(), KDO_TYPE_INTEGER},
    // The night: a ceiling on the volume, and the music faded out and stopped.
    {F::SetVolumeLimit, Const<"WAC_SetVolumeLimit">(), Const<"SET VOLUME LIMIT">(), kNothing, Const<"Volume">(),
     KDO_TYPE_INTEGER, kBool, [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.SetVolumeLimit(a->IntValue)); }},
    {F::SleepTimer, Const<"WAC_SleepTimer">(), Const<"SLEEP TIMER">(), kNothing, Const<"Minutes">(), KDO_TYPE_INTEGER,
     kBool, [](Script& s, const Param* a, Param& r) { TrueIfDone(r, s.SleepTimer(a[0].IntValue, a[1].IntValue)); },
     Const<"FadeSeconds">(), KDO_TYPE_INTEGER},
});
static_assert(kFunctions.size() == KDOScriptFunctionCount);
static_assert([] {
  for (std::size_t i = 0; i < kFunctions.size(); ++i)
    if (std::size_t(kFunctions[i].Id) != i) return false;
  return true;
}(), "each function in the row its name gives it");

// Who owns the player while an announcement plays: a transport or position
// command means the room has moved on, and the announcement gives the player
// back before the command acts. Every other function leaves the announcement
// be; the volume, shuffle, repeat and a saved state address the music.
constexpr F kMovesTheRoomOn[] = {F::Play,         F::Pause,         F::Stop,
                                 F::Next,         F::Prev,          F::SetPlaylistPosition,
                                 F::SetTrackPosition, F::ClearPlaylist, F::RestoreState,
                                 F::PlayNow};

// A transfer owns both rooms until a command to either takes one back: every
// function but the questions and the room's own volume ends it.
constexpr F kLeavesATransfer[] = {F::GetPlaylistLength, F::GetPlaylistPosition, F::GetPlaylistFile,
                                  F::GetPlaylistTitle, F::SetVolume, F::GetPlayState, F::GetTrackPosition,
                                  F::GetTrackLength, F::GetVolume, F::FadeVolume, F::SaveState, F::GetMetadata,
                                  F::SetVolumeLimit, F::SleepTimer,
                                  F::AnnounceWith,  // its rooms are taken back once it is known to be sound
                                  F::TransferTo};

// A sleep timer ends with the music moved on or a volume of the user's: after a transport
// command the volume its fade took away comes back, after a volume command the command's stays.
constexpr struct {
  F Function;
  bool GivesBack;
} kWakes[] = {{F::Play, true},  {F::Pause, true},     {F::Stop, true},       {F::Next, true},
              {F::Prev, true},  {F::SetVolume, false}, {F::FadeVolume, false}};

bool EndsATransfer(F function) {
  return std::find(std::begin(kLeavesATransfer), std::end(kLeavesATransfer), function) == std::end(kLeavesATransfer);
}

bool MovesTheRoomOn(F function) {
  return std::find(std::begin(kMovesTheRoomOn), std::end(kMovesTheRoomOn), function) != std::end(kMovesTheRoomOn);
}

// Scripts count playlist positions from 1, the player from 0: shifted with 32-bit wrap-around.
int32_t Shift(int32_t value, int32_t by) { return int32_t(uint32_t(value) + uint32_t(by)); }

// The code address the server calls; nothing escapes into the server.
void KDO_STDCALL ScriptHandler(void* object, KDOString name, TKDOPHPParameter* params, TKDOPHPParameter* result,
                               uint32_t) noexcept {
  const platform::Dispatch dispatch;  // one send limit for the whole call
  KDOGuard(kdo::text::Const<"the script function handler">(), [&] {
    if (object) static_cast<Script*>(object)->Handle(name, params, result);
  });
}

}  // namespace

TKDOWinampScript::TKDOWinampScript(const TKDOWinampServices& services, uint16_t instanceId, IKDOModule& instance,
                                   TWinAmpControl& link, const TKDOWinampControlSettings& settings,
                                   TKDOWinampFade& fade, TKDOWinampAnnouncer& announcer,
                                   TKDOWinampTransfer& transfer, TKDOWinampNight& night)
    : FServices(services), FInstanceID(instanceId), FInstance(instance), FLink(link), FSettings(settings),
      FFade(fade), FAnnouncer(announcer), FTransfer(transfer), FNight(night) {
  if (!FServices.EventScripter) return;
  for (const ScriptFunction& f : kFunctions) {
    const TKDONamedVarType params[] = {{f.ParamName, uint8_t(f.ParamType), {}},
                                       {f.SecondName, uint8_t(f.SecondType), {}},
                                       {f.ThirdName, uint8_t(f.ThirdType), {}}};
    FServices.EventScripter->RegisterFunction(f.Name, f.ParamName ? params : nullptr, f.ParamCount() - 1,
                                              f.ResultType, &ScriptHandler, this, FInstanceID);
  }
}

TKDOWinampScript::~TKDOWinampScript() {
  KDOGuard(kdo::text::Const<"the script functions' unregistration">(), [&] {
    if (!FServices.EventScripter) return;
    for (const ScriptFunction& f : kFunctions) FServices.EventScripter->UnregisterFunction(f.Name, FInstanceID);
  });
}

// Names compare without the case of A to Z and without trimming. A call that
// names no function, brings fewer parameter values than declared or no result
// record runs nothing and leaves the result as it was.
void TKDOWinampScript::Handle(KDOString name, const TKDOPHPParameter* params, TKDOPHPParameter* result) {
  const std::string_view called = kdo::text::View(name);
  const ScriptFunction* match = nullptr;
  for (const ScriptFunction& f : kFunctions)
    if (kdo::text::EqualIgnoringAZCase(called, kdo::text::View(f.Name))) match = &f;
  if (!match || !result) return;
  if (KDOParamCount(params) < match->ParamCount()) return;
  // The server, called back during the operation, may delete this instance: it goes when the call ends.
  const TKDORef<IKDOModule> self(&FInstance);
  std::string data(match->DebugData != kNothing ? kdo::text::View(params->StringValue) : std::string_view());
  // No file name holds a '|'.
  if (match->DebugData == kTextAndPosition) data.append(1, '|').append(std::to_string(params[1].IntValue));
  if (match->DebugData == kTextAndText) data.append(1, '|').append(kdo::text::View(params[1].StringValue));
  Enter(match->Id, data);
  match->Run(*this, params, *result);
}

// Before every call of a function, a script's or through the interface.
void TKDOWinampScript::Enter(TKDOScriptFunction function, std::string_view data) {
  const ScriptFunction& f = kFunctions[std::size_t(function)];
  if (f.DebugLine) Debug(f.DebugLine, TKDOText(f.DebugData != kNothing ? data : std::string_view()).get());
  if (EndsATransfer(function))
    kdo::rooms::TakeBack(FInstanceID, "a command to room " + std::to_string(FInstanceID));
  if (MovesTheRoomOn(function)) FAnnouncer.MoveOn();
  for (const auto& wakes : kWakes)
    if (wakes.Function == function) FNight.Wake(wakes.GivesBack);
}

void TKDOWinampScript::Debug(KDOString message, KDOString data) {
  if (FServices.DebugServer) FServices.DebugServer->SendDebug(FInstanceID, message, data);
}

// ---------------------------------------------------------------- operations

// Whether the last command reached the player, or there is none to reach: a
// variable never shows what a player that does not answer was not given.
bool TKDOWinampScript::Reached() const { return !FLink.IsBound() || FLink.IsAnswering(); }

bool TKDOWinampScript::AddFile(std::string_view fileName) { return FLink.AddFile(fileName); }

void TKDOWinampScript::ClearPlaylist() { FLink.ClearPlaylist(); }

void TKDOWinampScript::GetPlaylistLength(int32_t& length) { length = FLink.GetPlaylistLength(); }

void TKDOWinampScript::GetPlaylistPosition(int32_t& position) {
  position = Shift(FLink.GetPlaylistPosition(), 1);
}

void TKDOWinampScript::SetPlaylistPosition(int32_t position) {
  Command({TWinAmpCommand::SetPlaylistPosition, Shift(position, -1)});
}

void TKDOWinampScript::GetPlaylistFile(int32_t position, TKDOText& fileName) {
  ReadEntry(position, &TWinAmpControl::GetPlaylistFile, fileName);
}

void TKDOWinampScript::GetPlaylistTitle(int32_t position, TKDOText& title) {
  ReadEntry(position, &TWinAmpControl::GetPlaylistTitle, title);
}

// A text of the playlist entry at a script's position (from 1).
void TKDOWinampScript::ReadEntry(int32_t position, void (TWinAmpControl::*read)(int32_t, std::string&),
                                       TKDOText& text) {
  std::string value;
  (FLink.*read)(Shift(position, -1), value);
  text = TKDOText(value);
}

// A transport command while the announcer still gives the player back (what
// moving on owes took more than the call's one send limit) waits its turn:
// sent after that, so that it is not undone by it. So does one to a slow
// player while a question of ours is out: it would wait behind that, past the
// call's limit, and an event script's call, with less time left, would be
// lost. Not to a player that does not answer: that goes nowhere, as ever.
bool TKDOWinampScript::WaitsItsTurn() const {
  return (FAnnouncer.Owes() || FLink.QuestionOutstanding()) && !FLink.IsHung();
}

void TKDOWinampScript::Command(TWinAmpWord word) {
  if (WaitsItsTurn())
    FAnnouncer.After(word);
  else
    FLink.Send(word);
}

void TKDOWinampScript::Play() { Command({TWinAmpCommand::Play}); }
void TKDOWinampScript::Stop() { Command({TWinAmpCommand::Stop}); }
void TKDOWinampScript::Pause() { Command({TWinAmpCommand::Pause}); }
void TKDOWinampScript::Prev() { Command({TWinAmpCommand::Previous}); }
void TKDOWinampScript::Next() { Command({TWinAmpCommand::Next}); }
// The player takes the low 8 bits; the variable receives the value as given, or the
// ceiling it was held to. During an announcement it is also the volume the music comes back at.
void TKDOWinampScript::SetVolume(int32_t volume) {
  FFade.End();  // the script's volume is the last word
  const uint8_t byte = uint8_t(uint32_t(volume) & 0xFFu);
  const TWinAmpWord word{TWinAmpCommand::SetVolume, byte};
  // Behind a question of ours it would wait past the call's limit: it waits its turn instead.
  if (FLink.QuestionOutstanding() && !FLink.IsHung()) {
    FAnnouncer.After(word);
  } else {
    FLink.Send(word);
    if (!Reached()) return;
  }
  FAnnouncer.TakeMusicVolume(byte);
  if (FServices.VariableManager && !FSettings.VolumeVar.empty())
    FServices.VariableManager->WriteVariableInteger(FSettings.VolumeVar.get(),
                                                    byte > FLink.VolumeCeiling() ? FLink.VolumeCeiling() : volume);
}

void TKDOWinampScript::SetShuffle(bool on) {
  Switch(on, &TWinAmpControl::ShuffleOn, &TWinAmpControl::ShuffleOff, FSettings.ShuffleVar);
  if (Reached()) FAnnouncer.TakeMusicShuffle(on);
}

void TKDOWinampScript::SetRepeat(bool on) {
  Switch(on, &TWinAmpControl::RepeatOn, &TWinAmpControl::RepeatOff, FSettings.RepeatVar);
  if (Reached()) FAnnouncer.TakeMusicRepeat(on);
}

// Shuffle or repeat: the player's command for the value, then the variable, written without reading.
void TKDOWinampScript::Switch(bool on, void (TWinAmpControl::*onCommand)(),
                                    void (TWinAmpControl::*offCommand)(), const TKDOText& variable) {
  (FLink.*(on ? onCommand : offCommand))();
  if (Reached() && FServices.VariableManager && !variable.empty())
    FServices.VariableManager->WriteVariableBoolean(variable.get(), on ? 1 : 0);
}

// ---------------------------------------------------------------- additions

void TKDOWinampScript::GetPlayState(int32_t& state) { state = FLink.GetPlayState(); }

void TKDOWinampScript::GetTrackPosition(int32_t& seconds) { seconds = FLink.GetTrackPosition(); }

void TKDOWinampScript::GetTrackLength(int32_t& seconds) { seconds = FLink.GetTrackLength(); }

// Before the start means the start; milliseconds beyond a signed 32-bit value
// are held at its largest rather than wrapped into a time near the start.
void TKDOWinampScript::SetTrackPosition(int32_t seconds, bool& moved) {
  const int64_t ms = std::clamp<int64_t>(int64_t(seconds) * 1000, 0, INT32_MAX);
  if (WaitsItsTurn()) {  // not moved yet
    FAnnouncer.After({TWinAmpCommand::JumpToTime, int32_t(ms)});
    moved = false;
    return;
  }
  moved = FLink.JumpToTime(int32_t(ms)) == 0;
}

// ---------------------------------------------------------------- the volume, entries, the state, announcements

int32_t TKDOWinampScript::GetVolume() { return FLink.AnsweredVolume(); }

bool TKDOWinampScript::FadeVolume(int32_t volume, int32_t seconds) { return FFade.Start(volume, seconds); }

bool TKDOWinampScript::AnnounceWith(std::string_view rooms, std::string_view fileName, int32_t volume) {
  return kdo::together::Announce(FInstanceID, rooms, fileName, volume, [this](std::string_view line) {
    Debug(kdo::text::Const<"ANNOUNCE WITH">(), TKDOText(line).get());
  });
}

bool TKDOWinampScript::SetVolumeLimit(int32_t volume) {
  FNight.SetCeiling(volume);
  return true;
}

bool TKDOWinampScript::SleepTimer(int32_t minutes, int32_t fadeSeconds) { return FNight.Sleep(minutes, fadeSeconds); }

bool TKDOWinampScript::DeletePlaylistEntry(int32_t position) {
  const int32_t index = Shift(position, -1);
  if (!FLink.DeletePlaylistEntry(index)) return false;
  FAnnouncer.EntryRemoved(index);
  return true;
}

bool TKDOWinampScript::SaveState() { return FAnnouncer.SaveState(); }

bool TKDOWinampScript::RestoreState() {
  FFade.End();
  return FAnnouncer.RestoreState();
}

bool TKDOWinampScript::Announce(std::string_view fileName, int32_t volume) {
  return FAnnouncer.Announce(fileName, volume);
}

// The current entry's file, then its field: nothing goes to the player for a name that is not a field's.
void TKDOWinampScript::GetMetadata(std::string_view field, TKDOText& value) {
  std::string text;
  if (TWinAmpControl::IsMetadataField(field)) {
    std::string file;
    FLink.GetCurrentFile(file);
    if (!file.empty()) FLink.GetFileMetadata(file, field, text);
  }
  value = TKDOText(text);
}

bool TKDOWinampScript::TransferTo(int32_t target, bool keepPlaying) { return FTransfer.Start(target, keepPlaying); }

// ---------------------------------------------------------------- insertions
//
// The functions that put an entry where the user wants it: before a
// position, right after the current entry, or there and played at once.
// Each goes through the player's playlist window, which keeps the current
// entry current, and tells the announcer, whose entries may have moved.

// Positions below 1 are refused before anything is sent: 64-bit, so INT_MIN does not wrap round into range.
bool TKDOWinampScript::InsertFile(std::string_view fileName, int32_t position) {
  const int64_t index = int64_t(position) - 1;
  if (index < 0 || index > INT32_MAX) return false;
  if (InsertsLater(fileName, int32_t(index), false)) return true;
  if (!FLink.InsertFile(fileName, int32_t(index))) return false;
  FAnnouncer.EntryInserted(int32_t(index));
  return true;
}

bool TKDOWinampScript::PlayNext(std::string_view fileName) {
  return InsertsLater(fileName, -1, false) || InsertAfterCurrent(fileName).has_value();
}

// Several sends, more than a slow player answers within the call's one send limit, or one behind a
// question of ours: in its turn. Later commands then wait behind it, as they do behind commands.
bool TKDOWinampScript::InsertsLater(std::string_view fileName, int32_t index, bool plays) {
  if (!TWinAmpControl::IsInsertable(fileName) || !FLink.HasAnsweringPlayer()) return false;
  if (!FLink.IsSlow() && !FLink.QuestionOutstanding() && !FAnnouncer.Waits()) return false;
  FAnnouncer.InsertAfter(fileName, index, plays);
  return true;
}

// A transport command: an announcement has given the player back before this runs.
bool TKDOWinampScript::PlayNow(std::string_view fileName) {
  if (InsertsLater(fileName, -1, true)) return true;
  const std::optional<int32_t> index = InsertAfterCurrent(fileName);
  if (!index) return false;
  FLink.SetPlaylistPosition(*index);
  FLink.Play();
  return FLink.IsAnswering();
}

// Right after the current entry, or during an announcement after the entry
// the music comes back to, so that it follows the music rather than the
// announcement; first in an empty playlist, and last when the entry lies past the
// end. Where it went, or nothing when it was not inserted.
std::optional<int32_t> TKDOWinampScript::InsertAfterCurrent(std::string_view fileName) {
  if (!TWinAmpControl::IsInsertable(fileName) || !FLink.HasAnsweringPlayer()) return std::nullopt;
  const std::optional<int32_t> music = FAnnouncer.MusicEntry();
  const int32_t current = music ? *music : FLink.GetPlaylistPosition();
  const int32_t length = FLink.GetPlaylistLength();
  if (!FLink.IsAnswering() || length < 0) return std::nullopt;
  const int32_t index = int32_t(std::clamp<int64_t>(int64_t(current) + 1, 0, length));
  if (!FLink.InsertEntryVia(FLink.GetPlaylistWindow(), fileName, index)) return std::nullopt;
  FAnnouncer.EntryInserted(index);
  return index;
}
