// The Kadovis server SDK as this module uses it: GUIDs, result codes, the
// server's interfaces with their exact table positions, the records that cross
// the boundary, and the base classes of a module instance.
//
// Interfaces are C++ abstract classes with __stdcall methods and no virtual
// destructor: on the 32-bit target that gives the component-object table
// layout (entry k of the table is the k-th declared virtual). Every interface
// declares all its own operations in order; those the module does not call are
// placeholders named ReservedN that answer E_NOTIMPL, so that own operation k
// is table entry k+4 (entries 1-3 IInterface, 4 ReceiveMessage).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "sdk/KDOText.h"

#if defined(__i386__) || defined(_M_IX86)
#define KDO_STDCALL __attribute__((stdcall))
#else
#define KDO_STDCALL  // one calling convention on the native build
#endif

// ---------------------------------------------------------------- basics

using KDOResult = int32_t;

constexpr KDOResult KDO_S_OK = 0;
constexpr KDOResult KDO_E_NOTIMPL = int32_t(0x80004001u);
constexpr KDOResult KDO_E_NOINTERFACE = int32_t(0x80004002u);
constexpr KDOResult KDO_E_FAIL = int32_t(0x80004005u);
constexpr KDOResult KDO_E_OUTOFMEMORY = int32_t(0x8007000Eu);

// Bit 31 set means failure; every other value, positive ones included, is success.
constexpr bool KDOFailed(KDOResult r) { return r < 0; }
constexpr bool KDOSucceeded(KDOResult r) { return r >= 0; }

// Windows GUID layout: 32-bit and two 16-bit fields little-endian, then 8 bytes.
struct TGUID {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];
  friend bool operator==(const TGUID& a, const TGUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};
static_assert(sizeof(TGUID) == 16);

constexpr TGUID IID_IInterface = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr TGUID IID_IKDOMessageSink = {0x4AB6071E, 0xF8D1, 0x4968, {0xA4, 0x32, 0x17, 0x75, 0x1D, 0x07, 0x1B, 0xF8}};
constexpr TGUID IID_IKDOModule = {0x551860D7, 0x8E44, 0x430B, {0x8C, 0x44, 0xCB, 0xB5, 0xAA, 0x70, 0x84, 0x70}};
constexpr TGUID IID_IKDOKernel = {0xBCB79E07, 0x1AA9, 0x42B1, {0xB1, 0x54, 0xED, 0xC5, 0xAF, 0xB5, 0x0D, 0x37}};
constexpr TGUID IID_IKDOSettings = {0x2058C7E1, 0xD444, 0x4EB1, {0xB6, 0x7A, 0xFD, 0x48, 0xDB, 0xA7, 0xD0, 0x6F}};
constexpr TGUID IID_IKDOInstanceControl = {0x0D8CEA36, 0xDFA4, 0x4576, {0xAC, 0xC8, 0x56, 0x75, 0x04, 0x2D, 0x75, 0x99}};
constexpr TGUID IID_IKDOVariableManager = {0x5528E859, 0x0D7D, 0x41CE, {0x9E, 0x82, 0xD7, 0xCF, 0x50, 0x22, 0x8A, 0x5B}};
constexpr TGUID IID_IKDOEventScripter = {0xED275B5F, 0x4944, 0x4B37, {0x92, 0x0F, 0x49, 0x8C, 0x1A, 0xFF, 0xB1, 0x4F}};
constexpr TGUID IID_IKDODebugServer = {0xCA3F512F, 0xB1FB, 0x4D2E, {0x94, 0xD8, 0x47, 0xC4, 0x13, 0x95, 0x55, 0xB7}};

// Log types.
constexpr int32_t KDO_LOG_LIFECYCLE = 10021;
constexpr int32_t KDO_LOG_NO_SERVICE = 10024;

// Script type codes (parameter descriptions, result types, variable filter bits).
constexpr uint8_t KDO_TYPE_BOOLEAN = 0;
constexpr uint8_t KDO_TYPE_INTEGER = 1;
constexpr uint8_t KDO_TYPE_STRING = 3;

