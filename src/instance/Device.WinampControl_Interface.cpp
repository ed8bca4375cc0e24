#include "instance/Device.WinampControl_Interface.h"

#include <array>

#include "ui/FPropertyPage.h"
#include "winamp/WinAmp.h"

namespace {

// The services, in the order they are obtained, with the line logged when the kernel refuses one.
struct ServiceRow {
  const TGUID* IID;
  const char* Refusal;
};
constexpr std::array<ServiceRow, 5> kServices = {{
    {&IID_IKDOSettings, ">Couldn't obtain Settings Object"},
    {&IID_IKDOInstanceControl, ">Couldn't obtain InstanceControl Object"},
    {&IID_IKDOVariableManager, ">Couldn't obtain VariableManager Object"},
    {&IID_IKDOEventScripter, ">Couldn't obtain EventScripter Object"},
    {&IID_IKDODebugServer, ">Couldn't obtain DebugServer Object"},
}};

// Runs one step of destruction; a failing step must not stop the others.
template <class F>
void Step(F&& f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

}  // namespace

TKDOWinampControl::TKDOWinampControl(IKDOKernel* kernel, uint16_t instanceId, const TKDOModuleInfo* moduleInfo)
    : FKernel(kernel), FModuleInfo(moduleInfo), FInstanceID(instanceId), FControlTable(*this) {
  ObtainServices();
  RegisterFunctions();
  try {
    FPlayerLink = std::make_unique<TWinAmpControl>();
    FPlayerLink->SetWinAmpClassName("WA_KDO_" + std::to_string(FInstanceID));
    FStatusTimer = std::make_unique<platform::Timer>();
    FStatusTimer->SetInterval(250);
    FStatusTimer->SetOnTimer([this] { StatusPoll(); });
    FStatusTimer->SetEnabled(true);
    LoadSettings();
  } catch (...) {
    // The server must never call into an instance that was not made.
    UnregisterFunctions();
    throw;
  }
  Log(KDO_LOG_LIFECYCLE, "Interface Create");
}

TKDOWinampControl::~TKDOWinampControl() {
  Log(KDO_LOG_LIFECYCLE, "Interface Destroy");
  Step([&] { HideConfigurationPage(); });
  Step([&] { UnregisterFunctions(); });
  FStatusTimer.reset();
  FPlayerLink.reset();  // closes a bound player
  Step([&] { SaveSettings(); });
  FEventScripter.reset();
  FVariableManager.reset();
  FInstanceControl.reset();
  FSettingsStore.reset();
  FDebugServer.reset();
  FKernel.reset();
  FModuleInfo = nullptr;
}

void TKDOWinampControl::ObtainServices() {
  if (!FKernel) return;
  void** const slots[] = {FSettingsStore.put(), FInstanceControl.put(), FVariableManager.put(),
                          FEventScripter.put(), FDebugServer.put()};
  static_assert(std::size(slots) == kServices.size());
  for (std::size_t i = 0; i < kServices.size(); ++i) {
    if (KDOFailed(FKernel->QueryInterface(*kServices[i].IID, slots[i]))) {
      *slots[i] = nullptr;  // a refusal never leaves us holding what the kernel wrote there
      Log(KDO_LOG_NO_SERVICE, kServices[i].Refusal);
    }
  }
}

std::string TKDOWinampControl::LogSender() const {
  std::string sender = FModuleInfo ? std::string(kdo::text::View(FModuleInfo->ModuleName)) : std::string();
  return sender + " #" + std::to_string(FInstanceID);
}

void TKDOWinampControl::Debug(KDOString message, KDOString data) {
  if (FDebugServer) FDebugServer->SendDebug(FInstanceID, message, data);
}

void TKDOWinampControl::Log(int32_t type, std::string_view text) noexcept {
  Step([&] {
    if (!FKernel) return;
    TKDOText sender(LogSender());
    TKDOText message(text);
    FKernel->LogMessage(type, sender.get(), message.get());
  });
}

IInterface* TKDOWinampControl::FindInterface(const TGUID& iid) noexcept {
  if (iid == IID_IKDOWinampControl) return &FControlTable;
  return TKDOModuleObject::FindInterface(iid);
}

KDOResult TKDOWinampControl::ControlQueryInterface(const TGUID& iid, void** obj) noexcept {
  if (!obj) return KDO_E_NOINTERFACE;
  if (iid == IID_IKDOModule || (FModuleInfo && iid == FModuleInfo->ModuleID)) {
    if (KDOSucceeded(QueryInterface(iid, obj))) return KDO_S_OK;
    *obj = nullptr;
    return KDO_E_FAIL;
  }
  *obj = nullptr;
  return KDO_E_NOINTERFACE;
}

// ---------------------------------------------------------------- configuration page

// One form at most. While it exists it holds a counted reference to this
// instance, so the instance outlives the server's reference until the page is hidden.
KDOResult TKDOWinampControl::ShowConfigurationPage() {
  if (!FConfigurationForm) FConfigurationForm = std::make_shared<TfrmPropertyPage>();
  FConfigurationForm->SetWinampControl(&FControlTable);
  FConfigurationForm->SetInstanceControl(FInstanceControl.get());
  FConfigurationForm->Show();
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::HideConfigurationPage() {
  if (!FConfigurationForm) return KDO_S_OK;
  // Dropping the form's reference may be the last one but ours: keep the instance until we are done.
  TKDORef<IKDOModule> self(ModuleInterface());
  FConfigurationForm->Hide();
  FConfigurationForm->ClearWinampControl();
  FConfigurationForm.reset();
  return KDO_S_OK;
}

// ---------------------------------------------------------------- IKDOWinampControl table

using Table = TKDOWinampControl::ControlTable;

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
      own.*row.Field = TKDOText::Share(settings.*row.Value);
    return FOwner.SetSettings(own);
  });
}

