#include "instance/Device.WinampControl_Table.h"

#include "instance/Device.WinampControl_Interface.h"
#include "sdk/KDOGuard.h"

using Table = TKDOWinampControlTable;

KDOResult KDO_STDCALL Table::QueryInterface(const TGUID& iid, void** obj) {
  return FOwner.ControlQueryInterface(iid, obj);
}

KDOResult KDO_STDCALL Table::GetSettings(TKDOWinampControlSettings* settings) {
  return KDOGuard([&] { return settings ? FOwner.GetSettings(*settings) : KDO_S_OK; });
}

// The caller's texts are borrowed: the instance takes references of its own.
KDOResult KDO_STDCALL Table::SetSettings(TKDOWinampControlSettingsValue settings) {
  return KDOGuard([&] {
    TKDOWinampControlSettings own;
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
      if (row.Record) own.*row.Record = TKDOText::Share(settings.*row.Value);
    return FOwner.SetSettings(own);
  });
}

namespace {

using F = TKDOScriptFunction;

// An operation of IKDOWinampControl runs the script function of its name with
// `arg` as its parameter value, and gives its result record.
TKDOPHPParameter Run(TKDOWinampControl& c, F function, TKDOPHPParameter arg = {}) {
  TKDOPHPParameter result{};
  c.RunFunction(function, &arg, result);
  return result;
}

// The parameter value of each type.
TKDOPHPParameter TextArg(KDOString value) {
  TKDOPHPParameter arg{};
  arg.StringValue = value;  // borrowed for the call
  return arg;
}
TKDOPHPParameter IntArg(int32_t value) {
  TKDOPHPParameter arg{};
  arg.IntValue = value;
  return arg;
}
TKDOPHPParameter BoolArg(uint8_t value) {
  TKDOPHPParameter arg{};
  arg.BoolValue = value != 0 ? 1 : 0;
  return arg;
}

// A text result handed on: the caller's out-text takes its own reference.
KDOResult TakeText(TKDOPHPParameter result, KDOString* out) {
  if (out) kdo::text::Assign(out, result.StringValue);
  kdo::text::Release(result.StringValue);
  return KDO_S_OK;
}

// An operation without output, guarded; it always answers 0.
KDOResult Do(TKDOWinampControl& c, F function, TKDOPHPParameter arg = {}) {
  return KDOGuard([&] { return Run(c, function, arg), KDO_S_OK; });
}

// An operation whose integer output goes to the caller's out-parameter.
KDOResult Count(TKDOWinampControl& c, F function, int32_t* out) {
  return KDOGuard([&] {
    const int32_t n = Run(c, function).IntValue;
    if (out) *out = n;
    return KDO_S_OK;
  });
}

}  // namespace

KDOResult KDO_STDCALL Table::AddFile(KDOString fileName) { return Do(FOwner, F::AddFile, TextArg(fileName)); }
KDOResult KDO_STDCALL Table::ClearPlaylist() { return Do(FOwner, F::ClearPlaylist); }
KDOResult KDO_STDCALL Table::GetPlaylistLength(int32_t* length) {
  return Count(FOwner, F::GetPlaylistLength, length);
}
KDOResult KDO_STDCALL Table::GetPlaylistPosition(int32_t* position) {
  return Count(FOwner, F::GetPlaylistPosition, position);
}
KDOResult KDO_STDCALL Table::SetPlaylistPosition(int32_t position) {
  return Do(FOwner, F::SetPlaylistPosition, IntArg(position));
}
KDOResult KDO_STDCALL Table::GetPlaylistFile(int32_t position, KDOString* fileName) {
  return KDOGuard([&] { return TakeText(Run(FOwner, F::GetPlaylistFile, IntArg(position)), fileName); });
}
KDOResult KDO_STDCALL Table::GetPlaylistTitle(int32_t position, KDOString* title) {
  return KDOGuard([&] { return TakeText(Run(FOwner, F::GetPlaylistTitle, IntArg(position)), title); });
}
KDOResult KDO_STDCALL Table::Play() { return Do(FOwner, F::Play); }
KDOResult KDO_STDCALL Table::Stop() { return Do(FOwner, F::Stop); }
KDOResult KDO_STDCALL Table::Pause() { return Do(FOwner, F::Pause); }
KDOResult KDO_STDCALL Table::Prev() { return Do(FOwner, F::Prev); }
KDOResult KDO_STDCALL Table::Next() { return Do(FOwner, F::Next); }
KDOResult KDO_STDCALL Table::SetVolume(int32_t volume) { return Do(FOwner, F::SetVolume, IntArg(volume)); }
KDOResult KDO_STDCALL Table::SetShuffle(uint8_t on) { return Do(FOwner, F::SetShuffle, BoolArg(on)); }
KDOResult KDO_STDCALL Table::SetRepeat(uint8_t on) { return Do(FOwner, F::SetRepeat, BoolArg(on)); }
