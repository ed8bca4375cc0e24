// Base classes of a module instance: the reference-counted object,
// TKDOMessageObject and TKDOModuleObject, and the interface tables through
// which the server reaches them.
//
// The object keeps its operations as ordinary C++ virtuals; each interface is a
// small table object inside it that forwards to them. The tables are the
// binary boundary: every entry catches all exceptions, so none ever reaches
// the server.
#pragma once

#include <cstdint>
#include <memory>

#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"
#include "sdk/UKDOTypes.h"

class TKDOInterfacedObject {
 public:
  TKDOInterfacedObject(const TKDOInterfacedObject&) = delete;
  TKDOInterfacedObject& operator=(const TKDOInterfacedObject&) = delete;

  // Answers every interface that FindInterface knows with a new reference;
  // otherwise stores null and returns E_NOINTERFACE.
  KDOResult QueryInterface(const TGUID& iid, void** obj) noexcept;
  int32_t AddRef() noexcept;
  // Destroys the object when the count reaches 0.
  int32_t Release() noexcept;
  int32_t RefCount() const noexcept { return FRefCount; }

 protected:
  friend std::default_delete<TKDOInterfacedObject>;  // the last Release
  TKDOInterfacedObject() = default;  // count 0: no references yet
  virtual ~TKDOInterfacedObject() = default;
  // The table of an interface that this object implements, or null; no reference taken.
  virtual IInterface* FindInterface(const TGUID& iid) noexcept = 0;

 private:
  int32_t FRefCount = 0;
};

// Entries 1 to 4, common to every table of a message object.
template <class Itf, class Owner>
class TKDOSinkTable : public Itf {
 public:
  explicit TKDOSinkTable(Owner& owner) : FOwner(owner) {}
  TKDOSinkTable(const TKDOSinkTable&) = delete;
  TKDOSinkTable& operator=(const TKDOSinkTable&) = delete;

  KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override {
    return FOwner.QueryInterface(iid, obj);
  }
  int32_t KDO_STDCALL AddRef() override { return FOwner.AddRef(); }
  int32_t KDO_STDCALL Release() override { return FOwner.Release(); }
  KDOResult KDO_STDCALL ReceiveMessage(uint32_t message) override {
    return KDOGuard(kdo::text::Const<"IKDOMessageSink.ReceiveMessage">(),
                    [&] { return FOwner.ReceiveMessage(message); });
  }

 protected:
  ~TKDOSinkTable() = default;
  Owner& FOwner;
};

class TKDOMessageObject : public TKDOInterfacedObject {
 public:
  virtual KDOResult ReceiveMessage(uint32_t message);

 protected:
  TKDOMessageObject() : FSinkTable(*this) {}
  IInterface* FindInterface(const TGUID& iid) noexcept override;

 private:
  class SinkTable final : public TKDOSinkTable<IKDOMessageSink, TKDOMessageObject> {
    using TKDOSinkTable::TKDOSinkTable;
  };
  SinkTable FSinkTable;
};

// Entries 1 to 10 of IKDOModule, for any interface derived from it.
template <class Itf, class Owner>
class TKDOModuleTable : public TKDOSinkTable<Itf, Owner> {
  using Base = TKDOSinkTable<Itf, Owner>;

 public:
  using Base::Base;
  KDOResult KDO_STDCALL FillInstanceRecord(void* record) override {
    return KDOGuard(kdo::text::Const<"IKDOModule.FillInstanceRecord">(),
                    [&] { return this->FOwner.FillInstanceRecord(record); });
  }
  KDOResult KDO_STDCALL ShowConfigurationPage() override {
    return KDOGuard(kdo::text::Const<"IKDOModule.ShowConfigurationPage">(),
                    [&] { return this->FOwner.ShowConfigurationPage(); });
  }
  KDOResult KDO_STDCALL HideConfigurationPage() override {
    return KDOGuard(kdo::text::Const<"IKDOModule.HideConfigurationPage">(),
                    [&] { return this->FOwner.HideConfigurationPage(); });
  }
  KDOResult KDO_STDCALL LoadSettings() override {
    return KDOGuard(kdo::text::Const<"IKDOModule.LoadSettings">(),
                    [&] { return this->FOwner.LoadSettings(); });
  }
  KDOResult KDO_STDCALL SaveSettings() override {
    return KDOGuard(kdo::text::Const<"IKDOModule.SaveSettings">(),
                    [&] { return this->FOwner.SaveSettings(); });
  }
  int32_t KDO_STDCALL GetReferenceCount() override { return this->FOwner.RefCount(); }

 protected:
  ~TKDOModuleTable() = default;
};

class TKDOModuleObject : public TKDOMessageObject {
 public:
  // Virtual operations in slot order (ReceiveMessage is inherited).
  virtual KDOResult FillInstanceRecord(void* record);
  virtual KDOResult ShowConfigurationPage();
  virtual KDOResult HideConfigurationPage();
  virtual KDOResult LoadSettings();
  virtual KDOResult SaveSettings();

  IKDOModule* ModuleInterface() noexcept { return &FModuleTable; }

 protected:
  TKDOModuleObject() : FModuleTable(*this) {}
  IInterface* FindInterface(const TGUID& iid) noexcept override;

 private:
  class ModuleTable final : public TKDOModuleTable<IKDOModule, TKDOModuleObject> {
    using TKDOModuleTable::TKDOModuleTable;
  };
  ModuleTable FModuleTable;
};
