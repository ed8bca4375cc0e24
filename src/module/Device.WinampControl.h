// The library's export and its module descriptor.
#pragma once

#include "sdk/UKDOTypes.h"

extern "C" KDOResult KDO_STDCALL KDOModuleInfo(const TKDOModuleInfo** info);

// The static descriptor (read-only for everyone but the server's view of it).
const TKDOModuleInfo& WinampControlModuleInfo() noexcept;
