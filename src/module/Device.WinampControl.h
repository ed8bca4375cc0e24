// The library's export and its module descriptor. The server's calls from this
// export to the unload, in order: control/Device.WinampControl_Lifecycle.h.
#pragma once

#include "sdk/UKDOTypes.h"

extern "C" KDOResult KDO_STDCALL KDOModuleInfo(const TKDOModuleInfo** info);

// The static descriptor (read-only for everyone but the server's view of it).
const TKDOModuleInfo& WinampControlModuleInfo() noexcept;
