#include "instance/ControlTable.h"

#include <string_view>
#include <type_traits>

#include "instance/Script.h"
#include "instance/Settings.h"
#include "platform/Platform.h"
#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"

using Table = TKDOWinampControlTable;
using F = TKDOScriptFunction;
using kdo::text::Const;

namespace {

// An operation runs as a script's call of its function does: the function's
// debug line (carrying `data` where the line has any) and the rule of who owns
// the player come first. Guarded; it answers 0, or E_FAIL where the operation
// says it refused. All its sends share one send limit.
template <class Operation>
KDOResult Run(KDOString entry, TKDOWinampScript& script, F function, Operation&& operation,
              std::string_view data = {}) {
  const platform::Dispatch dispatch;  // one send limit for the whole operation
  return KDOGuard(entry, [&] {
    script.Enter(function, data);
    if constexpr (std::is_same_v<decltype(operation()), bool>) {
      return operation() ? KDO_S_OK : KDO_E_FAIL;
    } else {
      operation();
      return KDO_S_OK;
    }
  });
}

// A text answer handed on: the caller's out-text takes its own reference.
void Hand(const TKDOText& text, KDOString* out) {
  if (out) kdo::text::Assign(out, text.get());
}

}  // namespace

KDOResult KDO_STDCALL Table::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return KDO_E_NOINTERFACE;
  if (iid == IID_IKDOModule || (FModuleInfo && iid == FModuleInfo->ModuleID)) {
    if (KDOSucceeded(FOwner.QueryInterface(iid, obj))) return KDO_S_OK;
    *obj = nullptr;
    return KDO_E_FAIL;
  }
  *obj = nullptr;
  return KDO_E_NOINTERFACE;
}

// ---------------------------------------------------------------- settings

KDOResult KDO_STDCALL Table::GetSettings(TKDOWinampControlSettings* settings) {
  return KDOGuard(Const<"IKDOWinampControl.GetSettings">(), [&] {
    if (settings) FSettings.CopyRecord(*settings);
    return KDO_S_OK;
  });
}

// The caller's texts are borrowed: the instance takes references of its own.
KDOResult KDO_STDCALL Table::SetSettings(TKDOWinampControlSettingsValue settings) {
  return KDOGuard(Const<"IKDOWinampControl.SetSettings">(), [&] {
    TKDOWinampControlSettings own;
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
      if (row.Record) own.*row.Record = TKDOText::Share(settings.*row.Value);
    FSettings.TakeRecord(own);
    return KDO_S_OK;
  });
}

void Table::GetExtraSettings(TKDOWinampInstanceSettings& settings) { FSettings.CopyExtra(settings); }
void Table::SetExtraSettings(const TKDOWinampInstanceSettings& settings) { FSettings.TakeExtra(settings); }

// ---------------------------------------------------------------- the classic functions

KDOResult KDO_STDCALL Table::AddFile(KDOString fileName) {
  const std::string_view name = kdo::text::View(fileName);
  return Run(Const<"IKDOWinampControl.AddFile">(), FScript, F::AddFile, [&] { return FScript.AddFile(name); }, name);
}
KDOResult KDO_STDCALL Table::ClearPlaylist() {
  return Run(Const<"IKDOWinampControl.ClearPlaylist">(), FScript, F::ClearPlaylist, [&] { FScript.ClearPlaylist(); });
}
KDOResult KDO_STDCALL Table::GetPlaylistLength(int32_t* length) {
  return Run(Const<"IKDOWinampControl.GetPlaylistLength">(), FScript, F::GetPlaylistLength, [&] {
    int32_t n = 0;
    FScript.GetPlaylistLength(n);
    if (length) *length = n;
  });
}
KDOResult KDO_STDCALL Table::GetPlaylistPosition(int32_t* position) {
  return Run(Const<"IKDOWinampControl.GetPlaylistPosition">(), FScript, F::GetPlaylistPosition, [&] {
    int32_t n = 0;
    FScript.GetPlaylistPosition(n);
    if (position) *position = n;
  });
}
KDOResult KDO_STDCALL Table::SetPlaylistPosition(int32_t position) {
  return Run(Const<"IKDOWinampControl.SetPlaylistPosition">(), FScript, F::SetPlaylistPosition,
             [&] { FScript.SetPlaylistPosition(position); });
}
KDOResult KDO_STDCALL Table::GetPlaylistFile(int32_t position, KDOString* fileName) {
  return Run(Const<"IKDOWinampControl.GetPlaylistFile">(), FScript, F::GetPlaylistFile, [&] {
    TKDOText text;
    FScript.GetPlaylistFile(position, text);
    Hand(text, fileName);
  });
}
KDOResult KDO_STDCALL Table::GetPlaylistTitle(int32_t position, KDOString* title) {
  return Run(Const<"IKDOWinampControl.GetPlaylistTitle">(), FScript, F::GetPlaylistTitle, [&] {
    TKDOText text;
    FScript.GetPlaylistTitle(position, text);
    Hand(text, title);
  });
}
KDOResult KDO_STDCALL Table::Play() {
  return Run(Const<"IKDOWinampControl.Play">(), FScript, F::Play, [&] { FScript.Play(); });
}
KDOResult KDO_STDCALL Table::Stop() {
  return Run(Const<"IKDOWinampControl.Stop">(), FScript, F::Stop, [&] { FScript.Stop(); });
}
KDOResult KDO_STDCALL Table::Pause() {
  return Run(Const<"IKDOWinampControl.Pause">(), FScript, F::Pause, [&] { FScript.Pause(); });
}
KDOResult KDO_STDCALL Table::Prev() {
  return Run(Const<"IKDOWinampControl.Prev">(), FScript, F::Prev, [&] { FScript.Prev(); });
}
KDOResult KDO_STDCALL Table::Next() {
  return Run(Const<"IKDOWinampControl.Next">(), FScript, F::Next, [&] { FScript.Next(); });
}
KDOResult KDO_STDCALL Table::SetVolume(int32_t volume) {
  return Run(Const<"IKDOWinampControl.SetVolume">(), FScript, F::SetVolume, [&] { FScript.SetVolume(volume); });
}
KDOResult KDO_STDCALL Table::SetShuffle(uint8_t on) {
  return Run(Const<"IKDOWinampControl.SetShuffle">(), FScript, F::SetShuffle, [&] { FScript.SetShuffle(on != 0); });
}
KDOResult KDO_STDCALL Table::SetRepeat(uint8_t on) {
  return Run(Const<"IKDOWinampControl.SetRepeat">(), FScript, F::SetRepeat, [&] { FScript.SetRepeat(on != 0); });
}
