// The WAC_ script functions: their registrations, the handler the server
// calls, and the player operations behind them. The classic fifteen come
// first and stay as they are; four additions follow them.
#include <algorithm>
#include <array>

#include "instance/Device.WinampControl_Interface.h"
#include "winamp/WinAmp.h"

namespace {

using kdo::text::Constant;

constexpr Constant kParamFilename("Filename");
constexpr Constant kParamPosition("Position");
constexpr Constant kParamVolume("Volume [0..255]");
constexpr Constant kParamValue("Value");
constexpr Constant kParamSeconds("Seconds");

// Function names.
constexpr Constant kAddFile("WAC_AddFile");
constexpr Constant kClearPlaylist("WAC_ClearPlaylist");
constexpr Constant kGetPlaylistLength("WAC_GetPlaylistLength");
constexpr Constant kGetPlaylistPosition("WAC_GetPlaylistPosition");
constexpr Constant kSetPlaylistPosition("WAC_SetPlaylistPosition");
constexpr Constant kGetPlaylistFile("WAC_GetPlaylistFile");
constexpr Constant kGetPlaylistTitle("WAC_GetPlaylistTitle");
constexpr Constant kPlay("WAC_Play");
constexpr Constant kStop("WAC_Stop");
constexpr Constant kPause("WAC_Pause");
constexpr Constant kPrev("WAC_Prev");
constexpr Constant kNext("WAC_Next");
constexpr Constant kSetVolume("WAC_SetVolume");
constexpr Constant kSetShuffle("WAC_SetShuffle");
constexpr Constant kSetRepeat("WAC_SetRepeat");
constexpr Constant kGetPlayState("WAC_GetPlayState");
constexpr Constant kGetTrackPosition("WAC_GetTrackPosition");
constexpr Constant kGetTrackLength("WAC_GetTrackLength");
constexpr Constant kSetTrackPosition("WAC_SetTrackPosition");

// Debug lines.
constexpr Constant kDebugAddFile("ADDFILE");
constexpr Constant kDebugClearPlaylist("CLEAR PLAYLIST");
constexpr Constant kDebugGetPlaylistLength("GET PLAYLIST LENGTH");
constexpr Constant kDebugGetPlaylistPosition("GET PLAYLIST POSITION");
constexpr Constant kDebugSetPlaylistPosition("SET PLAYLIST POSITION");
constexpr Constant kDebugGetPlaylistFile("GET PLAYLIST FILE");
constexpr Constant kDebugGetPlaylistTitle("GET PLAYLIST TITLE");
constexpr Constant kDebugPlay("PLAY");
constexpr Constant kDebugStop("STOP");
constexpr Constant kDebugPause("PAUSE");
constexpr Constant kDebugPrev("PREV");
constexpr Constant kDebugNext("NEXT");
constexpr Constant kDebugGetPlayState("GET PLAY STATE");
constexpr Constant kDebugGetTrackPosition("GET TRACK POSITION");
constexpr Constant kDebugGetTrackLength("GET TRACK LENGTH");
constexpr Constant kDebugSetTrackPosition("SET TRACK POSITION");

constexpr int8_t kNoParam = -1;

using Control = TKDOWinampControl;
using Param = TKDOPHPParameter;

// Result type 0: true when the operation succeeded.
void SetDone(Param& result, KDOResult r) { result.BoolValue = KDOSucceeded(r) ? 1 : 0; }

struct ScriptFunction {
  KDOString Name;
  KDOString ParamName;  // null when the function takes none
  int8_t ParamType;
  int32_t ResultType;
  // Runs the operation with the first parameter value (when declared) and fills the result.
  void (*Run)(Control& c, const Param* arg, Param& result);
};

// Scripts count playlist positions from 1, the player from 0: shifted with 32-bit wrap-around.
int32_t Shift(int32_t value, int32_t by) { return int32_t(uint32_t(value) + uint32_t(by)); }

const std::array<ScriptFunction, 19> kFunctions = {{
    {kAddFile.get(), kParamFilename.get(), KDO_TYPE_STRING, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param* a, Param& r) { SetDone(r, c.AddFile(kdo::text::View(a->StringValue))); }},
    {kClearPlaylist.get(), nullptr, kNoParam, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param*, Param& r) { SetDone(r, c.ClearPlaylist()); }},
    {kGetPlaylistLength.get(), nullptr, kNoParam, KDO_TYPE_INTEGER,
     [](Control& c, const Param*, Param& r) { c.GetPlaylistLength(r.IntValue); }},
    {kGetPlaylistPosition.get(), nullptr, kNoParam, KDO_TYPE_INTEGER,
     [](Control& c, const Param*, Param& r) { c.GetPlaylistPosition(r.IntValue); }},
    {kSetPlaylistPosition.get(), kParamPosition.get(), KDO_TYPE_INTEGER, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param* a, Param& r) { SetDone(r, c.SetPlaylistPosition(a->IntValue)); }},
    {kGetPlaylistFile.get(), kParamPosition.get(), KDO_TYPE_INTEGER, KDO_TYPE_STRING,
     [](Control& c, const Param* a, Param& r) {
       TKDOText text;
       c.GetPlaylistFile(a->IntValue, text);
       kdo::text::Assign(&r.StringValue, text.get());
     }},
    {kGetPlaylistTitle.get(), kParamPosition.get(), KDO_TYPE_INTEGER, KDO_TYPE_STRING,
     [](Control& c, const Param* a, Param& r) {
       TKDOText text;
       c.GetPlaylistTitle(a->IntValue, text);
       kdo::text::Assign(&r.StringValue, text.get());
     }},
    {kPlay.get(), nullptr, kNoParam, KDO_TYPE_BOOLEAN, [](Control& c, const Param*, Param& r) { SetDone(r, c.Play()); }},
    {kStop.get(), nullptr, kNoParam, KDO_TYPE_BOOLEAN, [](Control& c, const Param*, Param& r) { SetDone(r, c.Stop()); }},
    {kPause.get(), nullptr, kNoParam, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param*, Param& r) { SetDone(r, c.Pause()); }},
    {kPrev.get(), nullptr, kNoParam, KDO_TYPE_BOOLEAN, [](Control& c, const Param*, Param& r) { SetDone(r, c.Prev()); }},
    {kNext.get(), nullptr, kNoParam, KDO_TYPE_BOOLEAN, [](Control& c, const Param*, Param& r) { SetDone(r, c.Next()); }},
    {kSetVolume.get(), kParamVolume.get(), KDO_TYPE_INTEGER, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param* a, Param& r) { SetDone(r, c.SetVolume(a->IntValue)); }},
    {kSetShuffle.get(), kParamValue.get(), KDO_TYPE_BOOLEAN, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param* a, Param& r) { SetDone(r, c.SetShuffle(a->BoolValue != 0)); }},
    {kSetRepeat.get(), kParamValue.get(), KDO_TYPE_BOOLEAN, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param* a, Param& r) { SetDone(r, c.SetRepeat(a->BoolValue != 0)); }},
    // Additions beyond the classic fifteen, registered after them.
    {kGetPlayState.get(), nullptr, kNoParam, KDO_TYPE_INTEGER,
     [](Control& c, const Param*, Param& r) { c.GetPlayState(r.IntValue); }},
    {kGetTrackPosition.get(), nullptr, kNoParam, KDO_TYPE_INTEGER,
     [](Control& c, const Param*, Param& r) { c.GetTrackPosition(r.IntValue); }},
    {kGetTrackLength.get(), nullptr, kNoParam, KDO_TYPE_INTEGER,
     [](Control& c, const Param*, Param& r) { c.GetTrackLength(r.IntValue); }},
    {kSetTrackPosition.get(), kParamSeconds.get(), KDO_TYPE_INTEGER, KDO_TYPE_BOOLEAN,
     [](Control& c, const Param* a, Param& r) {
       bool moved = false;
       c.SetTrackPosition(a->IntValue, moved);
       r.BoolValue = moved ? 1 : 0;
     }},
}};