#define KDO_RESERVED(n) \
  virtual KDOResult KDO_STDCALL Reserved##n() { return KDO_E_NOTIMPL; }

// ---------------------------------------------------------------- interfaces

class IInterface {
 public:
  virtual KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) = 0;
  virtual int32_t KDO_STDCALL AddRef() = 0;
  virtual int32_t KDO_STDCALL Release() = 0;

 protected:
  ~IInterface() = default;
};

class IKDOMessageSink : public IInterface {
 public:
  virtual KDOResult KDO_STDCALL ReceiveMessage(uint32_t message) = 0;

 protected:
  ~IKDOMessageSink() = default;
};

struct TKDOModuleInstance;

class IKDOModule : public IKDOMessageSink {
 public:
  virtual KDOResult KDO_STDCALL FillInstanceRecord(void* record) = 0;  // 1
  virtual KDOResult KDO_STDCALL ShowConfigurationPage() = 0;           // 2
  virtual KDOResult KDO_STDCALL HideConfigurationPage() = 0;           // 3
  virtual KDOResult KDO_STDCALL LoadSettings() = 0;                    // 4
  virtual KDOResult KDO_STDCALL SaveSettings() = 0;                    // 5
  virtual int32_t KDO_STDCALL GetReferenceCount() = 0;                 // 6

 protected:
  ~IKDOModule() = default;
};

class IKDOKernel : public IKDOMessageSink {
 public:
  KDO_RESERVED(1)
  KDO_RESERVED(2)
  KDO_RESERVED(3)
  virtual KDOResult KDO_STDCALL LogMessage(int32_t type, KDOString sender, KDOString message) = 0;  // 4
  KDO_RESERVED(5)
  KDO_RESERVED(6)
  KDO_RESERVED(7)
  KDO_RESERVED(8)

 protected:
  ~IKDOKernel() = default;
};

// A settings path: the address of an array of texts and the index of its last element.
class IKDOSettings : public IKDOMessageSink {
 public:
  KDO_RESERVED(1)
  KDO_RESERVED(2)
  KDO_RESERVED(3)
  KDO_RESERVED(4)
  KDO_RESERVED(5)
  KDO_RESERVED(6)
  KDO_RESERVED(7)
  KDO_RESERVED(8)
  virtual KDOResult KDO_STDCALL WriteSettingString(uint32_t id, const KDOString* path, int32_t pathHigh,
                                                   KDOString name, KDOString value) = 0;  // 9
  KDO_RESERVED(10)
  KDO_RESERVED(11)
  KDO_RESERVED(12)
  virtual KDOResult KDO_STDCALL ReadSettingString(uint32_t id, const KDOString* path, int32_t pathHigh,
                                                  KDOString name, KDOString* value) = 0;  // 13
  KDO_RESERVED(14)
  KDO_RESERVED(15)
  KDO_RESERVED(16)
  KDO_RESERVED(17)
  KDO_RESERVED(18)
  KDO_RESERVED(19)
  KDO_RESERVED(20)
  KDO_RESERVED(21)
  KDO_RESERVED(22)
  KDO_RESERVED(23)
  KDO_RESERVED(24)
  KDO_RESERVED(25)
  KDO_RESERVED(26)

 protected:
  ~IKDOSettings() = default;
};

class IKDOInstanceControl : public IKDOMessageSink {
 public:
  // The module GUID travels by value: 16 bytes on the stack.
  virtual KDOResult KDO_STDCALL CreateInstance(TGUID moduleId, TKDOModuleInstance* instance,
                                               uint32_t reserved) = 0;  // 1
  virtual KDOResult KDO_STDCALL DeleteInstance(uint32_t id) = 0;        // 2
  KDO_RESERVED(3)
  KDO_RESERVED(4)
  KDO_RESERVED(5)
  KDO_RESERVED(6)
  KDO_RESERVED(7)
  KDO_RESERVED(8)
  KDO_RESERVED(9)
  KDO_RESERVED(10)
  KDO_RESERVED(11)
  KDO_RESERVED(12)
  KDO_RESERVED(13)
  KDO_RESERVED(14)

