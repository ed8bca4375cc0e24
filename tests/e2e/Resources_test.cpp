// The DLL's own resources: its version and the pictures of the configuration page.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host/win32/ModuleLibrary.h"
#include "platform/win32/Resources.h"
#include "sdk/KDOText.h"

namespace {

// The version, name, maker and description are written once: the version
// resource, the descriptor the server reads and the release zip's name agree.
TEST(Resources, VersionAndNamesAgreeWithTheDescriptorAndThePackage) {
  host::ModuleLibrary lib(WAC_DLL_NAME);
  ASSERT_NE(lib.ModuleInfo(), nullptr);
  const TKDOModuleInfo* descriptor = nullptr;
  ASSERT_EQ(lib.ModuleInfo()(&descriptor), KDO_S_OK);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(WAC_DLL_NAME, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(WAC_DLL_NAME, 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
  // Descriptor: major, minor and release in one value (0x00MMmmrr), the build apart.
  EXPECT_EQ(fixed->dwFileVersionMS, ((descriptor->Version >> 16) << 16) | ((descriptor->Version >> 8) & 0xFF));
  EXPECT_EQ(fixed->dwFileVersionLS, ((descriptor->Version & 0xFF) << 16) | uint32_t(descriptor->Build));
  auto text = [&](const char* name) {
    char* value = nullptr;
    const std::string path = std::string("\\StringFileInfo\\040904E4\\") + name;
    return VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &len) ? std::string(value)
                                                                                           : std::string("<none>");
  };
  const std::string version = std::to_string(fixed->dwFileVersionMS >> 16) + "." +
                              std::to_string(fixed->dwFileVersionMS & 0xFFFF) + "." +
                              std::to_string(fixed->dwFileVersionLS >> 16) + "." +
                              std::to_string(fixed->dwFileVersionLS & 0xFFFF);
  EXPECT_EQ(text("FileVersion"), version);
  EXPECT_EQ(text("ProductVersion"), version);
  EXPECT_EQ(version, WAC_PACKAGE_VERSION) << "the release zip's name";
  EXPECT_EQ(text("ProductName"), kdo::text::View(descriptor->ModuleName));
  EXPECT_EQ(text("FileDescription"), kdo::text::View(descriptor->ModuleName));
  EXPECT_EQ(text("CompanyName"), kdo::text::View(descriptor->Author));
  EXPECT_EQ(text("Comments"), kdo::text::View(descriptor->Description));
}

TEST(Resources, GlyphsAt16_20And24PixelsIn24BitsWithTheirBottomLeftColours) {
  HMODULE dll = LoadLibraryExA(WAC_DLL_NAME, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(dll, nullptr);
  const std::pair<int, COLORREF> glyphs[] = {
      {IDB_GLYPH_APPLY, RGB(0, 128, 255)},
      {IDB_GLYPH_OK, RGB(0, 255, 0)},  // drawn on lime, its corner too: nothing stray shows there
      {IDB_GLYPH_FOLDER, RGB(255, 255, 0)},
      {IDB_GLYPH_LIST, RGB(255, 255, 255)},
  };
  for (auto [id, corner] : glyphs) {
    HRSRC res = FindResourceA(dll, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2));  // RT_BITMAP
    ASSERT_NE(res, nullptr) << id;
    const auto* bmp = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(dll, res)));
    EXPECT_EQ(bmp->biWidth, 16 + 20 + 24) << "side by side";
    EXPECT_EQ(bmp->biHeight, 24) << "bottom-up rows";
    EXPECT_EQ(bmp->biBitCount, 24);
    const auto* first = reinterpret_cast<const uint8_t*>(bmp) + bmp->biSize;  // the bottom row, blue first
    EXPECT_EQ(RGB(first[2], first[1], first[0]), corner) << id;
  }
  HRSRC icons = FindResourceA(dll, MAKEINTRESOURCEA(IDI_MODULE), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(icons, nullptr);
  const auto* group = static_cast<const uint8_t*>(LockResource(LoadResource(dll, icons)));
  const int count = group[4] | (group[5] << 8);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(group[6], 16) << "a 16 x 16 image";
  EXPECT_EQ(group[6 + 14], 32) << "and a 32 x 32 one";
  FreeLibrary(dll);
}

}  // namespace
