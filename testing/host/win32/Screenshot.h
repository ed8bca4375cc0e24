// Saves what a window shows on the screen as a PNG file.
#pragma once

#include <string>

namespace host {

// `window` is an HWND. False when the window cannot be captured or the file written.
bool SaveWindowPng(void* window, const std::string& path);

}  // namespace host