 protected:
  ~IKDOInstanceControl() = default;
};

// Booleans are one byte, 0 false and 1 true; passed by value in the low byte.
class IKDOVariableManager : public IKDOMessageSink {
 public:
  KDO_RESERVED(1)
  KDO_RESERVED(2)
  virtual KDOResult KDO_STDCALL ReadVariableBoolean(KDOString ident, uint8_t* value) = 0;  // 3
  virtual KDOResult KDO_STDCALL WriteVariableBoolean(KDOString ident, uint8_t value) = 0;  // 4
  virtual KDOResult KDO_STDCALL ReadVariableInteger(KDOString ident, int32_t* value) = 0;  // 5
  virtual KDOResult KDO_STDCALL WriteVariableInteger(KDOString ident, int32_t value) = 0;  // 6
  KDO_RESERVED(7)
  KDO_RESERVED(8)
  virtual KDOResult KDO_STDCALL ReadVariableString(KDOString ident, KDOString* value) = 0;  // 9
  virtual KDOResult KDO_STDCALL WriteVariableString(KDOString ident, KDOString value) = 0;  // 10
  KDO_RESERVED(11)
  KDO_RESERVED(12)
  KDO_RESERVED(13)
  KDO_RESERVED(14)
  KDO_RESERVED(15)
  KDO_RESERVED(16)
  KDO_RESERVED(17)
  KDO_RESERVED(18)
  KDO_RESERVED(19)
  KDO_RESERVED(20)

 protected:
  ~IKDOVariableManager() = default;
};

// One parameter description: 8 bytes, name at 0, type code at 4.
struct TKDONamedVarType {
  KDOString Name;
  uint8_t VarType;
  uint8_t Unused[3];
};

// One script value: 20 bytes on the 32-bit target.
struct TKDOPHPParameter {
  uint32_t Unused0;
  uint8_t BoolValue;  // 0 false, anything else true; written as 0 or 1
  uint8_t Unused5[3];
  int32_t IntValue;
  uint32_t Unused12;
  KDOString StringValue;
};

// Handler calling form (the server's side of it is ours to define): the server
// calls the registered code address with five 32-bit stdcall arguments, in
// this order: the registered object address; the function name (a counted
// text); the parameter values, the address of the first element of a counted
// dynamic array of TKDOPHPParameter (length at -4, reference count at -8; null
// when there are none); the address of the result record; the instance
// identifier, which the handler may ignore. In-texts of the call are borrowed;
// the handler assigns the result's StringValue as an out-text.
using TKDOFunctionHandler = void(KDO_STDCALL*)(void* object, KDOString name, TKDOPHPParameter* params,
                                               TKDOPHPParameter* result, uint32_t id);

// Element count of a counted parameter array (0 for null).
inline int32_t KDOParamCount(const TKDOPHPParameter* params) {
  if (!params) return 0;
  int32_t n;
  std::memcpy(&n, reinterpret_cast<const char*>(params) - 4, sizeof n);
  return n;
}

class IKDOEventScripter : public IKDOMessageSink {
 public:
  KDO_RESERVED(1)
  KDO_RESERVED(2)
  KDO_RESERVED(3)
  KDO_RESERVED(4)
  KDO_RESERVED(5)
  KDO_RESERVED(6)
  KDO_RESERVED(7)
  KDO_RESERVED(8)
  KDO_RESERVED(9)
  KDO_RESERVED(10)
  KDO_RESERVED(11)
  // params: an array of descriptions and its last index (-1 for none);
  // handler: code address, then object address.
  virtual KDOResult KDO_STDCALL RegisterFunction(KDOString name, const TKDONamedVarType* params, int32_t paramsHigh,
                                                 int32_t resultType, TKDOFunctionHandler code, void* object,
                                                 uint32_t id) = 0;                 // 12
  virtual KDOResult KDO_STDCALL UnregisterFunction(KDOString name, uint32_t id) = 0;  // 13
  KDO_RESERVED(14)
  KDO_RESERVED(15)
  KDO_RESERVED(16)
  KDO_RESERVED(17)

