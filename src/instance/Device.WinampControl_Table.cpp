#include "instance/Device.WinampControl_Table.h"

#include "instance/Device.WinampControl_Interface.h"
#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"

using Table = TKDOWinampControlTable;

KDOResult KDO_STDCALL Table::QueryInterface(const TGUID& iid, void** obj) {
  return FOwner.ControlQueryInterface(iid, obj);
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
KDOResult Do(KDOString entry, TKDOWinampControl& c, F function, TKDOPHPParameter arg = {}) {
  return KDOGuard(entry, [&] { return Run(c, function, arg), KDO_S_OK; });
}

// An operation whose integer output goes to the caller's out-parameter.
KDOResult Count(KDOString entry, TKDOWinampControl& c, F function, int32_t* out) {
  return KDOGuard(entry, [&] {
    const int32_t n = Run(c, function).IntValue;
    if (out) *out = n;
    return KDO_S_OK;
  });
}

}  // namespace

KDOResult KDO_STDCALL Table::AddFile(KDOString fileName) {
  return Do(kdo::text::Const<"IKDOWinampControl.AddFile">(), FOwner, F::AddFile, TextArg(fileName));
}
KDOResult KDO_STDCALL Table::ClearPlaylist() {
  return Do(kdo::text::Const<"IKDOWinampControl.ClearPlaylist">(), FOwner, F::ClearPlaylist);
}
KDOResult KDO_STDCALL Table::GetPlaylistLength(int32_t* length) {
  return Count(kdo::text::Const<"IKDOWinampControl.GetPlaylistLength">(), FOwner, F::GetPlaylistLength, length);
}
KDOResult KDO_STDCALL Table::GetPlaylistPosition(int32_t* position) {
  return Count(kdo::text::Const<"IKDOWinampControl.GetPlaylistPosition">(), FOwner, F::GetPlaylistPosition, position);
}
KDOResult KDO_STDCALL Table::SetPlaylistPosition(int32_t position) {
  return Do(kdo::text::Const<"IKDOWinampControl.SetPlaylistPosition">(),
            FOwner, F::SetPlaylistPosition, IntArg(position));
}
KDOResult KDO_STDCALL Table::GetPlaylistFile(int32_t position, KDOString* fileName) {
  return KDOGuard(kdo::text::Const<"IKDOWinampControl.GetPlaylistFile">(),
                  [&] { return TakeText(Run(FOwner, F::GetPlaylistFile, IntArg(position)), fileName); });
}
KDOResult KDO_STDCALL Table::GetPlaylistTitle(int32_t position, KDOString* title) {
  return KDOGuard(kdo::text::Const<"IKDOWinampControl.GetPlaylistTitle">(),
                  [&] { return TakeText(Run(FOwner, F::GetPlaylistTitle, IntArg(position)), title); });
}
KDOResult KDO_STDCALL Table::Play() { return Do(kdo::text::Const<"IKDOWinampControl.Play">(), FOwner, F::Play); }
KDOResult KDO_STDCALL Table::Stop() { return Do(kdo::text::Const<"IKDOWinampControl.Stop">(), FOwner, F::Stop); }
KDOResult KDO_STDCALL Table::Pause() { return Do(kdo::text::Const<"IKDOWinampControl.Pause">(), FOwner, F::Pause); }
KDOResult KDO_STDCALL Table::Prev() { return Do(kdo::text::Const<"IKDOWinampControl.Prev">(), FOwner, F::Prev); }
KDOResult KDO_STDCALL Table::Next() { return Do(kdo::text::Const<"IKDOWinampControl.Next">(), FOwner, F::Next); }
KDOResult KDO_STDCALL Table::SetVolume(int32_t volume) {
  return Do(kdo::text::Const<"IKDOWinampControl.SetVolume">(), FOwner, F::SetVolume, IntArg(volume));
}
KDOResult KDO_STDCALL Table::SetShuffle(uint8_t on) {
  return Do(kdo::text::Const<"IKDOWinampControl.SetShuffle">(), FOwner, F::SetShuffle, BoolArg(on));
}
KDOResult KDO_STDCALL Table::SetRepeat(uint8_t on) {
  return Do(kdo::text::Const<"IKDOWinampControl.SetRepeat">(), FOwner, F::SetRepeat, BoolArg(on));
}

