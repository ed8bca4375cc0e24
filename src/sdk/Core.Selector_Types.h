// The server's variable selector: a module of the server's own, reached
// through instance control. One GUID names both the module and its interface.
#pragma once

#include "sdk/UKDOTypes.h"

constexpr TGUID IID_IKDOSelector = {0x1C8663C5, 0x1DBD, 0x41DD, {0x94, 0x5A, 0xC4, 0xC8, 0x35, 0x73, 0x77, 0x33}};

// Variable type filter: bit n admits variables of type code n.
constexpr uint8_t KDO_FILTER_BOOLEAN = 1u << KDO_TYPE_BOOLEAN;
constexpr uint8_t KDO_FILTER_INTEGER = 1u << KDO_TYPE_INTEGER;
constexpr uint8_t KDO_FILTER_STRING = 1u << KDO_TYPE_STRING;
// The filter that admits variables of that one type.
constexpr uint8_t KDOTypeFilter(uint8_t type) noexcept { return uint8_t(1u << type); }

class IKDOSelector : public IKDOModule {
 public:
  // Lets the user choose a variable of the admitted types; its identifier goes into the out-text.
  virtual KDOResult KDO_STDCALL SelectVariable(uint8_t filter, KDOString* variable) = 0;  // 1

 protected:
  ~IKDOSelector() = default;
};