 protected:
  ~IKDOEventScripter() = default;
};

class IKDODebugServer : public IKDOMessageSink {
 public:
  KDO_RESERVED(1)
  virtual KDOResult KDO_STDCALL SendDebug(uint32_t id, KDOString message, KDOString data) = 0;  // 2

 protected:
  ~IKDODebugServer() = default;
};

#undef KDO_RESERVED

// ---------------------------------------------------------------- records

// Filled by IKDOInstanceControl::CreateInstance.
struct TKDOModuleInstance {
  uint16_t InstanceID;
  uint16_t Reserved;
  IKDOModule* Module;  // counted; null before the call, released by the record's holder
  uint8_t ServerData[336];
};

using TKDOOnRegister = KDOResult(KDO_STDCALL*)(IKDOKernel* kernel);
using TKDOOnUnregister = KDOResult(KDO_STDCALL*)();
using TKDOOnCreateInstance = KDOResult(KDO_STDCALL*)(uint32_t instanceId, IKDOModule** instance);
using TKDOModuleInfoProc = KDOResult(KDO_STDCALL*)(const struct TKDOModuleInfo** info);

struct TKDOModuleInfo {
  TGUID ModuleID;
  TGUID InterfaceID;
  int32_t ModuleType;
  uint8_t Reserved[80];
  KDOString Author;
  KDOString WebAddress;
  KDOString ModuleName;
  KDOString Description;
  uint32_t Version;
  double Date;  // days since 1899-12-30
  int32_t Build;
  TKDOOnRegister OnRegister;
  TKDOOnUnregister OnUnregister;
  TKDOOnCreateInstance OnCreateInstance;
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(void*) == 4);
static_assert(sizeof(TKDOModuleInfo) == 160);
static_assert(offsetof(TKDOModuleInfo, ModuleType) == 32);
static_assert(offsetof(TKDOModuleInfo, Reserved) == 36);
static_assert(offsetof(TKDOModuleInfo, Author) == 116);
static_assert(offsetof(TKDOModuleInfo, ModuleName) == 124);
static_assert(offsetof(TKDOModuleInfo, Version) == 132);
static_assert(offsetof(TKDOModuleInfo, Date) == 136);
static_assert(offsetof(TKDOModuleInfo, Build) == 144);
static_assert(offsetof(TKDOModuleInfo, OnRegister) == 148);
static_assert(offsetof(TKDOModuleInfo, OnCreateInstance) == 156);
static_assert(sizeof(TKDOModuleInstance) == 344);
static_assert(offsetof(TKDOModuleInstance, Module) == 4);
static_assert(sizeof(TKDONamedVarType) == 8);
static_assert(offsetof(TKDONamedVarType, VarType) == 4);
static_assert(sizeof(TKDOPHPParameter) == 20);
static_assert(offsetof(TKDOPHPParameter, BoolValue) == 4);
static_assert(offsetof(TKDOPHPParameter, IntValue) == 8);
static_assert(offsetof(TKDOPHPParameter, StringValue) == 16);
#endif

// ---------------------------------------------------------------- counted references

// Owns one counted reference to an interface.
template <class I>
class TKDORef {
 public:
  TKDORef() noexcept = default;
  TKDORef(std::nullptr_t) noexcept {}
  // Takes a new reference.
  explicit TKDORef(I* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  TKDORef(const TKDORef& o) noexcept : TKDORef(o.p_) {}
  TKDORef(TKDORef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  TKDORef& operator=(TKDORef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~TKDORef() { reset(); }

  // Adopts a reference that the caller already owns.
  static TKDORef Adopt(I* p) noexcept {
    TKDORef r;
    r.p_ = p;
    return r;
  }
  void reset() noexcept {
    if (I* p = std::exchange(p_, nullptr)) p->Release();
  }
  I* get() const noexcept { return p_; }
  I* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // For out-parameters: releases what is held and gives the slot's address.
  void** put() noexcept {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  I* detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  I* p_ = nullptr;
};
