#include "instance/Device.WinampControl_Interface.h"

#include <array>
#include <vector>

#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"
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

// Where a failing step of the instance's end is reported.
constexpr KDOString kDestruction = kdo::text::Const<"the instance's destruction">();

}  // namespace

TKDOWinampControl::TKDOWinampControl(IKDOKernel* kernel, uint16_t instanceId, const TKDOModuleInfo* moduleInfo)
    : FServices{TKDORef<IKDOKernel>(kernel), {}, {}, {}, {}, {}},
      FModuleInfo(moduleInfo),
      FInstanceID(instanceId),
      FPlayerLink(std::make_unique<TWinAmpControl>()),
      // A setting's fault is logged with the type of a refused service: both ask the user to act.
      FSettings(FServices, FInstanceID, *FPlayerLink,
                [this](std::string_view text) { Log(KDO_LOG_NO_SERVICE, text); }) {
  ObtainServices();
  FAnnouncer.emplace(*FPlayerLink);
  FFade.emplace(*FPlayerLink, *FAnnouncer);
  FNight.emplace(*FPlayerLink, *FAnnouncer, *FFade);
  FTransfer.emplace(FInstanceID, *FPlayerLink, *FAnnouncer, [this](std::string_view line) { Debug("TRANSFER", line); });
  FRoom.emplace(FInstanceID, TKDOWinampRoom{*FPlayerLink, *FAnnouncer, *FTransfer, *FNight, [this](uint16_t room, std::string_view why) {
                  FTransfer->TakenBack(room, why);
                }});
  FScript.emplace(FServices, FInstanceID, *ModuleInterface(), *FPlayerLink, FSettings.Current(), *FFade, *FAnnouncer,
                  *FTransfer, *FNight);
  FControlTable.emplace(*this, FModuleInfo, FSettings, *FScript);
  try {
    FPlayerLink->SetWinAmpClassName("WA_KDO_" + std::to_string(FInstanceID));
    FStatus.emplace(FServices, *ModuleInterface(), *FPlayerLink, FSettings.Current());
    // The work on the player, in the order of its turns. While an announcement plays, the fade
    // moves the music's volume that comes back after it.
    FPacer.emplace(*ModuleInterface(), *FPlayerLink, std::vector<TKDOPacer::Turn>{
                                     {[this](const TKDOSendBudget& budget) { FFade->Tick(budget); }},
                                     {[this](const TKDOSendBudget& budget) { FNight->Tick(budget); }},
                                     {[this](const TKDOSendBudget& budget) { FAnnouncer->Tick(budget); }, 0,
                                      [this] { return FAnnouncer->Urgent(); }},
                                     {[this](const TKDOSendBudget& budget) { FTransfer->Tick(budget); },
                                      kdo::pace::kSliceMs, [this] { return FTransfer->Urgent(); }},
                                     {[this](const TKDOSendBudget& budget) { FStatus->Poll(budget); }},
                                 });
    LoadSettings();
  } catch (...) {
    // The server must never call into an instance that was not made.
    FPacer.reset();
    FControlTable.reset();
    FScript.reset();
    FRoom.reset();
    throw;
  }
  Log(KDO_LOG_LIFECYCLE, "Interface Create");
}

TKDOWinampControl::~TKDOWinampControl() {
  Log(KDO_LOG_LIFECYCLE, "Interface Destroy");
  KDOGuard(kDestruction, [&] { HideConfigurationPage(); });
  FControlTable.reset();  // nothing calls through it any more
  FPacer.reset();         // no more turns
  KDOGuard(kDestruction, [&] { FScript.reset(); });
  KDOGuard(kDestruction, [&] { FRoom.reset(); });  // ends the transfers this room takes part in
  KDOGuard(kDestruction, [&] { FTransfer.reset(); });  // its questions go before the link
  KDOGuard(kDestruction, [&] { FStatus.reset(); });
  KDOGuard(kDestruction, [&] { FNight.reset(); });
  KDOGuard(kDestruction, [&] { FFade.reset(); });
  KDOGuard(kDestruction, [&] { FAnnouncer.reset(); });  // ends the announcements without a word to the player
  KDOGuard(kDestruction, [&] { FPlayerLink.reset(); });  // closes a bound player
  KDOGuard(kDestruction, [&] { SaveSettings(); });
  FServices.EventScripter.reset();
  FServices.VariableManager.reset();
  FServices.InstanceControl.reset();
  FServices.SettingsStore.reset();
  FServices.DebugServer.reset();
  FServices.Kernel.reset();
  FModuleInfo = nullptr;
}

void TKDOWinampControl::ObtainServices() {
  if (!FServices.Kernel) return;
  void** const slots[] = {FServices.SettingsStore.put(), FServices.InstanceControl.put(),
                          FServices.VariableManager.put(), FServices.EventScripter.put(),
                          FServices.DebugServer.put()};
  static_assert(std::size(slots) == kServices.size());
  for (std::size_t i = 0; i < kServices.size(); ++i) {
    if (KDOFailed(FServices.Kernel->QueryInterface(*kServices[i].IID, slots[i]))) {
      *slots[i] = nullptr;  // a refusal never leaves us holding what the kernel wrote there
      Log(KDO_LOG_NO_SERVICE, kServices[i].Refusal);
    }
  }
}

std::string TKDOWinampControl::LogSender() const {
  std::string sender = FModuleInfo ? std::string(kdo::text::View(FModuleInfo->ModuleName)) : std::string();
  return sender + " #" + std::to_string(FInstanceID);
}

void TKDOWinampControl::Debug(std::string_view message, std::string_view data) noexcept {
  KDOGuard(kdo::text::Const<"a debug line">(), [&] {
    if (!FServices.DebugServer) return;
    const TKDOText m(message), d(data);
    FServices.DebugServer->SendDebug(FInstanceID, m.get(), d.get());
  });
}

void TKDOWinampControl::Log(int32_t type, std::string_view text) noexcept {
  KDOGuard(kdo::text::Const<"a log line">(), [&] {
    if (!FServices.Kernel) return;
    TKDOText sender(LogSender());
    TKDOText message(text);
    FServices.Kernel->LogMessage(type, sender.get(), message.get());
  });
}

IInterface* TKDOWinampControl::FindInterface(const TGUID& iid) noexcept {
  if (iid == IID_IKDOWinampControl && FControlTable) return &*FControlTable;
  return TKDOModuleObject::FindInterface(iid);
}

// ---------------------------------------------------------------- configuration page

// One form at most. While it exists it holds a counted reference to this
// instance, so the instance outlives the server's reference until the page is hidden.
KDOResult TKDOWinampControl::ShowConfigurationPage() {
  if (!FConfigurationForm) FConfigurationForm = std::make_shared<TfrmPropertyPage>();
  FConfigurationForm->SetWinampControl(&*FControlTable, &*FControlTable);
  FConfigurationForm->SetInstanceControl(FServices.InstanceControl.get());
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

// ---------------------------------------------------------------- settings

KDOResult TKDOWinampControl::LoadSettings() {
  FSettings.Load();
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::SaveSettings() {
  FSettings.Save();
  return KDO_S_OK;
}