// The code address the server calls; nothing escapes into the server.
void KDO_STDCALL ScriptHandler(void* object, KDOString name, TKDOPHPParameter* params, TKDOPHPParameter* result,
                               uint32_t) noexcept {
  try {
    if (object) static_cast<Control*>(object)->HandlePHPFunction(name, params, result);
  } catch (...) {
  }
}

}  // namespace

void TKDOWinampControl::RegisterFunctions() {
  if (!FEventScripter) return;
  for (const ScriptFunction& f : kFunctions) {
    const TKDONamedVarType param{f.ParamName, uint8_t(f.ParamType), {}};
    FEventScripter->RegisterFunction(f.Name, f.ParamName ? &param : nullptr, f.ParamName ? 0 : -1, f.ResultType,
                                     &ScriptHandler, this, FInstanceID);
  }
}

void TKDOWinampControl::UnregisterFunctions() {
  if (!FEventScripter) return;
  for (const ScriptFunction& f : kFunctions) FEventScripter->UnregisterFunction(f.Name, FInstanceID);
}

// Names compare without the case of A to Z and without trimming. A call that
// names no function, brings fewer parameter values than declared or no result
// record runs nothing and leaves the result as it was.
void TKDOWinampControl::HandlePHPFunction(KDOString name, const TKDOPHPParameter* params, TKDOPHPParameter* result) {
  const std::string_view called = kdo::text::View(name);
  const ScriptFunction* match = nullptr;
  for (const ScriptFunction& f : kFunctions)
    if (kdo::text::EqualIgnoringAZCase(called, kdo::text::View(f.Name))) match = &f;
  if (!match || !result) return;
  if (match->ParamName && KDOParamCount(params) < 1) return;
  // The server, called back during the operation, may delete this instance: it goes when the call ends.
  const TKDORef<IKDOModule> self(ModuleInterface());
  match->Run(*this, params, *result);
}

// ---------------------------------------------------------------- operations