namespace {

// Operation n of IKDOWinampControl (3 to 17) runs script function n - 3 with
// `arg` as its parameter value, and gives its result record.
TKDOPHPParameter Run(TKDOWinampControl& c, int operation, TKDOPHPParameter arg = {}) {
  TKDOPHPParameter result{};
  c.RunFunction(std::size_t(operation - 3), &arg, result);
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

}  // namespace

KDOResult KDO_STDCALL Table::AddFile(KDOString fileName) {
  return KDOGuard([&] { return Run(FOwner, 3, TextArg(fileName)), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::ClearPlaylist() {
  return KDOGuard([&] { return Run(FOwner, 4), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::GetPlaylistLength(int32_t* length) {
  return KDOGuard([&] {
    const int32_t n = Run(FOwner, 5).IntValue;
    if (length) *length = n;
    return KDO_S_OK;
  });
}
KDOResult KDO_STDCALL Table::GetPlaylistPosition(int32_t* position) {
  return KDOGuard([&] {
    const int32_t p = Run(FOwner, 6).IntValue;
    if (position) *position = p;
    return KDO_S_OK;
  });
}
KDOResult KDO_STDCALL Table::SetPlaylistPosition(int32_t position) {
  return KDOGuard([&] { return Run(FOwner, 7, IntArg(position)), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::GetPlaylistFile(int32_t position, KDOString* fileName) {
  return KDOGuard([&] { return TakeText(Run(FOwner, 8, IntArg(position)), fileName); });
}
KDOResult KDO_STDCALL Table::GetPlaylistTitle(int32_t position, KDOString* title) {
  return KDOGuard([&] { return TakeText(Run(FOwner, 9, IntArg(position)), title); });
}
KDOResult KDO_STDCALL Table::Play() {
  return KDOGuard([&] { return Run(FOwner, 10), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::Stop() {
  return KDOGuard([&] { return Run(FOwner, 11), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::Pause() {
  return KDOGuard([&] { return Run(FOwner, 12), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::Prev() {
  return KDOGuard([&] { return Run(FOwner, 13), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::Next() {
  return KDOGuard([&] { return Run(FOwner, 14), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::SetVolume(int32_t volume) {
  return KDOGuard([&] { return Run(FOwner, 15, IntArg(volume)), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::SetShuffle(uint8_t on) {
  return KDOGuard([&] { return Run(FOwner, 16, BoolArg(on)), KDO_S_OK; });
}
KDOResult KDO_STDCALL Table::SetRepeat(uint8_t on) {
  return KDOGuard([&] { return Run(FOwner, 17, BoolArg(on)), KDO_S_OK; });
}
