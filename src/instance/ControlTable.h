// TKDOWinampControlTable: the IKDOWinampControl table of a control instance,
// the binary face the server, other modules and the instance's own page call
// through. All of its entries are here.
//
// It lives inside its instance, made after the parts it calls and gone before
// them (nothing calls through it once the last reference is gone), and holds
// no state of its own. Entries 1 to 10 are IKDOModule's (TKDOModuleTable);
// operations 1 and 2 hand the settings record over, 3 to 17 do what a script's
// call of the classic function of the same place does, debug line included.
// Every entry returns 0 unless an exception ended it (then E_OUTOFMEMORY when
// memory ran out, else E_FAIL); none lets one through.
#pragma once

#include "control/Device.WinampControl_Types.h"
#include "sdk/KDOObjects.h"

class TKDOWinampSettings;
class TKDOWinampScript;

class TKDOWinampControlTable final : public TKDOModuleTable<IKDOWinampControl, TKDOModuleObject>,
                                     public IKDOWinampExtraSettings {
 public:
  // `moduleInfo` names the module's own identifier, which QueryInterface answers.
  TKDOWinampControlTable(TKDOModuleObject& owner, const TKDOModuleInfo* moduleInfo, TKDOWinampSettings& settings,
                         TKDOWinampScript& script)
      : TKDOModuleTable(owner), FModuleInfo(moduleInfo), FSettings(settings), FScript(script) {}
  // IKDOModule and the module's identifier only; other identifiers get null and E_NOINTERFACE.
  KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override;
  // New references to the eight settings into the caller's record; a null record is left alone.
  KDOResult KDO_STDCALL GetSettings(TKDOWinampControlSettings* settings) override;
  // Borrows the caller's eight texts and keeps references of the instance's own.
  KDOResult KDO_STDCALL SetSettings(TKDOWinampControlSettingsValue settings) override;
  // Operations 3 to 17: the script function of the same place, its answer into the out-parameter when given.
  KDOResult KDO_STDCALL AddFile(KDOString fileName) override;
  KDOResult KDO_STDCALL ClearPlaylist() override;
  KDOResult KDO_STDCALL GetPlaylistLength(int32_t* length) override;
  KDOResult KDO_STDCALL GetPlaylistPosition(int32_t* position) override;
  KDOResult KDO_STDCALL SetPlaylistPosition(int32_t position) override;
  KDOResult KDO_STDCALL GetPlaylistFile(int32_t position, KDOString* fileName) override;
  KDOResult KDO_STDCALL GetPlaylistTitle(int32_t position, KDOString* title) override;
  KDOResult KDO_STDCALL Play() override;
  KDOResult KDO_STDCALL Stop() override;
  KDOResult KDO_STDCALL Pause() override;
  KDOResult KDO_STDCALL Prev() override;
  KDOResult KDO_STDCALL Next() override;
  KDOResult KDO_STDCALL SetVolume(int32_t volume) override;
  KDOResult KDO_STDCALL SetShuffle(uint8_t on) override;
  KDOResult KDO_STDCALL SetRepeat(uint8_t on) override;
  // For the instance's own page only: the settings the record of eight does not carry.
  void GetExtraSettings(TKDOWinampInstanceSettings& settings) override;
  void SetExtraSettings(const TKDOWinampInstanceSettings& settings) override;

 private:
  const TKDOModuleInfo* FModuleInfo;
  TKDOWinampSettings& FSettings;
  TKDOWinampScript& FScript;
};
