// The control instance: one per configured "Winamp Control" instance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "instance/Device.WinampControl_Types.h"
#include "platform/Platform.h"
#include "sdk/KDOObjects.h"

class TWinAmpControl;
class TfrmPropertyPage;

// Where the next status poll goes on (a text item's answers so far included),
// and the rest it owes the thread: three times the last poll's sending time.
struct TStatusPollProgress {
  uint8_t Step = 0;
  int32_t Index = 0;
  int32_t Length = 0;
  uint32_t EndedAt = 0;
  uint32_t RestMs = 0;
};

class TKDOWinampControl final : public TKDOModuleObject {
 public:
  TKDOWinampControl(IKDOKernel* kernel, uint16_t instanceId, const TKDOModuleInfo* moduleInfo);
  ~TKDOWinampControl() override;

  IKDOWinampControl* ControlInterface() noexcept { return &FControlTable; }
  uint16_t InstanceID() const noexcept { return FInstanceID; }

  // IKDOModule virtual operations.
  KDOResult ShowConfigurationPage() override;
  KDOResult HideConfigurationPage() override;
  KDOResult LoadSettings() override;
  KDOResult SaveSettings() override;

  // IKDOWinampControl operations; each returns 0.
  KDOResult GetSettings(TKDOWinampControlSettings& settings);
  KDOResult SetSettings(const TKDOWinampControlSettings& settings);
  KDOResult AddFile(std::string_view fileName);
  KDOResult ClearPlaylist();
  KDOResult GetPlaylistLength(int32_t& length);
  KDOResult GetPlaylistPosition(int32_t& position);
  KDOResult SetPlaylistPosition(int32_t position);
  KDOResult GetPlaylistFile(int32_t position, TKDOText& fileName);
  KDOResult GetPlaylistTitle(int32_t position, TKDOText& title);
  KDOResult Play();
  KDOResult Stop();
  KDOResult Pause();
  KDOResult Prev();
  KDOResult Next();
  KDOResult SetVolume(int32_t volume);
  KDOResult SetShuffle(bool on);
  KDOResult SetRepeat(bool on);

  // Script-only operations beyond IKDOWinampControl, whose published table stays as it is.
  KDOResult GetPlayState(int32_t& state);
  KDOResult GetTrackPosition(int32_t& seconds);
  KDOResult GetTrackLength(int32_t& seconds);
  KDOResult SetTrackPosition(int32_t seconds, bool& moved);

  // Through IKDOWinampControl: only IKDOModule and the module's own identifier.
  KDOResult ControlQueryInterface(const TGUID& iid, void** obj) noexcept;

  // The script-function handler: runs the function of that name with the
  // first parameter value and fills the result record.
  void HandlePHPFunction(KDOString name, const TKDOPHPParameter* params, TKDOPHPParameter* result);
  // Runs the script function of that row (IKDOWinampControl's operation 3 is row 0):
  // its debug line, then its operation with `arg` (when it takes one) into `result`.
  void RunFunction(std::size_t row, const TKDOPHPParameter* arg, TKDOPHPParameter& result);
  // The status timer's tick: mirrors the bound player into the chosen variables
  // when the poll's pace allows (PollPlayer is one poll whatever the pace).
  void StatusPoll();
  void PollPlayer();

 protected:
  IInterface* FindInterface(const TGUID& iid) noexcept override;

 public:
  // The IKDOWinampControl table: forwards to the operations above.
  class ControlTable final : public TKDOModuleTable<IKDOWinampControl, TKDOWinampControl> {
   public:
    using TKDOModuleTable::TKDOModuleTable;
    KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override;
    KDOResult KDO_STDCALL GetSettings(TKDOWinampControlSettings* settings) override;
    KDOResult KDO_STDCALL SetSettings(TKDOWinampControlSettingsValue settings) override;
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
  };

 private:
  std::string LogSender() const;
  void Log(int32_t type, std::string_view text) noexcept;
  void Debug(KDOString message, KDOString data = nullptr);
  KDOResult Command(void (TWinAmpControl::*command)());
  KDOResult Query(int32_t (TWinAmpControl::*query)(), int32_t& answer);
  KDOResult ReadEntry(int32_t position, void (TWinAmpControl::*read)(int32_t, std::string&), TKDOText& text);
  KDOResult Switch(bool on, void (TWinAmpControl::*onCommand)(), void (TWinAmpControl::*offCommand)(),
                   const TKDOText& variable);
  void ApplySettings();
  void ObtainServices();
  void RegisterFunctions();
  void UnregisterFunctions();

  void WriteMirrored(const TKDOSettingsKey& row, KDOString ident, int32_t number, std::string_view text);
  void UpdateStringVariable(KDOString ident, std::string_view text);
  void UpdateIntegerVariable(KDOString ident, int32_t value);
  void UpdateBooleanVariable(KDOString ident, bool value);

  TKDORef<IKDOKernel> FKernel;
  TKDORef<IKDOSettings> FSettingsStore;
  TKDORef<IKDOInstanceControl> FInstanceControl;
  TKDORef<IKDOVariableManager> FVariableManager;
  TKDORef<IKDOEventScripter> FEventScripter;
  TKDORef<IKDODebugServer> FDebugServer;
  const TKDOModuleInfo* FModuleInfo;
  TKDOWinampControlSettings FSettings;
  uint16_t FInstanceID;
  std::shared_ptr<TfrmPropertyPage> FConfigurationForm;  // a running modal dialog of the form may hold it too
  std::unique_ptr<TWinAmpControl> FPlayerLink;
  std::unique_ptr<platform::Timer> FStatusTimer;
  std::string FPolledText;  // the poll's text buffer, kept between ticks so that a quiet tick allocates nothing
  TStatusPollProgress FPoll;
  ControlTable FControlTable;
};
