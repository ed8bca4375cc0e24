#include "module/Device.WinampControl.h"

#include <bit>
#include <memory>

#include "control/Version.h"
#include "instance/Device.WinampControl_Interface.h"
#include "sdk/KDOObjects.h"

namespace {

constexpr kdo::text::Constant kAuthor(WAC_AUTHOR);
constexpr kdo::text::Constant kWebAddress("https://kadovis.example/modules/winamp-control");
constexpr kdo::text::Constant kModuleName(WAC_MODULE_NAME);
constexpr kdo::text::Constant kDescription(WAC_DESCRIPTION);
constexpr kdo::text::Constant kRegister("Register");
constexpr kdo::text::Constant kUnregister("Unregister");
constexpr kdo::text::Constant kCreating("Creating new Instance...");

// The module-wide kernel: set by OnRegister, emptied by OnUnregister and at unload.
TKDORef<IKDOKernel> GKernel;

// A guard's report of an exception it caught: one debug line naming the entry.
// Constant texts and counted references only, so that it works when memory ran out.
constexpr kdo::text::Constant kException("EXCEPTION");
void ReportCaught(KDOString entry) noexcept {
  if (!GKernel) return;
  TKDORef<IKDODebugServer> debug;
  if (KDOSucceeded(GKernel->QueryInterface(IID_IKDODebugServer, debug.put())) && debug)
    debug->SendDebug(0, kException.get(), entry);
}

void LogModule(IKDOKernel* kernel, KDOString text) noexcept {
  if (kernel) kernel->LogMessage(KDO_LOG_LIFECYCLE, kModuleName.get(), text);
}

KDOResult KDO_STDCALL OnRegister(IKDOKernel* kernel) noexcept {
  return KDOGuard(kdo::text::Const<"OnRegister">(), KDO_S_OK, [&] {
    GKernel = TKDORef<IKDOKernel>(kernel);  // releases a kernel held from an earlier call
    GKDOGuardReport = kernel ? &ReportCaught : nullptr;
    LogModule(kernel, kRegister.get());
    return KDO_S_OK;
  });
}

KDOResult KDO_STDCALL OnUnregister() noexcept {
  return KDOGuard(kdo::text::Const<"OnUnregister">(), KDO_S_OK, [&] {
    LogModule(GKernel.get(), kUnregister.get());
    GKDOGuardReport = nullptr;
    GKernel.reset();
    return KDO_S_OK;
  });
}

// Without a kernel (never registered) or without an answer variable no instance is made.
KDOResult KDO_STDCALL OnCreateInstance(uint32_t instanceId, IKDOModule** instance) noexcept {
  return KDOGuard(kdo::text::Const<"OnCreateInstance">(), [&] {
    if (!instance || !GKernel) return KDO_E_FAIL;
    LogModule(GKernel.get(), kCreating.get());
    auto object = std::make_unique<TKDOWinampControl>(GKernel.get(), uint16_t(instanceId & 0xFFFFu),
                                                      &WinampControlModuleInfo());
    // From here the object's life is its reference count.
    TKDORef<IKDOModule> local(object.release()->ModuleInterface());
    if (!local) return KDO_E_FAIL;
    KDOResult r = local->QueryInterface(IID_IKDOModule, reinterpret_cast<void**>(instance));
    return KDOSucceeded(r) ? KDO_S_OK : KDO_E_FAIL;
  });
}

// 38418.3156009954: 2005-03-07 07:34:27.926, exactly as stored.
constexpr double kBuildDate = std::bit_cast<double>(0x40E2C24A1967423AULL);

// Constant-initialised: complete when the library is loaded, no code runs for it.
constinit const TKDOModuleInfo kModuleInfo = {
    /*ModuleID*/ IID_IKDOWinampControl,  // the module is known by its instances' interface
    /*InterfaceID*/ IID_IKDOWinampControl,
    /*ModuleType*/ 3,
    /*Reserved*/ {},
    /*Author*/ kAuthor.get(),
    /*WebAddress*/ kWebAddress.get(),
    /*ModuleName*/ kModuleName.get(),
    /*Description*/ kDescription.get(),
    /*Version*/ (WAC_VERSION_MAJOR << 16) | (WAC_VERSION_MINOR << 8) | WAC_VERSION_RELEASE,
    /*Date*/ kBuildDate,
    /*Build*/ WAC_VERSION_BUILD,
    /*OnRegister*/ &OnRegister,
    /*OnUnregister*/ &OnUnregister,
    /*OnCreateInstance*/ &OnCreateInstance,
};

}  // namespace

const TKDOModuleInfo& WinampControlModuleInfo() noexcept { return kModuleInfo; }

extern "C" KDOResult KDO_STDCALL KDOModuleInfo(const TKDOModuleInfo** info) {
  if (info) *info = &kModuleInfo;
  return KDO_S_OK;
}
