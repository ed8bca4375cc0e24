#include "platform/win32/GuiSupport.h"

#include <system_error>

#include "platform/win32/Resources.h"

namespace platform::win32 {

void ThrowRefused(const char* call) { throw std::system_error(int(GetLastError()), std::system_category(), call); }

WindowClass::WindowClass(const WNDCLASSEXA& wc)
    : name_(wc.lpszClassName), instance_(wc.hInstance), atom_(RegisterClassExA(&wc)) {
  if (!atom_) ThrowRefused("RegisterClassExA");
}

WindowClass::~WindowClass() {
  if (atom_) UnregisterClassA(name_, instance_);
}

int ResourceOf(Picture picture) {
  switch (picture) {
    case Picture::GlyphApply: return IDB_GLYPH_APPLY;
    case Picture::GlyphOk: return IDB_GLYPH_OK;
    case Picture::GlyphFolder: return IDB_GLYPH_FOLDER;
    case Picture::GlyphList: return IDB_GLYPH_LIST;
    case Picture::ModuleIcon: return IDI_MODULE;
    default: return 0;
  }
}

}  // namespace platform::win32