// A command without an answer: its debug line first, then the player.
KDOResult TKDOWinampControl::Command(KDOString debugLine, void (TWinAmpControl::*command)()) {
  Debug(debugLine);
  (FPlayerLink.get()->*command)();
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::AddFile(std::string_view fileName) {
  const TKDOText data(fileName);
  Debug(kDebugAddFile.get(), data.get());
  FPlayerLink->AddFile(fileName);
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::ClearPlaylist() { return Command(kDebugClearPlaylist.get(), &TWinAmpControl::ClearPlaylist); }

// A query whose answer goes to the script unchanged: its debug line first, then the player.
KDOResult TKDOWinampControl::Query(KDOString debugLine, int32_t (TWinAmpControl::*query)(), int32_t& answer) {
  Debug(debugLine);
  answer = (FPlayerLink.get()->*query)();
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::GetPlaylistLength(int32_t& length) {
  return Query(kDebugGetPlaylistLength.get(), &TWinAmpControl::GetPlaylistLength, length);
}

KDOResult TKDOWinampControl::GetPlaylistPosition(int32_t& position) {
  Debug(kDebugGetPlaylistPosition.get());
  position = Shift(FPlayerLink->GetPlaylistPosition(), 1);
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::SetPlaylistPosition(int32_t position) {
  Debug(kDebugSetPlaylistPosition.get());
  FPlayerLink->SetPlaylistPosition(Shift(position, -1));
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::GetPlaylistFile(int32_t position, TKDOText& fileName) {
  return ReadEntry(kDebugGetPlaylistFile.get(), position, &TWinAmpControl::GetPlaylistFile, fileName);
}

KDOResult TKDOWinampControl::GetPlaylistTitle(int32_t position, TKDOText& title) {
  return ReadEntry(kDebugGetPlaylistTitle.get(), position, &TWinAmpControl::GetPlaylistTitle, title);
}

// A text of the playlist entry at a script's position (from 1).
KDOResult TKDOWinampControl::ReadEntry(KDOString debugLine, int32_t position,
                                       void (TWinAmpControl::*read)(int32_t, std::string&), TKDOText& text) {
  Debug(debugLine);
  std::string value;
  (FPlayerLink.get()->*read)(Shift(position, -1), value);
  text = TKDOText(value);
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::Play() { return Command(kDebugPlay.get(), &TWinAmpControl::Play); }
KDOResult TKDOWinampControl::Stop() { return Command(kDebugStop.get(), &TWinAmpControl::Stop); }
KDOResult TKDOWinampControl::Pause() { return Command(kDebugPause.get(), &TWinAmpControl::Pause); }
KDOResult TKDOWinampControl::Prev() { return Command(kDebugPrev.get(), &TWinAmpControl::PreviousTrack); }
KDOResult TKDOWinampControl::Next() { return Command(kDebugNext.get(), &TWinAmpControl::NextTrack); }
// The player takes the low 8 bits; the variable receives the value as given.
KDOResult TKDOWinampControl::SetVolume(int32_t volume) {
  FPlayerLink->SetVolume(uint8_t(uint32_t(volume) & 0xFFu));
  if (FVariableManager && !FSettings.VolumeVar.empty())
    FVariableManager->WriteVariableInteger(FSettings.VolumeVar.get(), volume);
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::SetShuffle(bool on) {
  return Switch(on, &TWinAmpControl::ShuffleOn, &TWinAmpControl::ShuffleOff, FSettings.ShuffleVar);
}

KDOResult TKDOWinampControl::SetRepeat(bool on) {
  return Switch(on, &TWinAmpControl::RepeatOn, &TWinAmpControl::RepeatOff, FSettings.RepeatVar);
}

// Shuffle or repeat: the player's command for the value, then the variable, written without reading.
KDOResult TKDOWinampControl::Switch(bool on, void (TWinAmpControl::*onCommand)(),
                                    void (TWinAmpControl::*offCommand)(), const TKDOText& variable) {
  (FPlayerLink.get()->*(on ? onCommand : offCommand))();
  if (FVariableManager && !variable.empty()) FVariableManager->WriteVariableBoolean(variable.get(), on ? 1 : 0);
  return KDO_S_OK;
}

// ---------------------------------------------------------------- additions

KDOResult TKDOWinampControl::GetPlayState(int32_t& state) {
  return Query(kDebugGetPlayState.get(), &TWinAmpControl::GetPlayState, state);
}

KDOResult TKDOWinampControl::GetTrackPosition(int32_t& seconds) {
  return Query(kDebugGetTrackPosition.get(), &TWinAmpControl::GetTrackPosition, seconds);
}

KDOResult TKDOWinampControl::GetTrackLength(int32_t& seconds) {
  return Query(kDebugGetTrackLength.get(), &TWinAmpControl::GetTrackLength, seconds);
}

// Before the start means the start; milliseconds beyond a signed 32-bit value
// are held at its largest rather than wrapped into a time near the start.
KDOResult TKDOWinampControl::SetTrackPosition(int32_t seconds, bool& moved) {
  Debug(kDebugSetTrackPosition.get());
  const int64_t ms = std::clamp<int64_t>(int64_t(seconds) * 1000, 0, INT32_MAX);
  moved = FPlayerLink->JumpToTime(int32_t(ms)) == 0;
  return KDO_S_OK;
}
