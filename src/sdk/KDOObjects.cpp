#include "sdk/KDOObjects.h"

#include <cstring>
#include <memory>

KDOResult TKDOInterfacedObject::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (!obj) return KDO_E_NOINTERFACE;
  IInterface* found = FindInterface(iid);
  if (!found) {
    *obj = nullptr;
    return KDO_E_NOINTERFACE;
  }
  found->AddRef();
  *obj = found;
  return KDO_S_OK;
}

int32_t TKDOInterfacedObject::AddRef() noexcept { return ++FRefCount; }

int32_t TKDOInterfacedObject::Release() noexcept {
  int32_t n = --FRefCount;
  if (n == 0) {
    // References taken and dropped while the destructor runs must not reach 0 again.
    FRefCount = 1 << 30;
    std::unique_ptr<TKDOInterfacedObject> last(this);  // the last reference owned the object
  }
  return n;
}

KDOResult TKDOMessageObject::ReceiveMessage(uint32_t) { return KDO_E_FAIL; }

IInterface* TKDOMessageObject::FindInterface(const TGUID& iid) noexcept {
  if (iid == IID_IInterface || iid == IID_IKDOMessageSink) return &FSinkTable;
  return nullptr;
}

KDOResult TKDOModuleObject::FillInstanceRecord(void* record) {
  if (!record) return KDO_E_FAIL;
  std::memset(static_cast<char*>(record) + 8, 0, 8);  // the two 32-bit fields at 8 and 12
  return KDO_S_OK;
}

KDOResult TKDOModuleObject::ShowConfigurationPage() { return KDO_E_NOTIMPL; }
KDOResult TKDOModuleObject::HideConfigurationPage() { return KDO_E_NOTIMPL; }
KDOResult TKDOModuleObject::LoadSettings() { return KDO_E_NOTIMPL; }
KDOResult TKDOModuleObject::SaveSettings() { return KDO_E_NOTIMPL; }

IInterface* TKDOModuleObject::FindInterface(const TGUID& iid) noexcept {
  if (iid == IID_IKDOModule) return &FModuleTable;
  return TKDOMessageObject::FindInterface(iid);
}
