// This library's module handle, found from an address inside it: its resources, the instance its
// window classes belong to, and the module an answer's reference is held on.
#pragma once

#include <windows.h>

namespace platform::win32 {

HMODULE ThisModule();

}  // namespace platform::win32
